#include "tests/support/frame_fixture.h"
#include "tests/tools/hexbin/hex_help_lines.h"
#include "tests/tools/hexbin/hex_records.h"
#include "tools/hexbin/crc.h"
#include "tools/hexbin/large_text_view.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/stat.h>

using namespace quillon;
using namespace quillon::test;

namespace {

class HexBinPageTest : public FrameTest {
protected:
    void SetUp() override
    {
        makeFrame();
        frame->show();
        find<QTabWidget>("pcToolSet")->setCurrentIndex(TfrmMain::HexBinIndex);
    }
    QString q(const std::string& s) const { return QString::fromStdString(s); }
    // Near the left edge: radio buttons and check boxes only take clicks on
    // their indicator and caption.
    void click(const char* name)
    {
        auto* b = find<QAbstractButton>(name);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }
    void setFields(const std::string& source, const std::string& target)
    {
        find<QLineEdit>("edSource")->setText(q(source));
        find<QLineEdit>("edTarget")->setText(q(target));
    }
    QString crc() { return find<QLineEdit>("edHBCRC")->text(); }
    QString memo() { return find<hexbin::LargeTextView>("mBinText")->toPlainText(); }
    void expectError(const char* text)
    {
        ASSERT_FALSE(dialogs.calls.empty());
        EXPECT_EQ(dialogs.last().caption, "错误");
        EXPECT_EQ(dialogs.last().text, QString::fromUtf8(text));
        EXPECT_EQ(dialogs.last().icon, MsgIcon::Error);
    }
    void expectDone()
    {
        ASSERT_FALSE(dialogs.calls.empty());
        EXPECT_EQ(dialogs.last().caption, "结束");
        EXPECT_EQ(dialogs.last().text, "转换结束。");
        EXPECT_EQ(dialogs.last().icon, MsgIcon::Information);
    }
};

} // namespace

TEST_F(HexBinPageTest, ControlsAndDefaults)
{
    const QStringList lines = find<QPlainTextEdit>("mHexText")->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 41);
    for (int i = 0; i < 41; ++i) EXPECT_EQ(lines[i], QString::fromUtf8(kHexHelpLines[i])) << "line " << i + 1;
    EXPECT_TRUE(find<QPlainTextEdit>("mHexText")->isReadOnly());
    EXPECT_TRUE(find<QRadioButton>("rbFillFF")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("rbHBCRCCCITT")->isChecked());
    EXPECT_EQ(find<QRadioButton>("rbHBCRCCCITT")->toolTip(), "Polynomial: 0x1021");
    EXPECT_FALSE(find<QCheckBox>("cbHBCRCLSB")->isEnabled());
    EXPECT_FALSE(find<QCheckBox>("cbHBCRCAppend")->isEnabled());
    EXPECT_EQ(crc(), "0");
    EXPECT_TRUE(find<QLineEdit>("edHBCRC")->isReadOnly());
    EXPECT_EQ(find<QLineEdit>("edStartAddress")->text(), "0000");
    EXPECT_EQ(find<QPushButton>("btnHTLoad")->text(), "Load  Bin");
    EXPECT_EQ(find<QPushButton>("btnLoadHex")->text(), "Load  Hex");
    EXPECT_EQ(find<QLabel>("lHTNote")->text(), "HEX/BIN To Text 主要用于EEPRPM数据，故默认为连续地址空间！");
    EXPECT_TRUE(find<QRadioButton>("rbHTC")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("rbHTPost")->isChecked());

    // The assembler options follow the form choice; the LSB box follows CRC-32.
    const char* asmControls[] = {"edHTDB", "lHTDB", "gbHTHex", "edHTFix", "rbHTPre", "rbHTPost"};
    click("rbHTASM");
    for (auto* name : asmControls) EXPECT_TRUE(find(name)->isEnabled()) << name;
    click("rbHTC");
    for (auto* name : asmControls) EXPECT_FALSE(find(name)->isEnabled()) << name;
    click("rbHBCRC32");
    EXPECT_TRUE(find<QCheckBox>("cbHBCRCLSB")->isChecked());
    click("rbHBCRC16");
    EXPECT_FALSE(find<QCheckBox>("cbHBCRCLSB")->isChecked());

    // Typed letters in the start address show in upper case.
    auto* start = find<QLineEdit>("edStartAddress");
    start->clear();
    start->setFocus();
    QTest::keyClicks(start, "0x8abc");
    EXPECT_EQ(start->text(), "0X8ABC");
}

TEST_F(HexBinPageTest, FileFieldsUseTheirDialogs)
{
    dialogs.fileAnswers = {QString("/tmp/a.hex"), std::nullopt, QString("/tmp/b.bin")};
    click("btnSource");
    EXPECT_EQ(dialogs.last().kind, DialogCall::OpenFile);
    EXPECT_EQ(dialogs.last().filter,
              "Data files (*.hex,*.bin,*.eep,*.dat)|*.hex;*.bin;*.eep;*.dat|All files (*.*)|*.*");
    EXPECT_EQ(dialogs.last().defaultExt, "*");
    click("btnTarget");
    EXPECT_EQ(dialogs.last().kind, DialogCall::SaveFile);
    EXPECT_EQ(find<QLineEdit>("edTarget")->text(), "") << "cancel changes nothing";
    click("btnTarget");
    EXPECT_EQ(find<QLineEdit>("edSource")->text(), "/tmp/a.hex");
    EXPECT_EQ(find<QLineEdit>("edTarget")->text(), "/tmp/b.bin");
}

TEST_F(HexBinPageTest, HexToBinMessagesAndCrc)
{
    const std::string hex = dir.file("s.hex"), bin = dir.file("s.bin");
    click("btnHBLoad");
    expectError("请指定源文件和目标文件!");

    std::string sample;
    for (int i = 4; i < 8; ++i) sample += std::string(kHexHelpLines[i]) + "\r\n";
    TempDir::writeFile(hex, sample);
    setFields(" " + hex + " ", bin);
    click("btnHBLoad");
    expectError("HEX文件校验错!");
    EXPECT_EQ(TempDir::readFile(bin), "");
    EXPECT_EQ(crc(), "0");

    TempDir::writeFile(hex, sample.substr(sample.find('\n') + 1));
    click("rbHBCRC32");
    click("btnHBLoad");
    expectDone();
    const std::string image = TempDir::readFile(bin);
    ASSERT_EQ(image.size(), 0xABu);
    EXPECT_EQ(image[0], '\xFF');
    EXPECT_EQ(crc().toStdString(),
              hexbin::crcText(hexbin::CrcKind::Crc32, hexbin::crcOf(hexbin::CrcKind::Crc32, image)));

    TempDir::writeFile(hex, hexRecord(0, 1, "9") + "\n:020000040000FA\n");
    click("rbFill00");
    click("btnHBLoad");
    expectError("无法辨认的HEX文件格式!");
    EXPECT_EQ(TempDir::readFile(bin), std::string("\0009", 2));

    dialogs.clear();
    TempDir::writeFile(hex, hexRecord(0, 0, "x") + "\n");
    click("btnHBLoad");
    EXPECT_TRUE(dialogs.calls.empty()) << "no end record: no message";

    setFields(dir.file("none.hex"), bin);
    click("btnHBLoad");
    expectError("打开Hex文件时出错!");
    setFields(hex, dir.file("no/such/dir.bin"));
    click("btnHBLoad");
    expectError("打开Bin文件时出错!");
    setFields(hex, "/dev/full");
    click("btnHBLoad");
    expectError("程序产生异常！请检查输入数据的合理性！");
}

TEST_F(HexBinPageTest, GetCrcOfAnyFile)
{
    TempDir::writeFile(dir.file("abc"), "abc");
    dialogs.fileAnswers = {q(dir.file("abc")), q(dir.file("abc")), q(dir.file("abc")), q(dir.file("missing"))};
    click("btnCRC");
    EXPECT_EQ(dialogs.last().filter, "All files (*.*)|*.*");
    EXPECT_EQ(crc(), "9DD6");
    click("rbHBCRC16");
    click("btnCRC");
    EXPECT_EQ(crc(), "CADB");
    click("rbHBCRC32");
    click("btnCRC");
    EXPECT_EQ(crc(), "352441C2");
    click("btnCRC");
    expectError("打开数据文件时出错!");
    EXPECT_EQ(crc(), "352441C2");
    dialogs.clear();
    click("btnCRC");
    EXPECT_EQ(dialogs.calls.size(), 1u) << "cancelled: only the dialog";
    // Folder and file names in Chinese reach the system as it names them.
    ASSERT_EQ(::mkdir(dir.file("数据").c_str(), 0700), 0);
    TempDir::writeFile(dir.file("数据/固件.bin"), "abc");
    dialogs.fileAnswers = {QStringLiteral("%1/数据/固件.bin").arg(q(dir.path()))};
    click("btnCRC");
    EXPECT_EQ(crc(), "352441C2");
}

TEST_F(HexBinPageTest, BinToHexMessages)
{
    const std::string bin = dir.file("in.bin"), hex = dir.file("out.hex");
    TempDir::writeFile(bin, "\x01\x02\x03");
    click("btnB2H");
    EXPECT_TRUE(dialogs.calls.empty()) << "empty fields: nothing happens";

    setFields(bin, hex);
    find<QLineEdit>("edStartAddress")->setText("0100");
    click("btnB2H");
    expectDone();
    EXPECT_EQ(TempDir::readFile(hex), ":03010000010203F6\r\n:00000001FF\r\n");

    for (const char* bad : {"12G", " "}) {
        find<QLineEdit>("edStartAddress")->setText(bad);
        click("btnB2H");
        expectError("请正确地址信息!");
        EXPECT_EQ(TempDir::readFile(hex), "");
        EXPECT_EQ(frame->focusWidget(), find<QLineEdit>("edStartAddress"));
    }
    setFields(dir.file("none.bin"), hex);
    click("btnB2H");
    expectError("打开Bin文件时出错!");
    setFields(bin, dir.file("no/such/x.hex"));
    click("btnB2H");
    expectError("打开Hex文件时出错!");
}

TEST_F(HexBinPageTest, SourceArraysInTheMemo)
{
    TempDir::writeFile(dir.file("two.bin"), "\x12\xAB");
    dialogs.fileAnswers = {q(dir.file("two.bin")), q(dir.file("two.bin"))};
    click("btnHTLoad");
    EXPECT_EQ(dialogs.last().filter, "Data files (*.dat)|*.dat;*.hex;*.bin;*.eep|All files (*.*)|*.*");
    EXPECT_EQ(dialogs.last().defaultExt, "bin");
    EXPECT_EQ(memo(), "const unsigned char BinCode[]={\n\t0x12,\t\t// 0\n\t0xAB\t\t// 1\n};\n");
    auto* view = find<hexbin::LargeTextView>("mBinText");
    EXPECT_EQ(view->lineCount(), 5) << "the closing line is followed by an empty one";
    EXPECT_EQ(view->line(2), "\t0xAB\t\t// 1");
    EXPECT_EQ(view->line(4), "");
    click("rbHTASM");
    find<QLineEdit>("edHTFix")->setText(" h ");
    click("btnHTLoad");
    EXPECT_EQ(memo(), "BinTable:\n\tDB\t012h\t\t; 0\n\tDB\t0ABh\t\t; 1\n\n");

    const std::string hex = dir.file("a.hex");
    TempDir::writeFile(hex, hexRecord(0, 0x8000, "\xab", true) + "\n" + hexRecord(0, 0, "\x01") + "\n:0100000002FF\n");
    click("rbHTPre");
    dialogs.fileAnswers = {q(hex), q(dir.file("missing"))};
    click("btnLoadHex");
    EXPECT_EQ(dialogs.calls[dialogs.calls.size() - 2].filter,
              "Data files (*.dat)|*.dat;*.hex;*.eep|All files (*.*)|*.*");
    expectError("HEX文件校验错!");
    EXPECT_EQ(memo(), "BinTable:\n\tDB\th0ab\t\t; 0\n\tDB\th001\t\t; 1\n\n");
    click("btnLoadHex");
    expectError("打开文件时出错!");
    EXPECT_EQ(memo(), "BinTable:\n\tDB\th0ab\t\t; 0\n\tDB\th001\t\t; 1\n\n") << "unchanged";

    click("btnHTCopy");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), memo());
    EXPECT_FALSE(find<hexbin::LargeTextView>("mBinText")->hasSelection());
}

// A FIFO nobody writes to blocks open() and /dev/zero never ends: every
// source of the page is refused with that source's open message instead of
// freezing the window. The alarm turns a hang into a failure.
TEST_F(HexBinPageTest, SourcesThatAreNotRegularFilesAreRefused)
{
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(60);
    for (const std::string& source : {fifo, std::string("/dev/zero"), dir.path()}) {
        SCOPED_TRACE(source);
        setFields(source, dir.file("out"));
        click("btnHBLoad");
        expectError("打开Hex文件时出错!");
        click("btnB2H");
        expectError("打开Bin文件时出错!");
        dialogs.fileAnswers = {q(source), q(source), q(source)};
        click("btnCRC");
        expectError("打开数据文件时出错!");
        click("btnHTLoad");
        expectError("打开文件时出错!");
        click("btnLoadHex");
        expectError("打开文件时出错!");
    }
    alarm(0);
}
