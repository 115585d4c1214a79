// Little-endian loads and stores over byte spans, built from shifts so that they are independent of the
// host's byte order and alignment. Callers check bounds first; these functions assume the span is long
// enough.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace imbrex {

inline uint16_t loadLe16(std::span<const std::byte> b, size_t off)
{
    return static_cast<uint16_t>(std::to_integer<uint16_t>(b[off]) |
                                 (std::to_integer<uint16_t>(b[off + 1]) << 8));
}

inline uint32_t loadLe32(std::span<const std::byte> b, size_t off)
{
    return std::to_integer<uint32_t>(b[off]) | (std::to_integer<uint32_t>(b[off + 1]) << 8) |
           (std::to_integer<uint32_t>(b[off + 2]) << 16) | (std::to_integer<uint32_t>(b[off + 3]) << 24);
}

inline uint64_t loadLe64(std::span<const std::byte> b, size_t off)
{
    return static_cast<uint64_t>(loadLe32(b, off)) | (static_cast<uint64_t>(loadLe32(b, off + 4)) << 32);
}

inline void storeLe16(std::span<std::byte> b, size_t off, uint16_t v)
{
    b[off] = static_cast<std::byte>(v & 0xFF);
    b[off + 1] = static_cast<std::byte>(v >> 8);
}

inline void storeLe32(std::span<std::byte> b, size_t off, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i)
        b[off + i] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
}

inline void storeLe64(std::span<std::byte> b, size_t off, uint64_t v)
{
    storeLe32(b, off, static_cast<uint32_t>(v));
    storeLe32(b, off + 4, static_cast<uint32_t>(v >> 32));
}

} // namespace imbrex
