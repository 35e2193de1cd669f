// Received blocks decoded into the watched variables, and the interactive
// auto-reply, driven through the page's controls with a pseudo-terminal as
// the remote device.

#include "common/settings_file.h"
#include "serial/interactive_group.h"
#include "tests/serial/serial_page_fixture.h"
#include "vars/decoding.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::test;
using vars::DisplayFormat;
using vars::VarType;

namespace {

class RowsRecorder : public vars::WatchedRowsView {
public:
    std::vector<std::vector<size_t>> calls;
    void rowsChanged(const std::vector<size_t>& rows) override { calls.push_back(rows); }
};

class DecodingPageTest : public SerialPageTest {
protected:
    RowsRecorder rows;

    void SetUp() override
    {
        SerialPageTest::SetUp();
        frame->comTestPage()->setWatchedRowsView(&rows);
    }
    const ReceiveModes& receive() { return frame->comTestPage()->session().receiveModes(); }
    vars::VarList& variables() { return frame->comTestPage()->session().watchedVariables(); }
    size_t watch(VarType type, int32_t offset, DisplayFormat format = DisplayFormat::Dec, int32_t length = 1)
    {
        vars::VarRow r;
        r.def.number = static_cast<int32_t>(variables().size());
        r.def.type = type;
        r.def.offset = offset;
        r.def.format = format;
        r.length = length;
        return variables().insert(r);
    }
    std::string value(size_t row) { return variables().row(row).value; }
    void memoryMap(const char* start)
    {
        click("rbMemMap");
        setText("leMemStart", start);
        click("btnVarApply");
        ASSERT_TRUE(dialogs.calls.empty()) << dialogs.last().text.toStdString();
    }
    QTableWidget* slaveTable() { return find<QTableWidget>("vleInteractive"); }
    void setSlaveRow(int row, const QString& key, const QString& answer)
    {
        slaveTable()->item(row, 0)->setText(key);
        slaveTable()->item(row, 1)->setText(answer);
    }
    void becomeSlave()
    {
        click("cbInteractive");
        click("cbMaster");
        ASSERT_FALSE(find<QCheckBox>("cbMaster")->isChecked());
    }
    // The button is back once the previous send has ended.
    void pressSend()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return enabled("btnSend"); }, 2000));
        click("btnSend");
    }
    QListWidget* commands() { return find<QListWidget>("clbInteractive"); }
    QStringList commandTexts()
    {
        QStringList out;
        for (int i = 0; i < commands()->count(); ++i) out << commands()->item(i)->text();
        return out;
    }
};

} // namespace

TEST_F(DecodingPageTest, MemoryMapExampleDecodesTheCharInEveryFormat)
{
    const size_t dec = watch(VarType::Char, 0x101, DisplayFormat::Dec);
    const size_t hex = watch(VarType::Char, 0x101, DisplayFormat::Hex);
    const size_t bin = watch(VarType::Char, 0x101, DisplayFormat::Bin);
    const size_t intPast = watch(VarType::Int, 0x102, DisplayFormat::Dec);
    openPort();
    memoryMap("0100");
    click("cbRcvBinary");

    // Split over two chunks: nothing until the end mark has come.
    remoteSends(bytesOf({0xA5, 0x5A, 0x10}), 3);
    EXPECT_TRUE(rows.calls.empty());
    EXPECT_EQ(value(dec), "0");
    remoteSends(bytesOf({0x20, 0x30, 0xFE, 0xDC}), 7);
    ASSERT_EQ(rows.calls.size(), 1u);
    EXPECT_EQ(rows.calls[0], (std::vector<size_t>{dec, hex, bin}));
    EXPECT_EQ(value(dec), "32");
    EXPECT_EQ(value(hex), "0x20");
    EXPECT_EQ(value(bin), "100000");
    EXPECT_EQ(value(intPast), "0");
    // The dump of the block starts at the start address.
    EXPECT_TRUE(rx().endsWith("\n00000100: 10 20 30 ")) << rx().toStdString();

    // Leading garbage: the head is the second A5, the body starts after it.
    remoteSends(bytesOf({0x00, 0xA5, 0x00, 0xA5, 0x5A, 0x07, 0x21, 0xFE, 0xDC}), 16);
    EXPECT_EQ(value(dec), "33");
    EXPECT_TRUE(rx().endsWith("\n00000100: 07 21 ")) << rx().toStdString();
}

TEST_F(DecodingPageTest, AFrameWithItsLineEndShowsTheBlockNotTheLineEnd)
{
    const size_t v = watch(VarType::Char, 0x101);
    openPort();
    memoryMap("0100");
    click("cbRcvBinary");
    remoteSends(bytesOf({0xA5, 0x5A, 0x10, 0x20, 0x30, 0xFE, 0xDC, 0x0D, 0x0A}), 9);
    EXPECT_EQ(value(v), "32");
    EXPECT_TRUE(rx().endsWith("\n00000100: 10 20 30 ")) << rx().toStdString();
    EXPECT_FALSE(rx().contains("0D 0A")) << rx().toStdString();
}

TEST_F(DecodingPageTest, IntFromTwoBytesAndAThreeDigitHeadMark)
{
    const size_t dec = watch(VarType::Int, 0, DisplayFormat::Dec);
    const size_t hex = watch(VarType::Int, 0, DisplayFormat::Hex);
    openPort();
    click("rbMemMap");
    setText("leMemHead", "A55");
    click("btnVarApply");
    EXPECT_EQ(receive().settings.headLen, 2);
    EXPECT_EQ(receive().settings.headMark[1], 0x05);
    remoteSends(bytesOf({0xA5, 0x05, 0xFE, 0xFF, 0xFE, 0xDC}), 6);
    EXPECT_EQ(value(dec), "-2");
    EXPECT_EQ(value(hex), "0xFFFFFFFE");
}

TEST_F(DecodingPageTest, FixedLengthWaitsForAChunkLongerThanTheCount)
{
    const size_t first = watch(VarType::Char, 0);
    openPort();
    click("rbMemMap");
    click("cbMemFixLength");
    EXPECT_FALSE(enabled("leMemHead"));
    EXPECT_TRUE(enabled("edMemFixLength"));
    click("btnVarApply");
    EXPECT_TRUE(receive().settings.fixedLength);
    EXPECT_EQ(receive().settings.fixedCount, 10);
    remoteSends(std::string(10, '\x01'), 10);
    EXPECT_EQ(value(first), "0");
    EXPECT_TRUE(rows.calls.empty());
    remoteSends(std::string(11, '\x02'), 21);
    EXPECT_EQ(value(first), "1");
}

TEST_F(DecodingPageTest, StringValuesShownLineByLine)
{
    openPort();
    click("rbMultiVars");
    EXPECT_TRUE(enabled("cbVarFixLength"));
    EXPECT_TRUE(enabled("leVarSplit"));
    setText("leVarSplit", "");
    click("btnVarApply");
    EXPECT_EQ(receive().settings.separator, "\r\n");
    remoteSends("12\r\n34\r\n", 8);
    EXPECT_EQ(rx(), "12\n34\n");

    // Backslash and n are two characters of a separator, not a line break.
    setText("leVarSplit", "\\n");
    click("btnVarApply");
    remoteSends("5\\n6\\n", 14);
    EXPECT_EQ(rx(), "5\n6\n");
    // A separator cut by the chunk boundary: the value waits for its end.
    remoteSends("7\\", 16);
    EXPECT_EQ(rx(), "5\n6\n");
    remoteSends("n8\\n", 20);
    EXPECT_EQ(rx(), "7\n8\n");
}

TEST_F(DecodingPageTest, ApplyReportsTheFirstBadFieldAndKeepsWhatCameBefore)
{
    click("rbMemMap");
    EXPECT_EQ(find<QLabel>("lMemStart")->text(), "内存起始地址(HEX)");
    struct Case {
        const char* field;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"leMemStart", "XYZ", "错误的起始地址!请用十六进制表示!"},
        {"leMemHead", "G1", "错误的块首标志!请用十六进制表示!"},
        {"leMemEnd", "ZZ", "错误的块尾标志!请用十六进制表示!"},
    };
    for (const Case& c : cases) {
        setText("leMemStart", "0200");
        setText("leMemHead", "A55A");
        setText("leMemEnd", "FEDC");
        setText(c.field, c.text);
        dialogs.clear();
        click("btnVarApply");
        ASSERT_EQ(dialogs.messages(), std::vector<QString>{QString::fromUtf8(c.message)});
        EXPECT_EQ(dialogs.last().caption, "错误");
        EXPECT_EQ(frame->focusWidget(), find<QWidget>(c.field));
        EXPECT_EQ(receive().mode(), DataMode::MemoryMap);
    }
    // The end mark failed last: start address and head are in.
    EXPECT_EQ(receive().settings.startAddress, 0x200);
    EXPECT_EQ(receive().settings.headLen, 2);

    click("cbMemFixLength");
    for (auto [text, message] : {std::pair{"1O", "数据长度错!十六进制前面加'0x'表示!"}, {"0", "数据长度不能为0!"}}) {
        setText("edMemFixLength", text);
        dialogs.clear();
        click("btnVarApply");
        EXPECT_EQ(dialogs.messages(), std::vector<QString>{QString::fromUtf8(message)});
        EXPECT_EQ(frame->focusWidget(), find<QWidget>("edMemFixLength"));
    }
}

TEST_F(DecodingPageTest, ModeButtonsOnlyEnableControls)
{
    EXPECT_FALSE(enabled("btnVarApply"));
    EXPECT_FALSE(enabled("leMemStart"));
    EXPECT_EQ(find<QLineEdit>("leMemHead")->maxLength(), 16);
    click("rbMemMap");
    for (auto n : {"leMemStart", "cbMemFixLength", "leMemHead", "leMemEnd", "btnVarApply"})
        EXPECT_TRUE(enabled(n)) << n;
    EXPECT_FALSE(enabled("edMemFixLength"));
    EXPECT_FALSE(enabled("cbVarFixLength"));
    click("cbMemFixLength");
    EXPECT_FALSE(enabled("leMemHead"));
    click("rbDataNormal");
    for (auto n : {"leMemStart", "cbMemFixLength", "leMemHead", "leMemEnd", "cbVarFixLength", "leVarSplit"})
        EXPECT_FALSE(enabled(n)) << n;
    EXPECT_TRUE(enabled("edMemFixLength"));
    EXPECT_TRUE(enabled("btnVarApply"));
    click("rbMultiVars");
    click("cbVarFixLength");
    EXPECT_FALSE(enabled("leVarSplit"));
    // Nothing takes effect before Apply.
    EXPECT_EQ(receive().mode(), DataMode::Normal);
    // Marks are typed in upper case.
    click("rbMemMap");
    QTest::keyClicks(find<QLineEdit>("leMemEnd"), "ab");
    EXPECT_TRUE(find<QLineEdit>("leMemEnd")->text().endsWith("AB"));
}

TEST_F(DecodingPageTest, SlaveAnswersTheFirstMatchingRowEveryHalfSecond)
{
    openPort();
    becomeSlave();
    EXPECT_FALSE(enabled("rbMemMap"));
    EXPECT_FALSE(enabled("rbMultiVars"));
    EXPECT_TRUE(slaveTable()->isVisible());
    EXPECT_FALSE(commands()->isVisible());
    click("sbInterAdd");
    ASSERT_EQ(slaveTable()->rowCount(), 2);
    setSlaveRow(0, "AT", "OK");
    setSlaveRow(1, "T", "second");
    remoteSends("xxATyy", 6);
    EXPECT_EQ(remoteGets(2, 2000), "OK");
    // Nothing new came: the same command is found again at the next quiet report.
    EXPECT_EQ(remoteGets(2, 2000), "OK");
    EXPECT_EQ(slaveTable()->currentRow(), 0);
    EXPECT_EQ(find<QPlainTextEdit>("mDataSend")->toPlainText(), "OK");

    // New reception replaces what the slave looks in.
    remoteSends("zz", 8);
    (void)remoteGets(2, 100);
    EXPECT_EQ(remoteGets(1, 1200), "");

    // Turned off: no answer, and the block modes come back.
    click("cbInteractive");
    EXPECT_TRUE(enabled("rbMemMap"));
    remoteSends("AT", 10);
    EXPECT_EQ(remoteGets(1, 1200), "");
}

TEST_F(DecodingPageTest, HexKeysWithASpaceNeverMatch)
{
    openPort();
    click("cbSendBinary");
    becomeSlave();
    setSlaveRow(0, "41 54", "4F4B");
    remoteSends("AT", 2);
    EXPECT_EQ(remoteGets(1, 1200), "");
    setSlaveRow(0, "4154", "4F4B");
    EXPECT_EQ(remoteGets(2, 2000), "OK");
}

TEST_F(DecodingPageTest, MasterLoopSendsThePressThenTheCheckedCommands)
{
    openPort();
    click("cbInteractive");
    EXPECT_TRUE(enabled("cbInterLoop"));
    typeToSend("A\nB\nC");
    click("sbInterAdd");
    ASSERT_EQ(commandTexts(), (QStringList{"A", "B", "C"}));
    commands()->item(1)->setCheckState(Qt::Checked);
    commands()->item(2)->setCheckState(Qt::Checked);
    click("cbInterLoop");
    typeToSend("P");
    click("rbTimedSend");
    setText("edTimer", "100");
    pressSend();
    const std::string sent = remoteGets(5);
    pressSend();
    EXPECT_EQ(sent.substr(0, 5), "PBCBC");

    // With nothing checked each tick resends the box unchanged.
    commands()->item(1)->setCheckState(Qt::Unchecked);
    commands()->item(2)->setCheckState(Qt::Unchecked);
    (void)remoteGets(100, 300);
    typeToSend("Q");
    pressSend();
    const std::string again = remoteGets(3);
    pressSend();
    EXPECT_EQ(again.substr(0, 3), "QQQ");
}

TEST_F(DecodingPageTest, MasterCommandsAddedReplacedAndDeleted)
{
    click("cbInteractive");
    EXPECT_FALSE(enabled("sbInterEdit"));
    typeToSend("");
    click("sbInterAdd");
    EXPECT_EQ(dialogs.messages(),
              std::vector<QString>{"请在发送数据区键入要添加的命令（每行对应一个命令），然后点击“添加”。"});
    EXPECT_EQ(frame->focusWidget(), find<QWidget>("mDataSend"));
    typeToSend("X\n\nY");
    click("sbInterAdd");
    EXPECT_EQ(commandTexts(), (QStringList{"X", "Y"}));

    // Choosing a command puts it into the send box.
    commands()->setCurrentRow(1);
    EXPECT_EQ(find<QPlainTextEdit>("mDataSend")->toPlainText(), "Y");
    EXPECT_TRUE(enabled("sbInterEdit"));
    EXPECT_TRUE(enabled("sbInterDel"));
    typeToSend("Z\nW");
    click("sbInterEdit");
    EXPECT_EQ(commandTexts(), (QStringList{"X", "Z"}));
    typeToSend("");
    dialogs.clear();
    click("sbInterEdit");
    EXPECT_EQ(dialogs.messages(),
              std::vector<QString>{"请在发送数据区键入要添加的命令（每行对应一个命令），然后点击“替换”。"});
    click("sbInterDel");
    EXPECT_EQ(commandTexts(), QStringList{"X"});
    EXPECT_FALSE(enabled("sbInterDel"));
}

TEST_F(DecodingPageTest, SavedListsComeBackAndEmptyListsKeepWhatWasSaved)
{
    {
        SettingsFile ini(settingsPath());
        ini.writeInteger("Master Command Count", "Count", 2);
        ini.writeText("Master Command List", "0", "AT");
        ini.writeText("Master Command List", "1", "ATZ");
        ini.writeInteger("Slaver Command Count", "Count", 2);
        ini.writeText("Slaver Command List", "AT", "OK");
        ini.writeText("Slaver Command List", "ATI", "Quillon");
    }
    frame.reset();
    makeFrame();
    EXPECT_EQ(commandTexts(), (QStringList{"AT", "ATZ"}));
    ASSERT_EQ(slaveTable()->rowCount(), 2);
    EXPECT_EQ(slaveTable()->item(1, 0)->text(), "ATI");
    EXPECT_EQ(slaveTable()->item(1, 1)->text(), "Quillon");

    // Empty the master list and drop a slave row, then save.
    click("cbInteractive");
    for (int i = 0; i < 2; ++i) {
        commands()->setCurrentRow(0);
        click("sbInterDel");
    }
    click("cbMaster");
    slaveTable()->setCurrentCell(1, 0);
    EXPECT_EQ(find<QPlainTextEdit>("mDataSend")->toPlainText(), "Quillon");
    click("sbInterDel");
    setSlaveRow(0, "AT", "OK2");
    click("sbInterSave");

    frame.reset();
    makeFrame();
    EXPECT_EQ(commandTexts(), (QStringList{"AT", "ATZ"}));
    ASSERT_EQ(slaveTable()->rowCount(), 2);
    EXPECT_EQ(slaveTable()->item(0, 1)->text(), "OK2");
    EXPECT_EQ(SettingsFile(settingsPath()).readInteger("Slaver Command Count", "Count", 0), 1);
}
