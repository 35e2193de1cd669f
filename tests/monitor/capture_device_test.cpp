// The channel client against stand-in helpers that misbehave: it must
// report the failure, never hang, and leave no process behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "monitor/capture_device.h"
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
    HelperCaptureDevice device(script("exit 0"));
    device.setTimeoutMs(300);
    HelperStart s = device.start();
    EXPECT_FALSE(s.ok);
    EXPECT_FALSE(device.running());
    EXPECT_EQ(device.pid(), -1);
}

TEST_F(FakeHelper, TheHelpersRefusalIsPassedOn)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    // Failure, EPERM (1), and its reason.
    HelperCaptureDevice device(script(R"(printf 'QPM1\000\000\000\000\001\000\000\000\007\000\000\000no BPF!')"));
    HelperStart s = device.start();
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.error, EPERM);
    EXPECT_EQ(s.message, "no BPF!");
}

TEST_F(FakeHelper, ASilentHelperTimesOutAndIsEnded)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    HelperCaptureDevice device(script(hello + "\nexec sleep 30"));
    device.setTimeoutMs(300);
    HelperStart s = device.start();
    ASSERT_TRUE(s.ok) << s.message;
    EXPECT_EQ(s.message, "ok");
    const pid_t pid = device.pid();
    const auto before = std::chrono::steady_clock::now();
    CaptureAnswer a = device.request(kReadRecords, {}, kReadBufferSize);
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
    HelperCaptureDevice big(script(hello + R"(
head -c 12 >/dev/null; printf '\001\000\000\000\000\000\000\000\000\000\000\001'; exec sleep 30)"));
    big.setTimeoutMs(500);
    ASSERT_TRUE(big.start().ok);
    EXPECT_EQ(big.request(kReadRecords, {}, kReadBufferSize).error, EPIPE);
    EXPECT_FALSE(big.running());

    // Promises 8 bytes, sends 3 and exits.
    HelperCaptureDevice cut(script(hello + R"(
head -c 12 >/dev/null; printf '\001\000\000\000\000\000\000\000\010\000\000\000abc')"));
    cut.setTimeoutMs(500);
    ASSERT_TRUE(cut.start().ok);
    EXPECT_EQ(cut.request(kReadRecords, {}, kReadBufferSize).error, EPIPE);
}

TEST_F(FakeHelper, AnswersAreCutToTheOutputSizeAsked)
{
    if (::geteuid() != 0) GTEST_SKIP() << "starts the helper directly only as root";
    HelperCaptureDevice device(script(hello + R"(
head -c 12 >/dev/null; printf '\001\000\000\000\000\000\000\000\010\000\000\00012345678'; exec sleep 30)"));
    device.setTimeoutMs(500);
    ASSERT_TRUE(device.start().ok);
    CaptureAnswer a = device.request(kHookSerial, {}, 4);
    EXPECT_TRUE(a.ok);
    EXPECT_EQ(a.output, (std::vector<uint8_t>{'1', '2', '3', '4'}));
}

} // namespace
