// The plot window of the variable group, fed by real frames from a
// pseudo-terminal: curves for the watched numbers, pause, and the exports.

#include "common/codepage.h"
#include "tests/serial/serial_page_fixture.h"
#include "vars/plot_window.h"
#include "vars/var_group.h"

#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <cstring>
#include <fstream>
#include <qcustomplot.h>
#include <sstream>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::test;
using vars::VarType;

namespace {

class PlotPageTest : public SerialPageTest {
protected:
    size_t speed = 0, temp = 0, ratio = 0;
    int received = 0;

    void SetUp() override
    {
        SerialPageTest::SetUp();
        speed = watch("speed", VarType::Char, 0);
        temp = watch("温度", VarType::Int, 1);
        ratio = watch("ratio", VarType::Float, 3);
        watch("raw", VarType::Array, 0, 4);
        const size_t off = watch("off", VarType::Char, 1);
        variables().row(off).def.watched = false;
        frame->comTestPage()->varGroup()->showRows();
        openPort();
        click("rbMemMap");
        click("btnVarApply");
    }
    vars::VarList& variables() { return frame->comTestPage()->session().watchedVariables(); }
    const vars::SampleStore& store() { return frame->comTestPage()->session().samples(); }
    size_t watch(const char* name, VarType type, int32_t offset, int32_t length = 1)
    {
        vars::VarRow r;
        r.def.number = static_cast<int32_t>(variables().size());
        r.def.name = name;
        r.def.type = type;
        r.def.offset = offset;
        r.length = length;
        return variables().insert(r);
    }
    uint64_t series(size_t row) { return variables().row(row).series; }
    // One framed block as the device sends it.
    void block(uint8_t s, int16_t t, float q)
    {
        std::string b = "\xA5\x5A";
        b += static_cast<char>(s);
        b.append(reinterpret_cast<const char*>(&t), 2);
        b.append(reinterpret_cast<const char*>(&q), 4);
        b += "\xFE\xDC";
        received += static_cast<int>(b.size());
        remoteSends(b, received);
    }
    vars::PlotWindow* openPlot()
    {
        click("btnPlotVars");
        auto* w = frame->comTestPage()->varGroup()->plotWindow();
        EXPECT_TRUE(w && w->isVisible());
        return w;
    }
    QListWidget* legend() { return find<QListWidget>("lwPlotLegend"); }
    QStringList legendTexts()
    {
        QStringList out;
        for (int i = 0; i < legend()->count(); ++i) out << legend()->item(i)->text();
        return out;
    }
    vars::PlotWindow* window() { return frame->comTestPage()->varGroup()->plotWindow(); }
    std::vector<double> shownValues(int i)
    {
        std::vector<double> out;
        for (const auto& p : window()->shownPoints(i)) out.push_back(p.value);
        return out;
    }
    static std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

} // namespace

TEST_F(PlotPageTest, ACurveForEachWatchedNumberWithValuesAtTheMouse)
{
    vars::PlotWindow* w = openPlot();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("变量曲线"));
    EXPECT_FALSE(w->isModal());
    // The list's context menu and a second click bring up the same window.
    frame->findChild<QAction*>("miPlotVars")->trigger();
    click("btnPlotVars");
    EXPECT_EQ(frame->findChildren<vars::PlotWindow*>().size(), 1);

    block(7, -300, 1.5f);
    block(9, 12, -0.25f);
    ASSERT_EQ(store().count(series(speed)), 2u);
    w->redraw();
    ASSERT_EQ(w->curveCount(), 3);
    EXPECT_EQ(legendTexts(), (QStringList{"speed", "温度", "ratio"}));
    EXPECT_TRUE(find<QLabel>("lPlotArrays")->text().contains("raw"));
    EXPECT_FALSE(find<QLabel>("lPlotArrays")->text().contains("off"));
    EXPECT_EQ(shownValues(0), (std::vector<double>{7, 9}));
    EXPECT_EQ(shownValues(1), (std::vector<double>{-300, 12}));
    EXPECT_EQ(shownValues(2), (std::vector<double>{1.5, -0.25}));
    EXPECT_FALSE(store().has(variables().row(3).series)); // the array
    EXPECT_FALSE(store().has(variables().row(4).series)); // not watched

    // The mouse over the chart: every curve's value at that time.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->upToDate(); }, 2000));
    auto* plot = find<QCustomPlot>("plotVars");
    const int x = static_cast<int>(plot->xAxis->coordToPixel(*store().lastTime())) + 3;
    QTest::mouseMove(plot, QPoint(x, plot->height() / 2));
    EXPECT_EQ(legendTexts(), (QStringList{"speed = 9", "温度 = 12", "ratio = -0.25"}));
    EXPECT_TRUE(find<QLabel>("lPlotCursor")->text().startsWith(QStringLiteral("时间: ")));

    // A legend entry hides its curve; unwatching a row takes the curve away.
    legend()->item(1)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(w->curveShown(1));
    EXPECT_TRUE(w->curveShown(0));
    variables().row(speed).def.watched = false;
    w->redraw();
    EXPECT_EQ(w->curveCount(), 2);
    EXPECT_EQ(legend()->item(0)->checkState(), Qt::Unchecked); // the hidden one stays hidden
}

TEST_F(PlotPageTest, PauseFreezesTheChartWhileRecordingGoesOn)
{
    vars::PlotWindow* w = openPlot();
    block(1, 1, 1);
    w->redraw();
    ASSERT_EQ(shownValues(0), (std::vector<double>{1}));
    click("btnPlotPause");
    EXPECT_EQ(caption("btnPlotPause"), QStringLiteral("继续"));
    const long redraws = w->redraws();
    block(2, 2, 2);
    block(3, 3, 3);
    QTest::qWait(3 * vars::PlotWindow::kRedrawMs);
    EXPECT_EQ(shownValues(0), (std::vector<double>{1}));
    // The readout too stays with what is shown.
    w->showValuesAt(*store().lastTime() + 1);
    EXPECT_EQ(find<QListWidget>("lwPlotLegend")->item(0)->text(), QStringLiteral("speed = 1"));
    EXPECT_EQ(w->redraws(), redraws);
    EXPECT_EQ(store().count(series(speed)), 3u);

    click("btnPlotPause");
    EXPECT_EQ(caption("btnPlotPause"), QStringLiteral("暂停"));
    EXPECT_EQ(shownValues(0), (std::vector<double>{1, 2, 3}));
    // Following again: the timer keeps the chart current.
    block(4, 4, 4);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownValues(0).size() == 4; }, 2000));
}

TEST_F(PlotPageTest, ExportsTheStoreAsCsvAndTheChartAsPng)
{
    openPlot();
    block(7, -300, 1.5f);
    block(9, 12, 0.1f);
    const std::string csvPath = dir.file("curves.csv");
    dialogs.fileAnswers.push_back(QString::fromStdString(csvPath));
    click("btnPlotCsv");
    ASSERT_EQ(dialogs.last().kind, DialogCall::SaveFile);
    // Written on a thread of its own; the button is back when it is done.
    ASSERT_TRUE(QTest::qWaitFor([&] { return enabled("btnPlotCsv"); }, 5000));
    EXPECT_EQ(dialogs.last().defaultExt, QStringLiteral("csv"));
    std::istringstream csv(readFile(csvPath));
    std::vector<std::string> lines;
    for (std::string line; std::getline(csv, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    // Names in the program's code page, like every text file it writes.
    EXPECT_EQ(lines[0], utf8ToGbk("时间(秒),speed,温度,ratio") + "\r");
    EXPECT_EQ(lines[1].substr(lines[1].find(',')), ",7,-300,1.5\r");
    EXPECT_EQ(lines[2].substr(lines[2].find(',')), ",9,12,0.1\r");
    EXPECT_EQ(lines[1].find('.'), lines[1].find(',') - 4); // seconds with three decimals

    window()->redraw();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window()->upToDate(); }, 2000));
    const std::string pngPath = dir.file("curves.png");
    dialogs.fileAnswers.push_back(QString::fromStdString(pngPath));
    click("btnPlotPng");
    QImage png;
    ASSERT_TRUE(png.load(QString::fromStdString(pngPath), "PNG"));
    EXPECT_EQ(png.size(), find<QWidget>("pnPlotChart")->size());
    // The curves are in the picture, in their legend colours.
    QSet<QRgb> colours;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x) colours.insert(png.pixel(x, y) | 0xFF000000u);
    for (int i = 0; i < 3; ++i) {
        const QRgb swatch = legend()->item(i)->icon().pixmap(14, 14).toImage().pixel(7, 7) | 0xFF000000u;
        EXPECT_TRUE(colours.contains(swatch)) << "curve " << i;
    }

    // An existing file is replaced only when the user agrees.
    dialogs.fileAnswers.push_back(QString::fromStdString(csvPath));
    dialogs.confirmAnswers.push_back(false);
    TempDir::writeFile(csvPath, "mine");
    click("btnPlotCsv");
    EXPECT_EQ(dialogs.last().kind, DialogCall::Confirm);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("文件已经存在，要覆盖它吗?"));
    EXPECT_EQ(readFile(csvPath), "mine");
}
