// Moving bytes from one file to another with the fewest copies the system offers: inside the kernel where
// both files allow it (and without any copy where the file system can share the blocks), else by writing
// them out from memory.
#pragma once

#include <cstdint>
#include <span>

#include "File.h"

namespace imbrex::platform {

// Copies length bytes from offset from of source to offset to of target, all of them or fails (error codes
// as File::writeAt's). inHand, when not empty, holds the same bytes, already read: where the kernel cannot
// copy between these files they are written from there instead of being read again. A fault hook set for
// tests is asked as for a write of length bytes at to.
[[nodiscard]] int copyFileRange(File &source, uint64_t from, File &target, uint64_t to, uint64_t length,
                                std::span<const std::byte> inHand = {});

} // namespace imbrex::platform
