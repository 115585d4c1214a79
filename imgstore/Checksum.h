// The checksum that guards every superblock, catalog, bitmap, chunk table and chunk of an image: XXH3, 64
// bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace imbrex::zbi {

uint64_t checksum(std::span<const std::byte> data);
// The checksum of two pieces as if they were one run of bytes.
uint64_t checksum(std::span<const std::byte> first, std::span<const std::byte> second);

// The checksum of bytes that arrive in pieces: the same as checksum() of all of them in one run.
class ChecksumStream
{
public:
    ChecksumStream();
    ~ChecksumStream();
    ChecksumStream(const ChecksumStream &) = delete;
    ChecksumStream &operator=(const ChecksumStream &) = delete;

    void update(std::span<const std::byte> data);
    uint64_t digest() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace imbrex::zbi
