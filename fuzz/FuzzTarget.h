// What every fuzz target source provides. Each target is built twice: as a libFuzzer binary (fuzz builds with
// Clang) and as a replay program that runs the same entry point over files or over the target's built-in
// seeds and deterministic mutations of them, so that every build compiles and exercises it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace imbrex::fuzz {

// A few small, valid inputs that reach deep into the target's parser.
std::vector<std::vector<uint8_t>> builtInSeeds();

} // namespace imbrex::fuzz
