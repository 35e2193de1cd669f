// quillon-cli monitor against a stand-in helper (fake_portmon.cpp) that a
// copy of the program finds beside itself: what it asks the helper, what it
// prints, how it ends and fails. Runs without eBPF; the capture of real
// programs is tested with the real helper in monitor_capture_cli_test.cpp.

#include "monitor/capture/record_text.h"
#include "monitor/monitor_rows.h"
#include "monitor/record_walk.h"
#include "tests/cli/cli_process.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

using namespace quillon;
using namespace quillon::test;
namespace fs = std::filesystem;

namespace {

class MonitorCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Without root the helper would be started through pkexec, which
        // would ask for a password.
        if (::geteuid() != 0) GTEST_SKIP() << "the command starts its helper directly only as root";
        ASSERT_TRUE(pty.ok());
        fs::copy_file(QUILLON_CLI_PATH, cli);
        fs::permissions(cli, fs::perms::owner_all);
        fs::create_symlink(FAKE_PORTMON_PATH, dir.file("quillon-portmon"));
        ::setenv("FAKE_PORTMON_LOG", log.c_str(), 1);
    }
    void TearDown() override
    {
        for (const char* name : {"FAKE_PORTMON_LOG", "FAKE_PORTMON_FAIL", "FAKE_PORTMON_REFUSE", "FAKE_PORTMON_RECORDS",
                                 "FAKE_PORTMON_FLOOD", "FAKE_PORTMON_DIE"})
            ::unsetenv(name);
    }

    // The requests the helper answered, one line each ("" when it never ran).
    std::string requests() const { return fs::exists(log) ? TempDir::readFile(log) : std::string(); }
    bool toldToStop() const
    {
        const std::string r = requests();
        return r.find("83070004\n5150ffff\n") != std::string::npos;
    }

    TempDir dir;
    PtyPair pty;
    const std::string cli = dir.file("quillon-cli");
    const std::string log = dir.file("requests.log");
};

} // namespace

TEST_F(MonitorCli, UsageErrorsAndUnusablePortsStartNoHelper)
{
    const std::string port = pty.slavePath();
    const std::vector<std::vector<std::string>> cases = {
        {"monitor"},
        {"monitor", port, "--max-data", "9000"},
        {"monitor", port, "--max-data", "-1"},
        {"monitor", port, "--max-data", "lots"},
        {"monitor", port, "--count", "0"},
        {"monitor", port, "--duration", "0"},
        {"monitor", port, "--duration", "inf"},
        // The helper takes 127 bytes of terms; more would be cut off unseen.
        {"monitor", port, "--include", std::string(128, 'A')},
        {"monitor", port, "--bogus"},
    };
    for (const auto& args : cases) {
        CliProcess run(cli, args);
        EXPECT_EQ(run.wait(10000), 2) << args.back() << "\n" << run.err;
        EXPECT_EQ(run.err.rfind("quillon-cli: ", 0), 0u) << run.err;
        EXPECT_EQ(requests(), "") << args.back();
    }
    std::vector<std::string> tooMany{"monitor"};
    for (int i = 0; i < 33; ++i) tooMany.push_back(port);
    CliProcess run(cli, tooMany);
    EXPECT_EQ(run.wait(10000), 2) << run.err;
    EXPECT_EQ(requests(), "");

    // Output into a watched port would capture its own lines without end.
    CliProcess intoPort(cli, {"monitor", port}, port);
    EXPECT_EQ(intoPort.wait(10000), 1);
    EXPECT_NE(intoPort.err.find("standard output is the monitored port " + port), std::string::npos) << intoPort.err;
    CliProcess intoFile(cli, {"monitor", port, "-o", port});
    EXPECT_EQ(intoFile.wait(10000), 1);
    EXPECT_NE(intoFile.err.find(port + " is the monitored port"), std::string::npos) << intoFile.err;
    EXPECT_EQ(requests(), "");

    // A port that does not exist is a failure found before the helper starts.
    CliProcess missing(cli, {"monitor", "/dev/quillon-no-such-port"});
    EXPECT_EQ(missing.wait(10000), 1);
    EXPECT_NE(missing.err.find("/dev/quillon-no-such-port"), std::string::npos) << missing.err;
    EXPECT_EQ(requests(), "");
}

// Every record the helper hands over is the page's capture-log line for it:
// completions of blocked requests and the overflow count included, records
// without text left out; the settings reach the helper as the page sends them.
TEST_F(MonitorCli, RecordsPrintAsThePageLogsThemAndSettingsReachTheHelper)
{
    const std::vector<std::string> texts = {
        "term:41\tIRP_MJ_CREATE\t" + pty.slavePath() + "\tSUCCESS\tO_RDWR O_NOCTTY",
        "term:41\tIRP_MJ_READ\t" + pty.slavePath() + "\t\t",
        "",
        "\t\t\tSUCCESS\tLength 3: abc",
        "quillon-portmon\t\t\tOVERFLOW\t7 records dropped",
        "term:41\tIRP_MJ_WRITE\t" + pty.slavePath() + "\tSUCCESS\tLength 2: 41 42\textra field",
    };
    std::ofstream(dir.file("records")) << [&] {
        std::string all;
        for (const auto& t : texts) all += t + "\n";
        return all;
    }();
    ::setenv("FAKE_PORTMON_RECORDS", dir.file("records").c_str(), 1);
    std::vector<uint8_t> buffer;
    for (size_t i = 0; i < texts.size(); ++i) capture::appendRecord(buffer, int32_t(i + 1), 1, texts[i]);
    std::string expected;
    monitor::walkRecords(buffer, buffer.size(), [&](const monitor::CapturedRecord& r) {
        if (r.fieldCount) monitor::appendLogLine(expected, r);
    });

    CliProcess run(cli, {"monitor", pty.slavePath(), "--include", "irp_mj_read;Irp_Mj_Write", "--exclude", "term:9",
                         "--no-reads", "--hex", "--max-data", "0x100", "--count", "5"});
    ASSERT_EQ(run.wait(10000), 0) << run.err;
    EXPECT_EQ(run.out, expected);
    EXPECT_NE(run.err.find("monitoring " + pty.slavePath()), std::string::npos) << run.err;
    EXPECT_EQ(requests(), "83070028 mask 1 " + pty.slavePath() +
                              "\n"
                              "83070008\n"
                              "83070010 include 'IRP_MJ_READ;IRP_MJ_WRITE' exclude 'TERM:9' reads 0 writes 1\n"
                              "83070040 value 256\n"
                              "83070038 value 1\n"
                              "83070000\n"
                              "83070004\n"
                              "5150ffff\n");

    // -o: the same lines in the file, which replaces the one there.
    const std::string out = dir.file("capture.log");
    TempDir::writeFile(out, "an earlier capture, longer than this one will be");
    fs::remove(log);
    CliProcess toFile(cli, {"monitor", pty.slavePath(), "--count", "5", "-o", out});
    ASSERT_EQ(toFile.wait(10000), 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(TempDir::readFile(out), expected);
    EXPECT_TRUE(toldToStop());
}

// A port is named by its path, by its name under /dev, or by a link to it
// from anywhere; the helper always gets a path beneath /dev.
TEST_F(MonitorCli, PortNamesReachTheHelperAsPathsUnderDev)
{
    fs::create_symlink(pty.slavePath(), dir.file("vport"));
    const std::string bare = pty.slavePath().substr(5); // "pts/N"
    ::setenv("FAKE_PORTMON_FLOOD", "1", 1);
    CliProcess run(cli, {"monitor", bare, dir.file("vport"), "--count", "1"});
    EXPECT_EQ(run.wait(10000), 0) << run.err;
    EXPECT_EQ(requests().rfind("83070028 mask 3 " + pty.slavePath() + " " + pty.slavePath() + "\n", 0), 0u)
        << requests();

    // A link that leads out of /dev is not a port.
    fs::create_symlink("/etc/hostname", dir.file("notaport"));
    fs::remove(log);
    CliProcess outside(cli, {"monitor", dir.file("notaport")});
    EXPECT_EQ(outside.wait(10000), 1);
    EXPECT_NE(outside.err.find("notaport: not a device under /dev"), std::string::npos) << outside.err;
    EXPECT_EQ(requests(), "");
}

TEST_F(MonitorCli, FailuresExitOneWithTheReasonAndStopTheHelper)
{
    // The helper cannot load: its reason is the message.
    ::setenv("FAKE_PORTMON_FAIL", "no BPF: the kernel refused the capture programs", 1);
    CliProcess noBpf(cli, {"monitor", pty.slavePath()});
    EXPECT_EQ(noBpf.wait(20000), 1);
    EXPECT_NE(noBpf.err.find("no BPF: the kernel refused the capture programs"), std::string::npos) << noBpf.err;
    ::unsetenv("FAKE_PORTMON_FAIL");

    // A port the helper refuses is named; the output file is left as it was.
    fs::remove(log);
    ::setenv("FAKE_PORTMON_REFUSE", "2", 1);
    const std::string out = dir.file("kept.log");
    TempDir::writeFile(out, "kept");
    CliProcess refused(cli, {"monitor", pty.slavePath(), "/dev/null", "-o", out});
    EXPECT_EQ(refused.wait(10000), 1);
    EXPECT_NE(refused.err.find("cannot monitor /dev/null: "), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("cannot monitor " + pty.slavePath()), std::string::npos) << refused.err;
    EXPECT_EQ(TempDir::readFile(out), "kept");
    EXPECT_NE(requests().find("5150ffff"), std::string::npos) << requests();
    EXPECT_EQ(requests().find("83070000"), std::string::npos) << "capture started: " << requests();
    ::unsetenv("FAKE_PORTMON_REFUSE");

    // An output that fills up (a full disk, here a node like /dev/full made in
    // the test's folder) fails the run with the reason.
    const std::string full = dir.file("full");
    if (::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
        ::setenv("FAKE_PORTMON_FLOOD", "1", 1);
        CliProcess toFull(cli, {"monitor", pty.slavePath(), "-o", full});
        EXPECT_EQ(toFull.wait(10000), 1);
        EXPECT_NE(toFull.err.find("cannot write " + full + ": " + std::strerror(ENOSPC)), std::string::npos)
            << toFull.err;
        CliProcess stdoutFull(cli, {"monitor", pty.slavePath()}, full);
        EXPECT_EQ(stdoutFull.wait(10000), 1);
        EXPECT_NE(stdoutFull.err.find("cannot write standard output"), std::string::npos) << stdoutFull.err;
        ::unsetenv("FAKE_PORTMON_FLOOD");
    }

    // The helper dies while capturing.
    ::setenv("FAKE_PORTMON_DIE", "3", 1);
    CliProcess died(cli, {"monitor", pty.slavePath()});
    EXPECT_EQ(died.wait(10000), 1);
    EXPECT_NE(died.err.find("the capture helper stopped answering"), std::string::npos) << died.err;
}

// Standard output closed by its reader (`| head`) ends the run cleanly,
// whether records are flowing or not; so do SIGTERM and the end of the time.
TEST_F(MonitorCli, EndsCleanlyOnAClosedOutputASignalOrTheTime)
{
    ::setenv("FAKE_PORTMON_FLOOD", "1", 1);
    CliProcess flowing(cli, {"monitor", pty.slavePath()});
    EXPECT_GE(flowing.readLines(3, 10000).size(), 3u);
    flowing.closeStdout();
    EXPECT_EQ(flowing.wait(10000), 0) << flowing.err;
    EXPECT_EQ(flowing.termSignal(), 0);
    EXPECT_TRUE(toldToStop()) << requests();

    // A reader that stops reading (a paused pager) leaves the command waiting
    // for room; a signal still ends it.
    fs::remove(log);
    CliProcess stalled(cli, {"monitor", pty.slavePath()});
    ASSERT_TRUE(stalled.waitForStderr("monitoring", 10000)) << stalled.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(stalled.pid(), SIGTERM);
    EXPECT_EQ(stalled.wait(10000), 0) << stalled.err;
    EXPECT_GE(stalled.out.size(), 60000u); // a pipe's worth came before the reader stopped
    EXPECT_TRUE(toldToStop()) << requests();
    ::unsetenv("FAKE_PORTMON_FLOOD");

    fs::remove(log);
    CliProcess idle(cli, {"monitor", pty.slavePath()});
    ASSERT_TRUE(idle.waitForStderr("monitoring", 10000)) << idle.err;
    idle.closeStdout();
    EXPECT_EQ(idle.wait(10000), 0) << idle.err;
    EXPECT_TRUE(toldToStop()) << requests();

    fs::remove(log);
    CliProcess signalled(cli, {"monitor", pty.slavePath()});
    ASSERT_TRUE(signalled.waitForStderr("monitoring", 10000)) << signalled.err;
    ::kill(signalled.pid(), SIGTERM);
    EXPECT_EQ(signalled.wait(10000), 0) << signalled.err;
    EXPECT_TRUE(toldToStop()) << requests();

    // Under nohup a hangup does not end it.
    fs::remove(log);
    ::signal(SIGHUP, SIG_IGN);
    CliProcess nohup(cli, {"monitor", pty.slavePath()});
    ::signal(SIGHUP, SIG_DFL);
    ASSERT_TRUE(nohup.waitForStderr("monitoring", 10000)) << nohup.err;
    ::kill(nohup.pid(), SIGHUP);
    EXPECT_EQ(nohup.wait(300), -2);
    ::kill(nohup.pid(), SIGINT);
    EXPECT_EQ(nohup.wait(10000), 0) << nohup.err;
    EXPECT_TRUE(toldToStop()) << requests();

    fs::remove(log);
    const auto start = std::chrono::steady_clock::now();
    CliProcess timed(cli, {"monitor", pty.slavePath(), "--duration", "0.5"});
    EXPECT_EQ(timed.wait(10000), 0) << timed.err;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(toldToStop()) << requests();
}
