#include "common/codepage.h"
#include "common/settings_file.h"
#include "tests/support/frame_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

using namespace quillon;
using namespace quillon::test;

void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

const char* const k16[] = {"A1", "A2", "B", "C", "D1", "D2", "E", "F", "G1", "G2", "H", "J", "K", "L", "M", "N"};
const char* const k14[] = {"A", "B", "C", "D", "E", "F", "G1", "G2", "H", "J", "K", "L", "M", "N"};
const char* const k7[] = {"A", "B", "C", "D", "E", "F", "G"};

class LEDCoderTest : public FrameTest {
protected:
    void SetUp() override { open(); }

    void open()
    {
        makeFrame();
        frame->show();
        find<QTabWidget>("pcToolSet")->setCurrentWidget(find("LEDCoder"));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
        memo = find<QPlainTextEdit>("mLEDCode");
        list = find<QTableWidget>("vlLEDPatterns");
    }

    QLineEdit* box(int type, const char* segment)
    {
        return find<QLineEdit>(("edLED" + std::to_string(type) + segment).c_str());
    }

    // Positions 0, 1, 2 ... in segment order.
    void fillStraight(int type)
    {
        int n = type == 7 ? 7 : type == 14 ? 14 : 16;
        const char* const* names = type == 7 ? k7 : type == 14 ? k14 : k16;
        for (int i = 0; i < n; ++i) box(type, names[i])->setText(QString::number(i));
    }

    void click(const char* name) { find<QAbstractButton>(name)->click(); }

    QStringList memoLines() const { return memo->toPlainText().split(QLatin1Char('\n')); }

    void encode() { click("btnEncode"); }

    void addPattern(const QString& name)
    {
        dialogs.textAnswers.push_back(name);
        click("btnLEDSave");
    }

    // Press, release, double click, release: what a real double click delivers.
    void recall(int row)
    {
        const QPoint at = list->visualItemRect(list->item(row, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    }

    std::vector<SettingsFile::Entry> section(const char* name) const
    {
        return SettingsFile(settingsPath()).readSection(name);
    }

    QPlainTextEdit* memo = nullptr;
    QTableWidget* list = nullptr;
};

} // namespace

TEST_F(LEDCoderTest, StartsWithSevenSegmentsAndTheHelpText)
{
    EXPECT_TRUE(find<QRadioButton>("rbLED7")->isChecked());
    EXPECT_EQ(find<QRadioButton>("rbLED14")->text(), "14 segments LED");
    EXPECT_EQ(find<QRadioButton>("rbLED16")->text(), "16 segments LED");
    for (const char* s : k7) {
        EXPECT_EQ(box(7, s)->text(), "N");
        EXPECT_EQ(box(7, s)->maxLength(), 1);
        EXPECT_TRUE(box(7, s)->isEnabled());
    }
    for (const char* s : k14) EXPECT_FALSE(box(14, s)->isEnabled());
    for (const char* s : k16) {
        EXPECT_EQ(box(16, s)->maxLength(), 2);
        EXPECT_FALSE(box(16, s)->isEnabled());
    }
    EXPECT_TRUE(find<QLabel>("l7Bits")->isEnabled());
    EXPECT_FALSE(find<QLabel>("l14Bits")->isEnabled());
    EXPECT_EQ(find<QLabel>("l16Bits")->text(),
              "N     M     L     K      J     H     G2    G1    F     E     D2    D1    C     B     A2    A1");
    EXPECT_EQ(find<QLabel>("l7Bits")->text(), "G      F      E      D     C     B     A");
    EXPECT_FALSE(find<QLabel>("Image2")->pixmap().isNull());

    EXPECT_TRUE(find<QRadioButton>("rbC")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("rb8Bits")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("rbPost")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("cbLEDReverse")->isChecked());
    EXPECT_EQ(find<QCheckBox>("cbLEDReverse")->text(), "取反");
    for (const char* name : {"edLEDDB", "lDataDef", "gbHex", "edHex", "rbPre", "rbPost"})
        EXPECT_FALSE(find(name)->isEnabled()) << name;
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "方案名");
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), "方案");
    EXPECT_EQ(list->columnWidth(0), 150);

    QStringList help = memoLines();
    ASSERT_EQ(help.size(), 11);
    EXPECT_EQ(help[0], "欢迎使用Quillon之LED编码器！使用方法：");
    EXPECT_EQ(help[1], " ");
    EXPECT_EQ(help[4], "3. 选择编码数据的位数，\"4 Bits\"及\"8Bits\"，不同的编码方案");
    EXPECT_EQ(help[10], "6. 单击\"Copy\"将编码结果拷贝到粘贴板, 一切OK！");
}

TEST_F(LEDCoderTest, TypeAndLanguageSwitchesEnableTheirControls)
{
    box(16, "A1")->setText("3");
    click("rbLED16");
    for (const char* s : k16) EXPECT_TRUE(box(16, s)->isEnabled());
    for (const char* s : k7) EXPECT_FALSE(box(7, s)->isEnabled());
    EXPECT_TRUE(find<QLabel>("l16Bits")->isEnabled());
    EXPECT_FALSE(find<QLabel>("l7Bits")->isEnabled());
    EXPECT_EQ(box(16, "A1")->text(), "3");
    click("rbLED14");
    EXPECT_TRUE(box(14, "G2")->isEnabled());
    EXPECT_FALSE(box(16, "G2")->isEnabled());
    EXPECT_FALSE(find<QLabel>("l16Bits")->isEnabled());

    click("rbASM");
    for (const char* name : {"edLEDDB", "lDataDef", "gbHex", "edHex", "rbPre", "rbPost"})
        EXPECT_TRUE(find(name)->isEnabled()) << name;
    click("rbC");
    for (const char* name : {"edLEDDB", "lDataDef", "gbHex", "edHex", "rbPre", "rbPost"})
        EXPECT_FALSE(find(name)->isEnabled()) << name;
}

TEST_F(LEDCoderTest, SegmentBoxesSelectAllWhenClicked)
{
    auto* b = box(7, "C");
    b->setText("5");
    QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_EQ(b->selectedText(), "5");
    QTest::mouseClick(b, Qt::LeftButton); // a second click keeps it selected
    EXPECT_EQ(b->selectedText(), "5");
    click("rbLED16");
    auto* first = box(16, "A1");
    first->setText("12");
    box(16, "N")->setFocus();
    first->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(first->selectedText(), "12");
}

TEST_F(LEDCoderTest, SevenSegmentCodesInC)
{
    fillStraight(7);
    memo->setPlainText("old");
    encode();
    QStringList lines = memoLines();
    ASSERT_EQ(lines.size(), 20); // the header's own line feed leaves an empty line
    EXPECT_EQ(lines[0], "const unsigned char LED7Code[]={");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "\t0x3F,\t\t// 0");
    EXPECT_EQ(lines[3], "\t0x06,\t\t// 1");
    EXPECT_EQ(lines[10], "\t0x7F,\t\t// 8");
    EXPECT_EQ(lines[17], "\t0x71\t\t// F");
    EXPECT_EQ(lines[18], "};");
    EXPECT_EQ(lines[19], " ");
    const QString once = memo->toPlainText();
    encode();
    EXPECT_EQ(memo->toPlainText(), once);

    find<QCheckBox>("cbLEDReverse")->setChecked(true);
    encode();
    lines = memoLines();
    EXPECT_EQ(lines[2], "\t0xC0,\t\t// 0");
    EXPECT_EQ(lines[10], "\t0x80,\t\t// 8");

    click("rb4Bits");
    encode();
    lines = memoLines();
    EXPECT_EQ(lines[2], "\t0x00,\t\t// 0 LSB"); // 0xC0
    EXPECT_EQ(lines[3], "\t0x0C,\t\t// 0 MSB");
    EXPECT_EQ(lines[33], "\t0x08\t\t// F MSB");
}

TEST_F(LEDCoderTest, SevenSegmentCodesInAssembler)
{
    fillStraight(7);
    click("rbASM");
    encode();
    QStringList lines = memoLines();
    ASSERT_EQ(lines.size(), 18);
    EXPECT_EQ(lines[0], "LED7Code:");
    EXPECT_EQ(lines[1], "\tDB\t03FH\t\t; 0");
    EXPECT_EQ(lines[17], " ");

    click("rb4Bits");
    encode();
    EXPECT_EQ(memoLines()[1], "\tDB\t0FH\t\t; 0 LSB");
    EXPECT_EQ(memoLines()[2], "\tDB\t03H\t\t; 0 MSB");

    click("rbPre");
    find<QLineEdit>("edHex")->setText(" 0x ");
    encode();
    EXPECT_EQ(memoLines()[1], "\tDB\t0x0F\t\t; 0 LSB");

    click("rb8Bits");
    click("rbPost");
    find<QLineEdit>("edHex")->setText("H");
    find<QLineEdit>("edLEDDB")->setText("  ");
    encode();
    EXPECT_EQ(memoLines()[1], "\t\t03FH\t\t; 0");
}

TEST_F(LEDCoderTest, SevenSegmentPositionsEightAndNine)
{
    fillStraight(7);
    box(7, "A")->setText("9");
    box(7, "G")->setText("8");
    encode();
    EXPECT_EQ(memoLines()[10], "\t0x33E,\t\t// 8");
    click("rbASM");
    encode();
    EXPECT_EQ(memoLines()[9], "\tDB\t33EH\t\t; 8");
    find<QCheckBox>("cbLEDReverse")->setChecked(true);
    encode();
    EXPECT_EQ(memoLines()[9], "\tDB\t3C1H\t\t; 8"); // bits 8 and 9 keep their state
    click("rb4Bits");
    encode();
    EXPECT_EQ(memoLines()[17], "\tDB\t01H\t\t; 8 LSB");
    EXPECT_EQ(memoLines()[18], "\tDB\t0CH\t\t; 8 MSB");
}

TEST_F(LEDCoderTest, SixteenSegmentForms)
{
    click("rbLED16");
    fillStraight(16);
    click("rb4Bits");
    encode();
    QStringList lines = memoLines();
    ASSERT_EQ(lines.size(), 174);
    EXPECT_EQ(lines[0], "const unsigned char LED16Char[]={\t\t// Character Encode");
    EXPECT_EQ(lines[1], "\t0x0F,\t\t// A LSB");
    EXPECT_EQ(lines[104], "\t0x09\t\t// Z MSB");
    EXPECT_EQ(lines[105], "};");
    EXPECT_EQ(lines[107], "const unsigned char LED16Num[]={\t\t// Number Encode");
    EXPECT_EQ(lines[171], "\t0x00\t\t// F MSB");
    int withoutComma = 0;
    for (int i = 1; i <= 104; ++i) withoutComma += lines[i].startsWith("\t0x") && !lines[i].contains(',');
    EXPECT_EQ(withoutComma, 1);

    click("rb8Bits");
    find<QCheckBox>("cbLEDReverse")->setChecked(true);
    encode();
    lines = memoLines();
    EXPECT_EQ(lines[1], "\t0x30,\t\t// A LSB"); // ~0x03CF
    EXPECT_EQ(lines[2], "\t0xFC,\t\t// A MSB");
    EXPECT_EQ(lines[58], "\t0xF3,\t\t// 1 LSB"); // ~0x000C
    EXPECT_EQ(lines[59], "\t0xFF,\t\t// 1 MSB");

    find<QCheckBox>("cbLEDReverse")->setChecked(false);
    click("rbASM");
    encode();
    lines = memoLines();
    EXPECT_EQ(lines[0], "LED16Char:\t\t; Character Encode");
    EXPECT_EQ(lines[47], "\tDB\t000H\t\t; X LSB"); // X = 0xB400
    EXPECT_EQ(lines[48], "\tDB\t0B4H\t\t; X MSB");
    EXPECT_EQ(lines[54], "LED16Num:\t\t; Number Encode");
    click("rb4Bits");
    encode();
    EXPECT_EQ(memoLines()[4], "\tDB\t00H\t\t; A MSB");
}

TEST_F(LEDCoderTest, FourteenSegmentForms)
{
    click("rbLED14");
    fillStraight(14);
    encode();
    QStringList lines = memoLines();
    EXPECT_EQ(lines[0], "const unsigned char LED14Char[]={\t\t// Character Encode");
    EXPECT_EQ(lines[1], "\t0xF7,\t\t// A LSB");
    EXPECT_EQ(lines[55], "const unsigned char LED14Num[]={\t\t// Number Encode");
    EXPECT_EQ(lines[87], "\t0x00\t\t// F MSB");
    click("rb4Bits");
    encode();
    EXPECT_EQ(memoLines()[2], "\t0x0F,\t\t// A ...");
    click("rbASM");
    encode();
    EXPECT_EQ(memoLines()[0], "LED14Char:\t\t; Character Encode");
    EXPECT_EQ(memoLines()[1], "\tDB\t07H\t\t; A LSB");
    click("rb8Bits");
    encode();
    EXPECT_EQ(memoLines()[1], "\tDB\t0F7H\t\t; A LSB");
}

TEST_F(LEDCoderTest, OnlyTheSelectedTypesBoxesAreChecked)
{
    memo->setPlainText("kept");
    encode(); // every box still shows "N"
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{"请正确填写各段位置信息!"});
    EXPECT_EQ(dialogs.last().caption, "错误");
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Error);
    EXPECT_EQ(memo->toPlainText(), "kept");

    fillStraight(7); // the 14- and 16-segment boxes still hold "N"
    encode();
    EXPECT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(memoLines()[2], "\t0x3F,\t\t// 0");

    click("rbLED16");
    fillStraight(16);
    box(16, "M")->setText("16"); // would drop out of every code
    memo->setPlainText("kept");
    encode();
    EXPECT_EQ(dialogs.messages().size(), 2u);
    EXPECT_EQ(memo->toPlainText(), "kept");
    box(16, "M")->setText("");
    encode();
    EXPECT_EQ(dialogs.messages().size(), 3u);
}

TEST_F(LEDCoderTest, CopyPutsTheWholeMemoOnTheClipboard)
{
    fillStraight(7);
    encode();
    click("btnCopyTo");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), memo->toPlainText());
    EXPECT_FALSE(memo->textCursor().hasSelection());
}

TEST_F(LEDCoderTest, PatternAddRecallAndRefusals)
{
    fillStraight(7);
    addPattern("P1");
    ASSERT_EQ(dialogs.calls.size(), 1u);
    EXPECT_EQ(dialogs.calls[0].caption, "Input Pattern Name");
    EXPECT_EQ(dialogs.calls[0].text, "Please Input Pattern Name:");
    EXPECT_EQ(section("LED7 Patterns"), (std::vector<SettingsFile::Entry>{{"P1", "6543210"}}));
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 1)->text(), "6543210");

    box(7, "B")->setText("5");
    addPattern("p1"); // names are matched like the file's keys: without regard to case
    EXPECT_EQ(dialogs.messages().back(), "方案不能重名!");
    addPattern("   ");
    EXPECT_EQ(dialogs.messages().back(), "请输入方案名!");
    addPattern("a=b");
    EXPECT_EQ(dialogs.messages().size(), 3u);
    click("btnLEDSave"); // name dialog cancelled
    EXPECT_EQ(section("LED7 Patterns"), (std::vector<SettingsFile::Entry>{{"P1", "6543210"}}));
    EXPECT_EQ(list->rowCount(), 1);

    for (const char* s : k7) box(7, s)->setText("9");
    recall(0);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(box(7, k7[i])->text(), QString::number(i));

    box(7, "E")->setText("x");
    dialogs.clear();
    click("btnLEDSave");
    ASSERT_EQ(dialogs.calls.size(), 1u); // refused before asking for a name
    EXPECT_EQ(dialogs.last().caption, "Error");
    EXPECT_EQ(dialogs.last().text, "请正确填写各段位置信息!");
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Error);
}

TEST_F(LEDCoderTest, ChineseNamesAndBlanksRoundTrip)
{
    fillStraight(7);
    addPattern("  共阳数码管 ");
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text(), "共阳数码管");
    const std::string bytes = TempDir::readFile(settingsPath());
    EXPECT_NE(bytes.find(utf8ToGbk("共阳数码管=6543210")), std::string::npos);
    click("rbLED16");
    click("rbLED7");
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text(), "共阳数码管");
    dialogs.confirmAnswers.push_back(true);
    click("btnLEDDelete");
    EXPECT_TRUE(section("LED7 Patterns").empty());
}

TEST_F(LEDCoderTest, SixteenSegmentPatternAndTypeSwitch)
{
    fillStraight(7);
    addPattern("seven");
    click("rbLED16");
    EXPECT_EQ(list->rowCount(), 0);
    for (const char* s : k16) box(16, s)->setText("3");
    box(16, "A1")->setText("15");
    box(16, "N")->setText("0");
    addPattern("wide");
    EXPECT_EQ(section("LED16 Patterns"),
              (std::vector<SettingsFile::Entry>{{"wide", "0" + std::string(14, '3') + "F"}}));

    box(16, "A1")->setText("N");
    recall(0);
    EXPECT_EQ(box(16, "A1")->text(), "15");
    EXPECT_EQ(box(16, "N")->text(), "0");

    click("rbLED14");
    EXPECT_EQ(list->rowCount(), 0);
    click("rbLED7");
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text(), "seven");
}

TEST_F(LEDCoderTest, FourteenSegmentBadMapUsesTheErrorBox)
{
    click("rbLED14");
    dialogs.textAnswers.push_back("x");
    click("btnLEDSave");
    ASSERT_EQ(dialogs.calls.size(), 1u);
    EXPECT_EQ(dialogs.last().caption, "错误");
    EXPECT_EQ(dialogs.last().text, "请正确填写各段位置信息!");
}

TEST_F(LEDCoderTest, RecallOfABrokenPatternStopsAtTheBadCharacter)
{
    SettingsFile(settingsPath()).writeText("LED7 Patterns", "broken", "65Z");
    SettingsFile(settingsPath()).writeText("LED7 Patterns", "short", "654");
    frame.reset();
    open(); // start-up reads the 7-segment section
    ASSERT_EQ(list->rowCount(), 2);
    recall(0);
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{"请正确填写各段位置信息!"});
    EXPECT_EQ(box(7, "G")->text(), "6");
    EXPECT_EQ(box(7, "F")->text(), "5");
    EXPECT_EQ(box(7, "E")->text(), "N");
    recall(1);
    EXPECT_EQ(box(7, "D")->text(), "N");
    EXPECT_EQ(dialogs.messages().size(), 2u);

    // Positions above 9 do not fit a one-character box but must come back whole.
    SettingsFile(settingsPath()).writeText("LED7 Patterns", "high", "A543210");
    click("rbLED7");
    ASSERT_EQ(list->rowCount(), 3);
    recall(2);
    EXPECT_EQ(box(7, "G")->text(), "10");
    EXPECT_EQ(dialogs.messages().size(), 2u);
    encode();
    EXPECT_EQ(memoLines()[10], "\t0x43F,\t\t// 8");
}

TEST_F(LEDCoderTest, DeleteAsksFirst)
{
    click("btnLEDDelete"); // nothing to delete: no question
    EXPECT_TRUE(dialogs.calls.empty());

    fillStraight(7);
    addPattern("one");
    addPattern("two");
    list->setCurrentCell(0, 0);
    dialogs.clear();
    click("btnLEDDelete"); // cancelled
    ASSERT_EQ(dialogs.calls.size(), 1u);
    EXPECT_EQ(dialogs.last().kind, DialogCall::Confirm);
    EXPECT_EQ(dialogs.last().caption, "Delect!");
    EXPECT_EQ(dialogs.last().text, "Are you sure to delete this pattern?");
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Warning);
    EXPECT_EQ(list->rowCount(), 2);
    EXPECT_EQ(section("LED7 Patterns").size(), 2u);

    dialogs.confirmAnswers.push_back(true);
    click("btnLEDDelete");
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text(), "two");
    EXPECT_EQ(section("LED7 Patterns"), (std::vector<SettingsFile::Entry>{{"two", "6543210"}}));
}

TEST_F(LEDCoderTest, AFailedWriteLeavesNoRowBehind)
{
    std::filesystem::create_directory(settingsPath()); // cannot be replaced by a file
    fillStraight(7);
    addPattern("P1");
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{"程序产生异常！请检查输入数据的合理性！"});
    EXPECT_EQ(list->rowCount(), 0);
}
