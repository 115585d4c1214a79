// Images of real volumes for the window tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace imbrex::test {

// Makes image, a new image holding the raw volume as partition 1; false when it could not be made (the
// reason is a test failure).
bool writeVolumeImage(const std::filesystem::path &raw, const std::string &image, uint32_t compression = 0,
                      const char *password = nullptr);

// A FAT volume in dir whose file far.bin lies behind 8 MB of other data, so that reading it walks the
// compressed stream far past what listing the root decoded. Empty when mkfs.fat or mtools are missing.
std::filesystem::path makeFatWithFarFile(const std::filesystem::path &dir);

} // namespace imbrex::test
