#include "Checksum.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace imbrex::zbi {

uint64_t checksum(std::span<const std::byte> data)
{
    return XXH3_64bits(data.data(), data.size());
}

uint64_t checksum(std::span<const std::byte> first, std::span<const std::byte> second)
{
    XXH3_state_t state;
    XXH3_64bits_reset(&state);
    XXH3_64bits_update(&state, first.data(), first.size());
    XXH3_64bits_update(&state, second.data(), second.size());
    return XXH3_64bits_digest(&state);
}

struct ChecksumStream::State
{
    XXH3_state_t xxh;
};

ChecksumStream::ChecksumStream() : m_state(std::make_unique<State>())
{
    XXH3_64bits_reset(&m_state->xxh);
}

ChecksumStream::~ChecksumStream() = default;

void ChecksumStream::update(std::span<const std::byte> data)
{
    XXH3_64bits_update(&m_state->xxh, data.data(), data.size());
}

uint64_t ChecksumStream::digest() const
{
    return XXH3_64bits_digest(&m_state->xxh);
}

} // namespace imbrex::zbi
