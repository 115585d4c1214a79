// The checksum that guards every superblock, catalog, bitmap, chunk table and chunk of an image: XXH3, 64
// bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace imbrex::zbi {

uint64_t checksum(std::span<const std::byte> data);
// The checksum of two pieces as if they were one run of bytes.
uint64_t checksum(std::span<const std::byte> first, std::span<const std::byte> second);

} // namespace imbrex::zbi
