#include "common/codepage.h"
#include "common/settings_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quillon;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    std::string dir;
    std::string path;
    void SetUp() override
    {
        char tmpl[] = "/tmp/quillon-ini-XXXXXX";
        dir = mkdtemp(tmpl);
        path = dir + "/quillon.INI";
    }
    void TearDown() override
    {
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(dir);
    }
    void write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string contents() const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

} // namespace

TEST_F(SettingsFileTest, MissingFileSectionOrKeyGivesDefault)
{
    SettingsFile f(path);
    EXPECT_EQ(f.readInteger("Var Count", "Count", 7), 7);
    EXPECT_EQ(f.readText("A", "b", "def"), "def");
    EXPECT_TRUE(f.readSection("A").empty());
    write("[A]\r\nx=1\r\n");
    EXPECT_EQ(f.readText("A", "y", "d"), "d");
    EXPECT_EQ(f.readText("B", "x", "d"), "d");
}

TEST_F(SettingsFileTest, CreatesFileAndSectionsWithCrLf)
{
    SettingsFile f(path);
    f.writeText("LED7 Patterns", "Std", "6543210");
    f.writeInteger("Var Count", "Count", 3);
    f.writeText("LED7 Patterns", "Rev", "0123456");
    EXPECT_EQ(contents(), "[LED7 Patterns]\r\nStd=6543210\r\nRev=0123456\r\n[Var Count]\r\nCount=3\r\n");
}

TEST_F(SettingsFileTest, MatchingIgnoresCaseAndHeaderKeepsFirstCase)
{
    SettingsFile f(path);
    f.writeText("VAR List", "0", "a,b");
    EXPECT_EQ(f.readText("Var List", "0", ""), "a,b");
    f.writeText("var list", "1", "c");
    EXPECT_EQ(contents(), "[VAR List]\r\n0=a,b\r\n1=c\r\n");
    write("[var list]\r\nKEY=v\r\n");
    EXPECT_EQ(f.readText("VAR LIST", "key", ""), "v");
}

TEST_F(SettingsFileTest, ReplacesInPlaceAndDeletes)
{
    write("[S]\r\na=1\r\nb=2\r\nc=3\r\n[T]\r\na=9\r\n");
    SettingsFile f(path);
    f.writeText("s", "B", "two");
    EXPECT_EQ(contents(), "[S]\r\na=1\r\nb=two\r\nc=3\r\n[T]\r\na=9\r\n");
    f.deleteKey("S", "a");
    f.deleteKey("S", "nothing");
    f.deleteKey("Nowhere", "a");
    EXPECT_EQ(contents(), "[S]\r\nb=two\r\nc=3\r\n[T]\r\na=9\r\n");
    f.writeText("S", "d", "4");
    EXPECT_EQ(contents(), "[S]\r\nb=two\r\nc=3\r\nd=4\r\n[T]\r\na=9\r\n");
}

TEST_F(SettingsFileTest, TrimsBlanksAndTakesFirstOfDuplicateKeys)
{
    write("[S]\n  key  =  some value  \nKEY=second\nother = x\n");
    SettingsFile f(path);
    EXPECT_EQ(f.readText("S", "key", ""), "some value");
    auto entries = f.readSection("S");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (SettingsFile::Entry{"key", "some value"}));
    EXPECT_EQ(f.readSectionLines("S"), (std::vector<std::string>{"key=some value", "other=x"}));
}

TEST_F(SettingsFileTest, IntegersDecimalOrHexOtherwiseDefault)
{
    write("[Var Count]\r\nCount=0x3\r\n[M]\r\nCount=abc\r\n[N]\r\nCount=0X1f\r\n[O]\r\nCount=-4\r\n");
    SettingsFile f(path);
    EXPECT_EQ(f.readInteger("Var Count", "Count", 0), 3);
    EXPECT_EQ(f.readInteger("M", "Count", 0), 0);
    EXPECT_EQ(f.readInteger("N", "Count", 0), 31);
    EXPECT_EQ(f.readInteger("O", "Count", 0), -4);
}

TEST_F(SettingsFileTest, LongValuesAreCutAt2047Characters)
{
    write("[S]\r\nk=" + std::string(3000, 'x') + "\r\n");
    SettingsFile f(path);
    EXPECT_EQ(f.readText("S", "k", "").size(), 2047u);
    EXPECT_EQ(f.readSection("S")[0].second.size(), 2047u);
}

TEST_F(SettingsFileTest, ChineseNamesAreStoredAsGbk)
{
    SettingsFile f(path);
    f.writeText("LED7 Patterns", "共阳数码管", "0123456");
    EXPECT_EQ(contents(), "[LED7 Patterns]\r\n" + utf8ToGbk("共阳数码管") + "=0123456\r\n");
    EXPECT_EQ(f.readSection("LED7 Patterns")[0].first, "共阳数码管");
    EXPECT_EQ(f.readText("led7 patterns", "共阳数码管", ""), "0123456");
}

TEST_F(SettingsFileTest, FailedWriteRaisesAndLeavesNoTemporaryFile)
{
    // A folder that can't take the file (here: the target path is a directory).
    std::filesystem::create_directory(path);
    SettingsFile f(path);
    EXPECT_THROW(f.writeText("S", "b", "2"), std::runtime_error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    SettingsFile nowhere(dir + "/no/such/folder.INI");
    EXPECT_THROW(nowhere.writeInteger("S", "n", 1), std::runtime_error);
}

// Runs `op` in a child process that can't read the file: as root the child
// becomes "nobody", since root reads a file whatever its mode. True when the
// operation raised an error.
static bool raisesWithoutReadAccess(const std::string& dir, const std::string& path, const std::function<void()>& op)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0) {
            if (chown(dir.c_str(), 65534, 65534) != 0 || chown(path.c_str(), 65534, 65534) != 0 || setgid(65534) != 0 ||
                setuid(65534) != 0)
                _exit(3);
        }
        try {
            op();
        } catch (const std::runtime_error&) {
            _exit(0);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(SettingsFileTest, UnreadableFileIsAnErrorAndStaysAsItWas)
{
    const std::string before = "[LED7 Patterns]\r\nStd=6543210\r\n[Var Count]\r\nCount=2\r\n";
    write(before);
    chmod(path.c_str(), 0200);
    SettingsFile f(path);
    EXPECT_TRUE(raisesWithoutReadAccess(dir, path, [&] { f.writeText("LED7 Patterns", "New", "0123456"); }));
    EXPECT_TRUE(raisesWithoutReadAccess(dir, path, [&] { f.deleteKey("LED7 Patterns", "Std"); }));
    EXPECT_TRUE(raisesWithoutReadAccess(dir, path, [&] { (void)f.readSection("LED7 Patterns"); }));
    EXPECT_TRUE(raisesWithoutReadAccess(dir, path, [&] { (void)f.readInteger("Var Count", "Count", 0); }));
    EXPECT_EQ(contents(), before);
}

TEST_F(SettingsFileTest, DeleteRemovesEveryLineOfTheKey)
{
    write("[LED7 Patterns]\r\nPattern=0123456\r\nother=6543210\r\n pattern = 1111111\r\n[T]\r\npattern=9\r\n");
    SettingsFile f(path);
    f.deleteKey("led7 patterns", "PATTERN");
    EXPECT_EQ(f.readText("LED7 Patterns", "Pattern", "gone"), "gone");
    EXPECT_EQ(contents(), "[LED7 Patterns]\r\nother=6543210\r\n[T]\r\npattern=9\r\n");
}

TEST_F(SettingsFileTest, SectionNameWithBracketByteInItsGbkIsFoundAgain)
{
    // U+95FF is EA 5D in GBK: its second byte is ']'.
    const std::string name = "\xE9\x97\xBF";
    ASSERT_EQ(utf8ToGbk(name), "\xEA\x5D");
    SettingsFile f(path);
    f.writeText(name, "k", "1");
    f.writeText(name, "k", "2");
    EXPECT_EQ(f.readText(name, "k", ""), "2");
    EXPECT_EQ(contents(), "[\xEA\x5D]\r\nk=2\r\n");
}

TEST(SettingsPath, BesideTheExecutableWithIniExtension)
{
    EXPECT_EQ(SettingsFile::defaultPathFor("/opt/q/quillon"), "/opt/q/quillon.INI");
    EXPECT_EQ(SettingsFile::defaultPathFor("/opt/q.d/abc.exe"), "/opt/q.d/abc.INI");
}

TEST_F(SettingsFileTest, SettingsKeptAsASymlinkStayOne)
{
    // Dotfile managers keep the real file elsewhere and link it in.
    std::filesystem::create_directory(dir + "/store");
    write("[A]\r\nx=1\r\n");
    std::filesystem::rename(path, dir + "/store/quillon.INI");
    std::filesystem::create_symlink("store/quillon.INI", path);
    SettingsFile f(path);
    f.writeInteger("A", "y", 2);
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(contents(), "[A]\r\nx=1\r\ny=2\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir + "/store"), std::filesystem::directory_iterator()),
              1);
}

TEST_F(SettingsFileTest, InstalledProgramKeepsItsSettingsInTheConfigFolder)
{
    auto writable = [](const std::string&) { return true; };
    auto readOnly = [](const std::string&) { return false; };
    // A folder the user can write (an unpacked or built copy): as before.
    EXPECT_EQ(SettingsFile::locationFor("/opt/q/quillon", nullptr, dir.c_str(), writable), "/opt/q/quillon.INI");

    const std::string xdg = dir + "/xdg";
    EXPECT_EQ(SettingsFile::locationFor("/usr/bin/quillon", xdg.c_str(), "/nonexistent", readOnly),
              xdg + "/quillon/quillon.INI");
    EXPECT_TRUE(std::filesystem::is_directory(xdg + "/quillon"));
    // Unset or relative: the default under the home folder.
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        EXPECT_EQ(SettingsFile::locationFor("/usr/bin/quillon", value, dir.c_str(), readOnly),
                  dir + "/.config/quillon/quillon.INI");
    }
    // Installed by a package and run as root: /usr/bin is writable, but the
    // settings still go to the user's folder, never among packaged files.
    for (const char* installed : {"/usr/bin/quillon", "/usr/local/bin/quillon", "/bin/quillon"})
        EXPECT_EQ(SettingsFile::locationFor(installed, nullptr, dir.c_str(), writable),
                  dir + "/.config/quillon/quillon.INI");
    EXPECT_EQ(SettingsFile::locationFor("/usrx/quillon", nullptr, dir.c_str(), writable), "/usrx/quillon.INI");
    // The file there is written like any other.
    SettingsFile f(SettingsFile::locationFor("/usr/bin/quillon", nullptr, dir.c_str(), readOnly));
    f.writeInteger("A", "n", 5);
    EXPECT_EQ(SettingsFile(dir + "/.config/quillon/quillon.INI").readInteger("A", "n", 0), 5);
}

TEST_F(SettingsFileTest, FolderOfTheExecutableDecidesByItsPermissions)
{
    // What a user who can't write the program's folder sees (root writes anywhere).
    if (::geteuid() == 0) GTEST_SKIP() << "root can write every folder";
    std::filesystem::create_directory(dir + "/bin");
    std::filesystem::permissions(dir + "/bin", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    ::setenv("XDG_CONFIG_HOME", (dir + "/cfg").c_str(), 1);
    EXPECT_EQ(SettingsFile::locationFor(dir + "/bin/quillon"), dir + "/cfg/quillon/quillon.INI");
    EXPECT_EQ(SettingsFile::locationFor(dir + "/quillon"), dir + "/quillon.INI");
    ::unsetenv("XDG_CONFIG_HOME");
    std::filesystem::permissions(dir + "/bin", std::filesystem::perms::owner_all);
}

TEST_F(SettingsFileTest, ManyWritesAtOnceLeaveTheFileAsWritingThemOneByOne)
{
    // Keys in another letter case, a section twice, blank lines at a section's
    // end, a new section, a key written twice, a key that reads back as another
    // ("a=b") or as a section header ("[x]"), and a value with a line break.
    const std::string start = "; note\r\n[S]\r\nA=1\r\n\r\n\r\n[T]\r\nk=v\r\n[s]\r\nA=hidden\r\n";
    const std::vector<SettingsFile::Write> writes = {
        {"s", "a", "one"},   {"S", "new", "n"},      {"T", "k", "w"},     {"Fresh", "x", "1"},
        {"S", "new", "n2"},  {"S", "a=b", "c"},      {"S", "a=b", "d"},   {"S", "[x]", "y"},
        {"x", "after", "z"}, {"S", "z", "p\r\nq=r"}, {"fresh", "Q", "2"}, {"S", "q", "3"},
    };
    write(start);
    SettingsFile f(path);
    for (const auto& w : writes) f.writeText(w.section, w.key, w.value);
    const std::string oneByOne = contents();

    write(start);
    f.writeTexts(writes);
    EXPECT_EQ(contents(), oneByOne);
    EXPECT_EQ(f.readText("S", "a", ""), "one");
    EXPECT_EQ(f.readText("Fresh", "q", ""), "2");

    // Nothing to write leaves the file alone; a missing file is created.
    f.writeTexts({});
    EXPECT_EQ(contents(), oneByOne);
    std::filesystem::remove(path);
    f.writeTexts({{"A", "k", "v"}, {"B", "k", "w"}});
    EXPECT_EQ(contents(), "[A]\r\nk=v\r\n[B]\r\nk=w\r\n");
}
