// Replay driver for a fuzz target: runs LLVMFuzzerTestOneInput over the files named on the command line
// (directories are walked), or, without arguments, over the target's built-in seeds and deterministic
// mutations of each (byte changes, interesting values, truncations), 2000 per seed unless "--mutations N"
// says otherwise. "--write-seeds DIR" writes the built-in seeds as files, to start a libFuzzer corpus.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "FuzzTarget.h"

namespace {

constexpr long kDefaultMutationsPerSeed = 2000;
constexpr std::array<uint8_t, 8> kInterestingBytes = {0x00, 0x01, 0x7F, 0x80, 0x81, 0xF4, 0xFE, 0xFF};

void runOne(const std::vector<uint8_t> &input)
{
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

bool replayFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    runOne(data);
    return true;
}

bool writeSeeds(const std::filesystem::path &dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const auto seeds = imbrex::fuzz::builtInSeeds();
    for (size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream out(dir / ("seed-" + std::to_string(i)), std::ios::binary);
        out.write(reinterpret_cast<const char *>(seeds[i].data()),
                  static_cast<std::streamsize>(seeds[i].size()));
        if (!out) {
            std::fprintf(stderr, "cannot write seeds to %s\n", dir.string().c_str());
            return false;
        }
    }
    return true;
}

void mutateSeeds(long mutationsPerSeed)
{
    std::mt19937_64 random(20240601);
    const auto seeds = imbrex::fuzz::builtInSeeds();
    for (const auto &seed : seeds) {
        runOne(seed);
        if (seed.empty())
            continue;
        for (long i = 0; i < mutationsPerSeed; ++i) {
            std::vector<uint8_t> input = seed;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int c = 0; c < changes; ++c) {
                const size_t at = static_cast<size_t>(random() % input.size());
                if (random() % 2 == 0)
                    input[at] = kInterestingBytes[static_cast<size_t>(random() % kInterestingBytes.size())];
                else
                    input[at] = static_cast<uint8_t>(random());
            }
            if (random() % 16 == 0)
                input.resize(static_cast<size_t>(random() % (input.size() + 1)));
            runOne(input);
        }
    }
    std::printf("replayed %zu seeds with %ld mutations each\n", seeds.size(), mutationsPerSeed);
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    long mutations = kDefaultMutationsPerSeed;
    if (args.size() == 2 && args[0] == "--mutations") {
        mutations = std::strtol(args[1].c_str(), nullptr, 10);
        args.clear();
    }
    if (args.empty()) {
        mutateSeeds(mutations);
        return 0;
    }
    if (args[0] == "--write-seeds")
        return args.size() == 2 && writeSeeds(args[1]) ? 0 : 2;

    int failures = 0;
    int replayed = 0;
    for (const std::string &arg : args) {
        const std::filesystem::path path(arg);
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(path, ec)) {
                if (entry.is_regular_file()) {
                    failures += replayFile(entry.path()) ? 0 : 1;
                    ++replayed;
                }
            }
        } else {
            failures += replayFile(path) ? 0 : 1;
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed - failures);
    return failures == 0 ? 0 : 1;
}
