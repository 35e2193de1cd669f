// "Load  Bin" of a 1 MiB file on the real HEX/BIN page: time until the memo
// holds the table.

#include "app/application.h"
#include "app/dialogs.h"
#include "app/page_host.h"
#include "tools/hexbin/hexbin_page.h"
#include "tools/hexbin/large_text_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <fstream>
#include <random>

using namespace quillon;

namespace {

struct OneFileDialogs : Dialogs {
    QString path;
    void message(const QString&, const QString& text, MsgIcon) override
    {
        std::printf("message: %s\n", qPrintable(text));
    }
    bool confirm(const QString&, const QString&, MsgIcon) override { return false; }
    std::optional<QString> openFile(const QString&, const QString&) override { return path; }
    std::optional<QString> saveFile(const QString&, const QString&) override { return path; }
    std::optional<QString> inputText(const QString&, const QString&, const QString&) override { return {}; }
};

struct Host : PageHost {
    OneFileDialogs dlg;
    void setStatusText(int, const QString&) override {}
    QString statusText(int) const override { return {}; }
    void repaintStatus() override {}
    Dialogs& dialogs() override { return dlg; }
    std::string settingsPath() const override { return {}; }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    applyProgramLook(app);
    const std::string path = "/tmp/quillon-page-bench.bin";
    std::string data(1 << 20, '\0');
    std::mt19937 rng(1);
    for (auto& c : data) c = static_cast<char>(rng());
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));

    Host host;
    host.dlg.path = QString::fromStdString(path);
    hexbin::HexBinPage page(host);
    page.show();
    auto* memo = page.findChild<hexbin::LargeTextView*>("mBinText");
    for (const char* form : {"rbHTC", "rbHTASM"}) {
        page.findChild<QAbstractButton*>(form)->click();
        QElapsedTimer t;
        t.start();
        page.btnHTLoadClick();
        app.processEvents();
        std::printf("Load  Bin, 1 MiB, %s: %lld ms, %d lines\n", form, static_cast<long long>(t.elapsed()),
                    memo->lineCount());
    }
    // Optional: a picture of the page with the table, to check the listing.
    if (argc > 1) page.grab().save(QString::fromLocal8Bit(argv[1]));
    std::remove(path.c_str());
    return 0;
}
