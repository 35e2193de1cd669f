// The command line against the pages: the same input gives the text the page
// shows, byte for byte (line breaks as CR LF), and failures exit non-zero.

#include "tests/support/frame_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace quillon;
using namespace quillon::test;

namespace {

struct CliRun {
    int code = -1;
    std::string out, err;
};

class OfflineToolsCli : public FrameTest {
protected:
    void SetUp() override
    {
        makeFrame();
        frame->show();
        QApplication::setActiveWindow(frame.get());
    }

    CliRun cli(const std::string& args)
    {
        const std::string out = dir.file("cli.out"), err = dir.file("cli.err");
        const std::string cmd = std::string(QUILLON_CLI_PATH) + " " + args + " >" + out + " 2>" + err;
        CliRun r;
        const int status = std::system(cmd.c_str());
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = TempDir::readFile(out);
        r.err = TempDir::readFile(err);
        return r;
    }

    void click(const char* name) { find<QAbstractButton>(name)->click(); }
    void setText(const char* name, const char* text) { find<QLineEdit>(name)->setText(QString::fromUtf8(text)); }
    std::string memo(const char* name) const
    {
        return find<QPlainTextEdit>(name)->toPlainText().replace("\n", "\r\n").toStdString();
    }
    std::string label(const char* name) const { return find<QLabel>(name)->text().toStdString(); }
};

} // namespace

// Rows from the Beta model, written as a .dat file, loaded by the page and
// computed there, give the table the command computes from the model itself.
TEST_F(OfflineToolsCli, ThermistorTableMatchesThePage)
{
    find<QTabWidget>("pcToolSet")->setCurrentIndex(0);
    const std::string dat = dir.file("ntc.dat");
    const std::string model = "--beta 3950 --r25 10 --from 125 --to -40 --step 2.5";
    CliRun r = cli("rt " + model + " --write-dat " + dat);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    ASSERT_TRUE(std::filesystem::exists(dat));

    dialogs.fileAnswers.push_back(QString::fromStdString(dat));
    click("btnRTFile");

    struct Settings {
        std::vector<const char*> buttons;
        const char *r, *db, *marker, *args;
    };
    const Settings cases[] = {
        {{"rbRT8Bits", "rbCir1", "rbRTCStyle"}, "22", "DB", "H", ""},
        {{"rbRT10Bits", "rbCir2", "rbRTASMStyle", "rbRTPrefix"},
         " 4.7 ",
         "DW",
         "$",
         "-r ' 4.7 ' --bits 10 --circuit 2 --asm --prefix --db DW --marker '$'"},
        {{"rbRT10Bits", "rbCir1", "rbRTASMStyle", "rbRTPostfix"},
         "10",
         "",
         " h",
         "-r 10 --bits 10 --asm --db= --marker ' h'"},
    };
    for (const Settings& s : cases) {
        for (const char* b : s.buttons) click(b);
        setText("edR", s.r);
        setText("edDB", s.db);
        setText("edRTFix", s.marker);
        click("btnRTCalc");
        ASSERT_TRUE(dialogs.messages().empty());
        const std::string page = memo("mRT");
        r = cli("rt " + dat + " " + s.args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, page) << s.args;
        EXPECT_EQ(cli("rt " + model + " " + s.args).out, page) << s.args;
        EXPECT_EQ(cli("rt " + dat + " --lf " + s.args).out, find<QPlainTextEdit>("mRT")->toPlainText().toStdString());
    }
    // 125 °C first, -40 °C last: 67 rows between the header and the closing line.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1 + 67 + 1);
}

// What the page refuses the command refuses, with the page's words, and
// writes nothing: no partial table in a build.
TEST_F(OfflineToolsCli, ThermistorFailuresExitNonZeroAndWriteNothing)
{
    const std::string bad = dir.file("bad.dat"), out = dir.file("out.c");
    TempDir::writeFile(bad, "25,10\r\n30,abc\r\n");
    CliRun r = cli("rt " + bad + " -o " + out);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("quillon-cli: 请正确填写电阻值! (table row 2)"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    TempDir::writeFile(bad, "25,10\r\n30,-22\r\n");
    r = cli("rt " + bad);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("程序产生异常！请检查输入数据的合理性！"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    // An existing output survives a failed run as it was.
    TempDir::writeFile(out, "old");
    EXPECT_EQ(cli("rt " + bad + " -o " + out).code, 1);
    EXPECT_EQ(TempDir::readFile(out), "old");
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path()) != std::filesystem::directory_iterator(), true);
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".out.c."), std::string::npos) << "temporary file left";

    EXPECT_EQ(cli("rt " + dir.file("missing.dat")).code, 1);
    EXPECT_NE(cli("rt " + bad + " -r abc").err.find("请正确填写分压电阻值!"), std::string::npos);
    EXPECT_EQ(cli("rt " + bad + " -r ' '").code, 2);
    EXPECT_EQ(cli("rt " + bad + " -o " + bad).code, 2);
    EXPECT_EQ(TempDir::readFile(bad), "25,10\r\n30,-22\r\n");
    EXPECT_EQ(cli("rt").code, 2);
    EXPECT_EQ(cli("rt " + bad + " --beta 3950 --r25 10 --from 0 --to 1").code, 2);
    EXPECT_EQ(cli("rt --beta 3950 --r25 10 --from 0").code, 2);
    EXPECT_EQ(cli("rt --r25 10 --steinhart 1,2,3 --from 0 --to 1").code, 2);
    EXPECT_EQ(cli("rt " + bad + " --step 2").code, 2);
    EXPECT_EQ(cli("rt --beta 3950 --r25 10 --from 0 --to 10 --step 0").code, 1);
    EXPECT_EQ(cli("rt --beta 3950 --r25 10 --steinhart 1,2,3 --from 0 --to 1").code, 2);
    // A fitted curve passes through its points.
    EXPECT_NE(cli("rt --fit 0:33.6,25:10,100:0.7 --from 25 --to 25").out.find("// 25.00\t\t10.0000"),
              std::string::npos);
    EXPECT_EQ(cli("rt --fit 0:30,25:10 --from 0 --to 1").code, 2);
    EXPECT_EQ(cli("rt --fit 0:10,25:10,50:3 --from 0 --to 1").code, 2);
}

// A map stored by the page under a name, used by name from the command line.
TEST_F(OfflineToolsCli, LedTableMatchesThePage)
{
    find<QTabWidget>("pcToolSet")->setCurrentWidget(find("LEDCoder"));
    click("rbLED16");
    const char* const k16[] = {"A1", "A2", "B", "C", "D1", "D2", "E", "F", "G1", "G2", "H", "J", "K", "L", "M", "N"};
    const int positions[] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
    for (int i = 0; i < 16; ++i)
        setText(("edLED16" + std::string(k16[i])).c_str(), std::to_string(positions[i]).c_str());
    dialogs.textAnswers.push_back(QStringLiteral("Board 2"));
    click("btnLEDSave");
    ASSERT_TRUE(dialogs.messages().empty());

    click("rbASM");
    click("rb4Bits");
    click("rbPre");
    find<QCheckBox>("cbLEDReverse")->setChecked(true);
    setText("edLEDDB", " DW ");
    setText("edHex", "0x");
    click("btnEncode");
    const std::string args =
        " --settings " + settingsPath() + " --invert --asm --bits 4 --prefix --db ' DW ' --marker 0x";
    CliRun r = cli("led --type 16 --pattern 'board 2'" + args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, memo("mLEDCode"));
    // The pattern string the page stored works as well.
    EXPECT_EQ(cli("led --type 16 --segments 89ABCDEF01234567" + args).out, memo("mLEDCode"));
    EXPECT_EQ(cli("led --type 14 --pattern 'board 2'" + args).code, 1);
    EXPECT_EQ(cli("led --type 16 --segments 89ABCDEF0123456" + args).code, 2);
    EXPECT_EQ(cli("led --type 16 --segments 89ABCDEF0123456G" + args).code, 1);

    // 7 segments in C: the header's own line feed becomes CR LF too.
    click("rbLED7");
    click("rbC");
    click("rb8Bits");
    find<QCheckBox>("cbLEDReverse")->setChecked(false);
    const char* const k7[] = {"A", "B", "C", "D", "E", "F", "G"};
    for (int i = 0; i < 7; ++i) setText(("edLED7" + std::string(k7[i])).c_str(), std::to_string(i).c_str());
    click("btnEncode");
    r = cli("led --segments 6543210");
    EXPECT_EQ(r.out, memo("mLEDCode"));
    EXPECT_EQ(r.out.substr(0, 36), "const unsigned char LED7Code[]={\r\n\r\n");
    const std::string ledOut = dir.file("led.c");
    EXPECT_EQ(cli("led --segments 6543210 -o " + ledOut).code, 0);
    EXPECT_EQ(TempDir::readFile(ledOut), memo("mLEDCode"));
}

TEST_F(OfflineToolsCli, ColourBandsMatchThePage)
{
    find<QTabWidget>("pcToolSet")->setCurrentIndex(2);
    struct Case {
        bool five;
        std::vector<const char*> buttons;
        const char* unitButton;
        const char* args;
    };
    const Case cases[] = {
        {true,
         {"sb1Brown", "sb2Black", "sb3Green", "sb4Brown", "sb5Brown"},
         "rbKOme",
         "brown black green brown brown --unit kohm"},
        {false, {"sb1Yellow", "sb2Purple", "sb4Silver", "sb5Gray"}, "rbMOme", "黄 紫 银 无 --unit MOhm"},
        {false, {"sb1Blue", "sb2Gray", "sb4Orange", "sb5Gold"}, "rbOme", "Blue grey orange 金"},
    };
    for (const Case& c : cases) {
        click(c.five ? "rb5Color" : "rb4Color");
        click(c.unitButton);
        for (const char* b : c.buttons) click(b);
        const CliRun r = cli(std::string("bands ") + c.args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, label("lResister") + "\n" + label("lPrecision") + "\n") << c.args;
    }
    CliRun r = cli("bands gold black red gold");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("band 1 (digit) cannot be gold"), std::string::npos) << r.err;
    EXPECT_EQ(cli("bands brown black red black").code, 2);
    EXPECT_EQ(cli("bands brown black red").code, 2);
    EXPECT_EQ(cli("bands brown black pink gold").code, 2);
}

TEST_F(OfflineToolsCli, HelpListsEveryCommandWithAnExample)
{
    const CliRun top = cli("--help");
    for (const char* command : {"hex2bin", "bin2hex", "crc", "array", "rt", "led", "bands"})
        EXPECT_NE(top.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    for (const char* command : {"hex2bin", "bin2hex", "crc", "array", "rt", "led", "bands"}) {
        const CliRun r = cli(std::string(command) + " --help");
        EXPECT_EQ(r.code, 0);
        EXPECT_NE(r.out.find("quillon-cli " + std::string(command) + " "), std::string::npos) << r.out;
    }
}

// An output path keeps being what it was: a symlink stays a link to the
// rewritten target, a FIFO is written into, a file keeps its mode.
TEST_F(OfflineToolsCli, OutputsKeepWhatThePathIs)
{
    namespace fs = std::filesystem;
    const std::string target = dir.file("real.c"), link = dir.file("link.c"), fifo = dir.file("pipe");
    TempDir::writeFile(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(target, link);
    ASSERT_EQ(cli("led --segments 6543210 -o " + link).code, 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(TempDir::readFile(target).substr(0, 20), "const unsigned char ");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string got = dir.file("got");
    const std::string cmd = "cat " + fifo + " >" + got + " & " + QUILLON_CLI_PATH +
                            " rt --beta 3950 --r25 10 --from 0 --to 0 -o " + fifo + "; wait";
    EXPECT_EQ(std::system(("sh -c '" + cmd + "'").c_str()), 0);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(TempDir::readFile(got), "unsigned char rtTable[] = {\r\n\t0x064\t// 0.00\t\t33.6206\r\n};\r\n");
    EXPECT_EQ(cli("led --segments 6543210 -o " + dir.path()).code, 1);
}
