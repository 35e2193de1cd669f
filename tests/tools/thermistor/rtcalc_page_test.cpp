#include "tests/support/frame_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillon;
using namespace quillon::test;

namespace {

const QString kUsage = QStringLiteral("欢迎使用Quillon之 RT 转换器！使用方法：\n \n"
                                      "1. 选择所用采样电路类型，分压电阻，采样精度；\n"
                                      "2. 输入或从文件中读入数据；\n"
                                      "3. 可以将输入的数据保存供以后使用;\n"
                                      "4. 选择生成编码的使用语言(C/ASM)，选ASM时，在\n"
                                      "    旁边的编辑框内填入相应数据定义指令，默认为\n"
                                      "    DB; 以及16进制数据描述符，分前缀或后缀，如\n"
                                      "    0xFF,$FF,FFH等；\n"
                                      "5. 单击\"计算\"生成编码；\n"
                                      "6. 单击\"复制\"将编码结果拷贝到粘贴板, 一切OK！");

class RTCalcPageTest : public FrameTest {
protected:
    QTableWidget* grid = nullptr;
    QPlainTextEdit* memo = nullptr;

    void SetUp() override
    {
        makeFrame();
        frame->show();
        QApplication::setActiveWindow(frame.get());
        find<QTabWidget>("pcToolSet")->setCurrentIndex(0);
        grid = find<QTableWidget>("sgRTVal");
        memo = find<QPlainTextEdit>("mRT");
    }

    QString cell(int row, int col) const
    {
        auto* item = grid->item(row, col);
        return item ? item->text() : QString();
    }
    // Grid rows as the user sees them, below the header.
    void fill(std::initializer_list<std::pair<const char*, const char*>> rows)
    {
        grid->setRowCount(static_cast<int>(rows.size()));
        int r = 0;
        for (auto [t, v] : rows) {
            grid->setItem(r, 0, new QTableWidgetItem(QString::fromUtf8(t)));
            grid->setItem(r, 1, new QTableWidgetItem(QString::fromUtf8(v)));
            ++r;
        }
    }
    void enterAt(int row, int col)
    {
        grid->setCurrentCell(row, col);
        QTest::keyClick(grid, Qt::Key_Return);
    }
    void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    void expectError(const QString& text, MsgIcon icon = MsgIcon::Error)
    {
        ASSERT_FALSE(dialogs.calls.empty()) << text.toStdString();
        EXPECT_EQ(dialogs.last().kind, DialogCall::Message);
        EXPECT_EQ(dialogs.last().caption, "错误");
        EXPECT_EQ(dialogs.last().text, text);
        EXPECT_EQ(dialogs.last().icon, icon);
    }
};

} // namespace

TEST_F(RTCalcPageTest, StartsWithHeadersDefaultsAndUsageText)
{
    EXPECT_EQ(grid->columnCount(), 2);
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), "温度");
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "阻值(K欧)");
    EXPECT_EQ(grid->columnWidth(0), 52);
    EXPECT_EQ(grid->columnWidth(1), 118);
    EXPECT_EQ(memo->toPlainText(), kUsage);
    EXPECT_TRUE(find<QCheckBox>("cbTInc")->isChecked());
    EXPECT_EQ(find<QLineEdit>("edTStep")->text(), "1");
    EXPECT_EQ(find<QLineEdit>("edR")->text(), "22");
    for (const char* on : {"rbCir1", "rbRT8Bits", "rbRTCStyle", "rbRTPostfix"})
        EXPECT_TRUE(find<QRadioButton>(on)->isChecked()) << on;
    for (const char* off : {"edDB", "rbRTPrefix", "rbRTPostfix", "edRTFix"})
        EXPECT_FALSE(find<QWidget>(off)->isEnabled()) << off;
    EXPECT_EQ(find<QLineEdit>("edDB")->text(), "DB");
    EXPECT_EQ(find<QLineEdit>("edRTFix")->text(), "H");
    EXPECT_EQ(find<QPushButton>("btnRTCalc")->text(), "计 算");
    EXPECT_EQ(find<QPushButton>("btnRTClear")->text(), "清  除");

    memo->setPlainText("x");
    click("btnRTHelp");
    EXPECT_EQ(memo->toPlainText(), kUsage);
}

TEST_F(RTCalcPageTest, CheckBoxAndStyleRadiosEnableTheirFields)
{
    click("cbTInc");
    EXPECT_FALSE(find<QLineEdit>("edTStep")->isEnabled());
    click("cbTInc");
    EXPECT_TRUE(find<QLineEdit>("edTStep")->isEnabled());

    find<QLineEdit>("edDB")->setText(".db");
    click("rbRTASMStyle");
    for (const char* name : {"edDB", "rbRTPrefix", "rbRTPostfix", "edRTFix"})
        EXPECT_TRUE(find<QWidget>(name)->isEnabled());
    click("rbRTCStyle");
    for (const char* name : {"edDB", "rbRTPrefix", "rbRTPostfix", "edRTFix"})
        EXPECT_FALSE(find<QWidget>(name)->isEnabled());
    EXPECT_EQ(find<QLineEdit>("edDB")->text(), ".db");
}

TEST_F(RTCalcPageTest, EnterWithSteppingTypesOnlyResistances)
{
    fill({{"25", "10"}});
    enterAt(0, 1);
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(cell(1, 0), "26");
    EXPECT_EQ(grid->currentRow(), 1);
    EXPECT_EQ(grid->currentColumn(), 1);

    // Incomplete row: only the column moves.
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->currentColumn(), 1);

    // A fractional negative step replaces the next temperature, keeps its resistance.
    fill({{"25", "10"}, {"99", "7"}});
    find<QLineEdit>("edTStep")->setText("-0.5");
    enterAt(0, 1);
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(cell(1, 0), "24.5");
    EXPECT_EQ(cell(1, 1), "7");
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(RTCalcPageTest, EnterMessagesAndTheirFocus)
{
    fill({{"25", "10"}});
    find<QLineEdit>("edTStep")->setText("abc");
    grid->setFocus();
    enterAt(0, 1);
    expectError("请正确填写温度步长!");
    EXPECT_TRUE(find<QLineEdit>("edTStep")->hasFocus());
    EXPECT_EQ(grid->rowCount(), 1);

    find<QLineEdit>("edTStep")->setText("1");
    fill({{"25", "ten"}});
    enterAt(0, 1);
    expectError("请正确填写电阻值!");
    EXPECT_EQ(grid->rowCount(), 1);

    fill({{"2 5", "10"}});
    enterAt(0, 1);
    expectError("请正确填写温度值!");
    EXPECT_EQ(grid->rowCount(), 2); // appended before the temperature was read
    EXPECT_EQ(grid->currentRow(), 0);
    EXPECT_EQ(grid->currentColumn(), 0);

    find<QCheckBox>("cbTInc")->setChecked(false);
    fill({{"25", "1,5"}});
    enterAt(0, 1);
    expectError("请正确填写电阻值!");
    EXPECT_EQ(dialogs.calls.size(), 4u);
}

TEST_F(RTCalcPageTest, EnterWithoutSteppingThroughTheCellEditor)
{
    find<QCheckBox>("cbTInc")->setChecked(false);
    grid->setCurrentCell(0, 0);
    grid->setFocus();
    auto typeInCell = [&](const char* text) {
        QCoreApplication::processEvents();
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_TRUE(editor) << "no cell editor has the focus";
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
    };
    typeInCell("25");
    EXPECT_EQ(cell(0, 0), "25");
    EXPECT_EQ(grid->currentColumn(), 1);
    typeInCell("10.5");
    EXPECT_EQ(cell(0, 1), "10.5");
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->currentRow(), 1);
    EXPECT_EQ(grid->currentColumn(), 0);
    EXPECT_EQ(cell(1, 0), ""); // no stepping: nothing filled in
    typeInCell("");            // empty temperature stays put
    EXPECT_EQ(grid->currentRow(), 1);
    EXPECT_EQ(grid->currentColumn(), 0);
}

TEST_F(RTCalcPageTest, LoadKeepsRowsBelowAndSaveWritesOnlyCompleteRows)
{
    const std::string in = dir.file("in.dat");
    TempDir::writeFile(in, ",25,10.5,x\r\n25\r\n\xCE\xC2,\r\n30,8\r\n35,6"); // last line without line end
    fill({{"a", "b"}, {"c", "d"}, {"e", "f"}, {"g", "h"}});
    dialogs.fileAnswers.push_back(QString::fromStdString(in));
    click("btnRTFile");
    EXPECT_EQ(dialogs.calls[0].filter, "Data files (*.dat)|*.dat|All files (*.*)|*.*");
    EXPECT_EQ(dialogs.calls[0].defaultExt, "dat");
    ASSERT_EQ(grid->rowCount(), 4);
    EXPECT_EQ(cell(0, 0), "25");
    EXPECT_EQ(cell(0, 1), "10.5");
    EXPECT_EQ(cell(2, 1), "6");
    EXPECT_EQ(cell(3, 0), "g"); // not emptied first

    // Into a short grid: one empty row follows the loaded ones.
    click("btnRTClear");
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(cell(0, 0), "");
    dialogs.fileAnswers.push_back(QString::fromStdString(in));
    click("btnRTFile");
    EXPECT_EQ(grid->rowCount(), 4);
    EXPECT_EQ(cell(3, 0), "");

    // A gap row is left out of the file.
    fill({{" 25 ", "10.5 "}, {"26", ""}, {"温", "8"}});
    const std::string out = dir.file("out.dat");
    dialogs.fileAnswers.push_back(QString::fromStdString(out));
    click("btnRTSave");
    EXPECT_EQ(TempDir::readFile(out), "25,10.5\r\n\xCE\xC2,8\r\n");

    // Existing file: Cancel leaves it alone, OK overwrites.
    fill({{"1", "2"}});
    dialogs.clear();
    dialogs.fileAnswers.push_back(QString::fromStdString(out));
    click("btnRTSave");
    ASSERT_EQ(dialogs.calls.size(), 2u);
    EXPECT_EQ(dialogs.calls[1].kind, DialogCall::Confirm);
    EXPECT_EQ(dialogs.calls[1].caption, "文件覆盖");
    EXPECT_EQ(dialogs.calls[1].text, "文件已经存在，要覆盖它吗?");
    EXPECT_EQ(dialogs.calls[1].icon, MsgIcon::Warning);
    EXPECT_EQ(TempDir::readFile(out), "25,10.5\r\n\xCE\xC2,8\r\n");
    dialogs.fileAnswers.push_back(QString::fromStdString(out));
    dialogs.confirmAnswers.push_back(true);
    click("btnRTSave");
    EXPECT_EQ(TempDir::readFile(out), "1,2\r\n");

    // And back: a saved table loads into the same rows.
    click("btnRTClear");
    dialogs.fileAnswers.push_back(QString::fromStdString(out));
    click("btnRTFile");
    EXPECT_EQ(cell(0, 0), "1");
    EXPECT_EQ(cell(0, 1), "2");
}

TEST_F(RTCalcPageTest, FileErrorsAndCancelledDialogs)
{
    fill({{"1", "2"}});
    click("btnRTFile"); // cancelled
    click("btnRTSave");
    EXPECT_EQ(dialogs.calls.size(), 2u);
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.file("missing.dat")));
    click("btnRTFile");
    expectError("打开文件时出错!");
    EXPECT_EQ(cell(0, 0), "1");
    // A FIFO with no writer would block the open, /dev/zero would never end.
    const std::string fifo = dir.file("pipe.dat");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(60);
    for (const char* source : {fifo.c_str(), "/dev/zero"}) {
        dialogs.fileAnswers.push_back(QString::fromStdString(source));
        click("btnRTFile");
        expectError("打开文件时出错!");
    }
    alarm(0);
    EXPECT_EQ(cell(0, 0), "1");
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.file("no/dir/x.dat")));
    click("btnRTSave");
    expectError("打开文件时出错!");
    dialogs.fileAnswers.push_back(QStringLiteral("/dev/full"));
    dialogs.confirmAnswers.push_back(true);
    click("btnRTSave");
    expectError("写入文件时出错!");
}

TEST_F(RTCalcPageTest, ComputesTheWorkedExampleInEveryStyle)
{
    fill({{"25", "10"}, {"30", "8"}});
    click("btnRTCalc");
    EXPECT_EQ(memo->toPlainText(),
              "unsigned char rtTable[] = {\n\t0x0af,\t// 25.00\t\t10.0000\n\t0x0bb\t// 30.00\t\t8.0000\n};\n");
    click("rbRTASMStyle");
    EXPECT_TRUE(memo->toPlainText().startsWith("unsigned char")); // only 计 算 recomputes
    click("btnRTCalc");
    EXPECT_EQ(memo->toPlainText(), "rtTable:\n\tDB\t0afH\t; 25.00\t\t10.0000\n\tDB\t0bbH\t; 30.00\t\t8.0000\n\n");
    click("rbRTPrefix");
    find<QLineEdit>("edRTFix")->setText("0x");
    find<QLineEdit>("edDB")->setText("");
    click("btnRTCalc");
    EXPECT_EQ(memo->toPlainText().split('\n')[1], "\tDB\t0x0af\t; 25.00\t\t10.0000");

    click("Button1");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), memo->toPlainText());
    EXPECT_FALSE(memo->textCursor().hasSelection());
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(RTCalcPageTest, TenBitsSecondCircuitGapAndNegativeCodes)
{
    click("rbRT10Bits");
    click("rbCir2");
    find<QLineEdit>("edR")->setText(" 10 ");
    fill({{"-40", "90"}, {"0", "-20"}, {"5", ""}, {"10", "10"}});
    click("btnRTCalc");
    // 1023*90/100 = 920.7; -20*1023/-10 = 2046; 10*1023/20 = 511.5
    EXPECT_EQ(memo->toPlainText(), "unsigned int rtTable[] = {\n"
                                   "\t0x0398,\t// -40.00\t\t90.0000\n"
                                   "\t0x07fe\t// 0.00\t\t-20.0000\n"
                                   "\t0x01ff\t// 10.00\t\t10.0000\n"
                                   "};\n");
    click("rbCir1");
    fill({{"0", "-30"}});
    click("btnRTCalc"); // 1023*10/-20 = -511.5 -> -511
    EXPECT_EQ(memo->toPlainText().split('\n')[1], "\t0x0fffffe01\t// 0.00\t\t-30.0000");
}

TEST_F(RTCalcPageTest, CalcMessagesKeepWhatWasEmitted)
{
    auto* edR = find<QLineEdit>("edR");
    edR->setText("  ");
    click("btnRTCalc");
    expectError("请选择分压电阻值!", MsgIcon::Warning);
    EXPECT_TRUE(edR->hasFocus());
    EXPECT_EQ(memo->toPlainText(), kUsage);
    edR->setText("22k");
    click("btnRTCalc");
    expectError("请正确填写分压电阻值!");
    EXPECT_EQ(memo->toPlainText(), kUsage);

    edR->setText("22");
    fill({{"25", "10"}, {"30", "8"}, {"x", "6"}});
    grid->setCurrentCell(1, 0);
    click("btnRTCalc");
    expectError("请正确填写电阻值!");
    EXPECT_EQ(memo->toPlainText(),
              "unsigned char rtTable[] = {\n\t0x0af,\t// 25.00\t\t10.0000\n\t0x0bb,\t// 30.00\t\t8.0000");
    EXPECT_EQ(grid->currentRow(), 1);
    EXPECT_EQ(grid->currentColumn(), 1);
    EXPECT_TRUE(grid->hasFocus() || grid->isAncestorOf(QApplication::focusWidget()));

    // Rt + R = 0 reaches the application-wide message.
    dialogs.clear();
    fill({{"25", "10"}, {"30", "-22"}});
    click("btnRTCalc");
    ASSERT_EQ(dialogs.calls.size(), 1u);
    expectError("程序产生异常！请检查输入数据的合理性！");
    EXPECT_EQ(memo->toPlainText(), "unsigned char rtTable[] = {\n\t0x0af,\t// 25.00\t\t10.0000");

    fill({{"", ""}});
    click("btnRTCalc");
    EXPECT_EQ(memo->toPlainText(), "unsigned char rtTable[] = {\n};\n");
}
