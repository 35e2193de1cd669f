// Starts the program's window and saves one picture per page, for looking at
// the layout without clicking through it by hand.

#include "app/application.h"
#include "app/mainform.h"
#include "app/qt_text.h"
#include "common/settings_file.h"
#include "serial/comtest_page.h"
#include "vars/plot_window.h"
#include "vars/var_group.h"
#include "vars/varform.h"

#include <QAbstractButton>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool save(QWidget& widget, const QString& file)
{
    if (!widget.grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

// Three watched variables fed three seconds of framed blocks, so the plot
// window has three curves to show.
void feedThreeCurves(quillon::TfrmMain& frmMain)
{
    quillon::serial::ComTestPage* page = frmMain.comTestPage();
    auto& list = page->session().watchedVariables();
    const char* names[] = {"计数", "温度", "电压"};
    const quillon::vars::VarType types[] = {quillon::vars::VarType::Char, quillon::vars::VarType::Int,
                                            quillon::vars::VarType::Float};
    const int32_t offsets[] = {0, 1, 3};
    for (int i = 0; i < 3; ++i) {
        quillon::vars::VarRow row;
        row.def.number = static_cast<int32_t>(list.size());
        row.def.name = names[i];
        row.def.type = types[i];
        row.def.offset = offsets[i];
        row.def.format = quillon::vars::DisplayFormat::Dec;
        list.insert(row);
    }
    page->varGroup()->showRows();
    frmMain.findChild<QAbstractButton*>(QStringLiteral("rbMemMap"))->click();
    frmMain.findChild<QAbstractButton*>(QStringLiteral("btnVarApply"))->click();
    frmMain.findChild<QAbstractButton*>(QStringLiteral("btnPlotVars"))->click();
    for (int k = 0; k < 300; ++k) {
        const auto count = static_cast<uint8_t>(k % 100);
        const auto temp = static_cast<int16_t>(250 + 80 * std::sin(k / 30.0));
        const float volts = 3.3f + 0.4f * static_cast<float>(std::cos(k / 17.0));
        uint8_t block[11] = {0xA5, 0x5A, count};
        std::memcpy(block + 3, &temp, 2);
        std::memcpy(block + 5, &volts, 4);
        block[9] = 0xFE;
        block[10] = 0xDC;
        page->session().DeliverChunk(block);
        QTest::qWait(10);
    }
    QTest::qWait(300);
}

} // namespace

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
        if (!save(frmMain, QStringLiteral("%1/%2-%3.png").arg(outDir).arg(i + 1).arg(tabs->widget(i)->objectName())))
            return 1;
    }
    // The variable dialog, as adding a variable shows it.
    quillon::vars::TfrmVar frmVar(frmMain.dialogs(), &frmMain);
    frmVar.VarRecord.name = "VarName0";
    frmVar.show();
    QTest::qWait(200);
    if (!save(frmVar, QStringLiteral("%1/%2-frmVar.png").arg(outDir).arg(tabs->count() + 1))) return 1;
    frmVar.hide();

    feedThreeCurves(frmMain);
    auto* plot = frmMain.comTestPage()->varGroup()->plotWindow();
    // The readout of every curve at the mouse.
    auto* chart = plot->findChild<QWidget*>(QStringLiteral("plotVars"));
    QTest::mouseMove(chart, QPoint(chart->width() / 6, chart->height() / 2));
    QTest::qWait(200);
    return save(*plot, QStringLiteral("%1/%2-frmPlot.png").arg(outDir).arg(tabs->count() + 2)) ? 0 : 1;
}
