// Starts the program's window and saves one picture per page, for looking at
// the layout without clicking through it by hand.

#include "app/application.h"
#include "app/mainform.h"
#include "app/qt_text.h"
#include "common/settings_file.h"
#include "vars/varform.h"

#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv)
{
    quillon::QuillonApplication app(argc, argv);
    quillon::applyProgramLook(app);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(outDir);

    quillon::FrameOptions options;
    options.settingsPath =
        quillon::SettingsFile::defaultPathFor(quillon::localPath(QCoreApplication::applicationFilePath()));
    quillon::TfrmMain frmMain(options);
    frmMain.show();
    if (!QTest::qWaitForWindowExposed(&frmMain)) std::fprintf(stderr, "window not exposed\n");

    auto* tabs = frmMain.findChild<QTabWidget*>(QStringLiteral("pcToolSet"));
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QTest::qWait(200);
        const QString file = QStringLiteral("%1/%2-%3.png").arg(outDir).arg(i + 1).arg(tabs->widget(i)->objectName());
        if (!frmMain.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    // The variable dialog, as adding a variable shows it.
    quillon::TfrmVar frmVar(frmMain.dialogs(), &frmMain);
    frmVar.VarRecord.name = "VarName0";
    frmVar.show();
    QTest::qWait(200);
    const QString dialogFile = QStringLiteral("%1/%2-frmVar.png").arg(outDir).arg(tabs->count() + 1);
    if (!frmVar.grab().save(dialogFile)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(dialogFile));
        return 1;
    }
    std::printf("%s\n", qPrintable(dialogFile));
    return 0;
}
