// Runs a fuzz target on a fixed series of pseudo-random and mutated inputs,
// so the ordinary test run exercises it without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3000;
    std::mt19937 rng(12345);
    std::vector<uint8_t> input;
    for (int i = 0; i < runs; ++i) {
        if (i % 4 == 0 || input.empty()) {
            input.resize(rng() % 4096);
            for (auto& b : input) b = static_cast<uint8_t>(rng());
        } else {
            // Mutations keep most structure: flip, insert, cut.
            for (int m = 0; m < 4; ++m) {
                const size_t pos = rng() % (input.size() + 1);
                switch (rng() % 3) {
                case 0:
                    if (pos < input.size()) input[pos] ^= static_cast<uint8_t>(1u << (rng() % 8));
                    break;
                case 1: input.insert(input.begin() + pos, static_cast<uint8_t>(rng())); break;
                default: input.resize(pos); break;
                }
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%d inputs\n", runs);
    return 0;
}
