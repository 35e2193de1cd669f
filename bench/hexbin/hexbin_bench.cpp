// Times the CRC engines against zlib and quillon-cli against objcopy,
// srec_cat and xxd on one 64 MiB random image, and prints the ratios.
// Usage: hexbin_bench [work-dir] [MiB]

#include "tools/hexbin/crc.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <zlib.h>

using namespace quillon::hexbin;
using Clock = std::chrono::steady_clock;

namespace {

template <typename F>
double bestSeconds(int runs, F&& f)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

// Wall time and CPU time (user + system) of one run of a shell command. The
// machine is shared, so CPU time is the steadier figure; wall time includes
// waiting for the disk and for other processes.
struct Times {
    double wall = 0, cpu = 0, user = 0;
};

double childCpu(bool userOnly = false)
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    const double user = double(ru.ru_utime.tv_sec) + double(ru.ru_utime.tv_usec) / 1e6;
    return userOnly ? user : user + double(ru.ru_stime.tv_sec) + double(ru.ru_stime.tv_usec) / 1e6;
}

// Best of two runs, so that page-cache effects of the first run do not count.
// The output is removed before each run: replacing an existing file makes
// the file system flush it on close, which would time the disk, not the tool.
Times command(const std::string& cmd, const std::string& output = {})
{
    Times best{1e30, 1e30, 1e30};
    for (int i = 0; i < 2; ++i) {
        if (!output.empty()) std::filesystem::remove(output);
        int rc = 0;
        const double cpu0 = childCpu(), user0 = childCpu(true);
        const double wall = bestSeconds(1, [&] { rc = std::system(cmd.c_str()); });
        best.wall = std::min(best.wall, wall);
        best.cpu = std::min(best.cpu, childCpu() - cpu0);
        best.user = std::min(best.user, childCpu(true) - user0);
        if (rc != 0) std::printf("  ! command failed (%d): %s\n", rc, cmd.c_str());
    }
    return best;
}

void row(const char* what, Times q, const char* otherName, Times o)
{
    std::printf("  %-8s quillon %5.2f s wall %5.2f cpu %5.2f user | %-8s %5.2f s wall %5.2f cpu %5.2f user | ratio "
                "%4.1fx wall %4.1fx cpu %4.1fx user\n",
                what, q.wall, q.cpu, q.user, otherName, o.wall, o.cpu, o.user, o.wall / q.wall, o.cpu / q.cpu,
                o.user / q.user);
}

volatile uint32_t sink;

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : "/tmp/quillon-hexbin-bench";
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 64;
    std::filesystem::create_directories(dir);
    const std::size_t size = mib << 20;
    std::string data(size, '\0');
    std::mt19937_64 rng(42);
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t v = rng();
        std::memcpy(&data[i], &v, 8);
    }
    const std::string bin = dir + "/image.bin";
    std::ofstream(bin, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    const double gb = double(size) / 1e9;
    std::printf("image: %zu MiB random, carry-less multiply: %s\n\n", mib, crcUsesClmul() ? "yes" : "no");

    std::printf("CRC (in memory, best of 5)\n");
    const double tZlib = bestSeconds(5, [&] {
        sink = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(size)));
    });
    const uint32_t zlibValue = sink;
    const double t32 = bestSeconds(5, [&] { sink = crcOf(CrcKind::Crc32, data); });
    std::printf("  zlib crc32            %7.2f GB/s\n", gb / tZlib);
    std::printf("  CRC-32                %7.2f GB/s  (%.2fx zlib)%s\n", gb / t32, tZlib / t32,
                sink == zlibValue ? "" : "  VALUE MISMATCH");
    for (auto [kind, name] : {std::pair{CrcKind::Ccitt, "CRC-16/XMODEM"}, std::pair{CrcKind::Crc16, "CRC-16/UMTS"}}) {
        const double t = bestSeconds(5, [&] { sink = crcOf(kind, data); });
        std::printf("  %-21s %7.2f GB/s\n", name, gb / t);
    }
    crcForceTables(true);
    const double t32t = bestSeconds(3, [&] { sink = crcOf(CrcKind::Crc32, data); });
    const double t16t = bestSeconds(3, [&] { sink = crcOf(CrcKind::Ccitt, data); });
    crcForceTables(false);
    std::printf("  (tables only: CRC-32 %.2f GB/s, CRC-16 %.2f GB/s)\n\n", gb / t32t, gb / t16t);

    const std::string cli = QUILLON_CLI_PATH;
    const std::string hex = dir + "/image.hex";
    std::printf("Files (best of two runs; 'ratio' = their time / ours)\n");
    const Times qB2H = command(cli + " bin2hex " + bin + " " + hex, hex);
    const Times oB2H = command("objcopy -I binary -O ihex " + bin + " " + dir + "/objcopy.hex", dir + "/objcopy.hex");
    const Times sB2H =
        command("srec_cat " + bin + " -Binary -o " + dir + "/srec.hex -Intel -Output_Block_Size 16", dir + "/srec.hex");
    row("bin2hex", qB2H, "objcopy", oB2H);
    row("bin2hex", qB2H, "srec_cat", sB2H);
    std::filesystem::remove(dir + "/objcopy.hex");
    std::filesystem::remove(dir + "/srec.hex");

    const Times qH2B =
        command(cli + " hex2bin --extended " + hex + " " + dir + "/back.bin > /dev/null", dir + "/back.bin");
    const Times oH2B = command("objcopy -I ihex -O binary " + hex + " " + dir + "/objcopy.bin", dir + "/objcopy.bin");
    const Times sH2B = command("srec_cat " + hex + " -Intel -o " + dir + "/srec.bin -Binary", dir + "/srec.bin");
    row("hex2bin", qH2B, "objcopy", oH2B);
    row("hex2bin", qH2B, "srec_cat", sH2B);
    std::ifstream back(dir + "/back.bin", std::ios::binary);
    const std::string backBytes((std::istreambuf_iterator<char>(back)), {});
    if (backBytes != data) std::printf("  ! hex2bin did not give back the image\n");

    const Times qArr = command(cli + " array " + bin + " > /dev/null");
    const Times xArr = command("xxd -i " + bin + " > /dev/null");
    row("array", qArr, "xxd -i", xArr);

    std::filesystem::remove_all(dir);
    return 0;
}
