// The channel client against stand-in helpers that misbehave: it must
// report the failure, never hang, and leave no process behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "monitor/capture_device.h"
#include "monitor/monitor_driver.h"
#include "tests/support/temp_dir.h"

using namespace quillon;
using namespace quillon::capture;

namespace {

// A shell script standing in for quillon-portmon.
class FakeHelper : public ::testing::Test {
protected:
    std::string script(const std::string& body)
    {
        const std::string path = dir.file("helper.sh");
        test::TempDir::writeFile(path, "#!/bin/sh\n" + body + "\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }
    static bool gone(pid_t pid) { return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH; }

    test::TempDir dir;
    // "QPM1", then an answer: success, error 0, two bytes "ok".
    const std::string hello = R"(printf 'QPM1\001\000\000\000\000\000\000\000\002\000\000\000ok')";
};

TEST_F(FakeHelper, AHelperThatEndsWithoutAHandshakeFailsToStart)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    monitor::HelperCaptureDevice device(script("exit 0"));
    device.setTimeoutMs(300);
    monitor::HelperStart s = device.start();
    EXPECT_FALSE(s.ok);
    EXPECT_FALSE(device.running());
    EXPECT_EQ(device.pid(), -1);
}

TEST_F(FakeHelper, TheHelpersRefusalIsPassedOn)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    // Failure, EPERM (1), and its reason.
    monitor::HelperCaptureDevice device(
        script(R"(printf 'QPM1\000\000\000\000\001\000\000\000\007\000\000\000no BPF!')"));
    monitor::HelperStart s = device.start();
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.error, EPERM);
    EXPECT_EQ(s.message, "no BPF!");
}

TEST_F(FakeHelper, ASilentHelperTimesOutAndIsEnded)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    monitor::HelperCaptureDevice device(script(hello + "\nexec sleep 30"));
    device.setTimeoutMs(300);
    monitor::HelperStart s = device.start();
    ASSERT_TRUE(s.ok) << s.message;
    EXPECT_EQ(s.message, "ok");
    const pid_t pid = device.pid();
    const auto before = std::chrono::steady_clock::now();
    monitor::CaptureAnswer a = device.request(kReadRecords, {}, kReadBufferSize);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, ETIMEDOUT);
    EXPECT_FALSE(device.running());
    EXPECT_TRUE(gone(pid));
    EXPECT_EQ(device.request(kStartCapture, {}, 0).error, ENOTCONN);
}

TEST_F(FakeHelper, AnOversizedOrCutAnswerIsAFailure)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    // Reads the request, then claims 16 MiB of output.
    monitor::HelperCaptureDevice big(script(hello + R"(
head -c 12 >/dev/null; printf '\001\000\000\000\000\000\000\000\000\000\000\001'; exec sleep 30)"));
    big.setTimeoutMs(500);
    ASSERT_TRUE(big.start().ok);
    EXPECT_EQ(big.request(kReadRecords, {}, kReadBufferSize).error, EPIPE);
    EXPECT_FALSE(big.running());

    // Promises 8 bytes, sends 3 and exits.
    monitor::HelperCaptureDevice cut(script(hello + R"(
head -c 12 >/dev/null; printf '\001\000\000\000\000\000\000\000\010\000\000\000abc')"));
    cut.setTimeoutMs(500);
    ASSERT_TRUE(cut.start().ok);
    EXPECT_EQ(cut.request(kReadRecords, {}, kReadBufferSize).error, EPIPE);
}

TEST_F(FakeHelper, AnswersAreCutToTheOutputSizeAsked)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    monitor::HelperCaptureDevice device(script(hello + R"(
head -c 12 >/dev/null; printf '\001\000\000\000\000\000\000\000\010\000\000\00012345678'; exec sleep 30)"));
    device.setTimeoutMs(500);
    ASSERT_TRUE(device.start().ok);
    monitor::CaptureAnswer a = device.request(kHookSerial, {}, 4);
    EXPECT_TRUE(a.ok);
    EXPECT_EQ(a.output, (std::vector<uint8_t>{'1', '2', '3', '4'}));
}

// Unloading must come back within one answer's time whatever the helper
// does: this one neither answers its quit request nor minds SIGTERM.
TEST_F(FakeHelper, UnloadingAHelperThatIgnoresQuitAndSigtermReturnsInTime)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    monitor::HelperCaptureDevice device(script("trap '' TERM HUP\n" + hello + "\nexec sleep 30"));
    device.setTimeoutMs(600);
    ASSERT_TRUE(device.start().ok);
    const pid_t pid = device.pid();
    const auto before = std::chrono::steady_clock::now();
    device.unload();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(600 + 300));
    EXPECT_FALSE(device.loaded());
    EXPECT_TRUE(gone(pid)); // we may signal it: SIGKILL ended it
}

// As with pkexec, the helper runs as root and the program as the user: it
// cannot be signalled, so it is left to end itself once its input closes.
TEST_F(FakeHelper, AHelperThatCannotBeSignalledIsLeftToEndItself)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play both users";
    const std::string path = script("trap '' TERM HUP\n" + hello + "\ncat >/dev/null\nsleep 1");
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t client = ::fork();
    ASSERT_GE(client, 0);
    if (client == 0) {
        monitor::HelperCaptureDevice device(path);
        device.setTimeoutMs(600);
        long result[2] = {-1, -1};
        if (device.start().ok) {
            result[0] = device.pid();
            if (::setresuid(65534, 65534, 65534) != 0) ::_exit(3);
            const auto before = std::chrono::steady_clock::now();
            device.unload();
            result[1] = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before)
                            .count();
        }
        (void)!::write(report[1], result, sizeof result);
        ::_exit(0);
    }
    ::close(report[1]);
    long result[2] = {0, 0};
    ASSERT_EQ(::read(report[0], result, sizeof result), static_cast<ssize_t>(sizeof result));
    ::close(report[0]);
    ::waitpid(client, nullptr, 0);
    ASSERT_GT(result[0], 0);
    EXPECT_GE(result[1], 0);
    EXPECT_LT(result[1], 600 + 300);
    // It ends a second after its input closed.
    bool ended = false;
    for (int i = 0; i < 300 && !ended; ++i) {
        ended = gone(static_cast<pid_t>(result[0]));
        if (!ended) ::usleep(10000);
    }
    EXPECT_TRUE(ended);
}

// pkexec exits 126 when its dialog was dismissed and 127 when the password
// was wrong or the user not allowed: asking again would only show the
// dialog a second time.
TEST_F(FakeHelper, APasswordNotGivenIsToldApartAndNotAskedForAgain)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the client as a user";
    const std::string helper = script(hello + "\nexec sleep 30");
    const std::string asked = dir.file("asked");
    ::chmod(dir.path().c_str(), 0777);
    for (int code : {126, 127}) {
        std::remove(asked.c_str());
        const std::string launcher = dir.file("pkexec" + std::to_string(code));
        test::TempDir::writeFile(launcher, "#!/bin/sh\necho x >>" + asked + "\nexit " + std::to_string(code) + "\n");
        ::chmod(launcher.c_str(), 0755);
        const pid_t client = ::fork();
        ASSERT_GE(client, 0);
        if (client == 0) {
            if (::setresuid(65534, 65534, 65534) != 0) ::_exit(3);
            monitor::HelperCaptureDevice device(helper);
            device.setLauncher(launcher);
            monitor::MonitorDriver driver(&device);
            const bool loaded = driver.loadDriverService();
            ::_exit(!loaded && driver.lastLoadFailure() == monitor::LoadFailure::PasswordRefused ? 0 : 4);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(client, &status, 0), client);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << code;
        EXPECT_EQ(test::TempDir::readFile(asked), "x\n") << code;
    }
}

// The window closing while a password is asked for: the load gives up at once.
TEST_F(FakeHelper, ACancelledLoadReturnsAtOnceAndEndsWhatItStarted)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    monitor::HelperCaptureDevice device(script("exec sleep 30"));
    device.setTimeoutMs(5000); // the handshake alone could wait 10 s
    monitor::LoadFailure result = monitor::LoadFailure::None;
    std::thread loading([&] { result = device.load(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto before = std::chrono::steady_clock::now();
    device.setLoadCancelled(true);
    loading.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
    EXPECT_EQ(result, monitor::LoadFailure::Cancelled);
    EXPECT_EQ(device.pid(), -1);
    // Until loads are allowed again, none starts.
    EXPECT_EQ(device.load(), monitor::LoadFailure::Cancelled);
    device.setLoadCancelled(false);
    monitor::HelperCaptureDevice other(script(hello + "\nexec sleep 30"));
    other.setLoadCancelled(true);
    other.setLoadCancelled(false);
    other.setTimeoutMs(500);
    EXPECT_EQ(other.load(), monitor::LoadFailure::None);
}

TEST(HelperClient, AMissingHelperIsToldWithoutStartingAnything)
{
    monitor::HelperCaptureDevice device("/nonexistent/quillon-portmon");
    EXPECT_EQ(device.load(), monitor::LoadFailure::HelperMissing);
    EXPECT_EQ(device.pid(), -1);
}

} // namespace
