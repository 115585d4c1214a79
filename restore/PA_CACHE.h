// PA_CACHE: one buffer of decompressed partition data, and the process-wide ring of them with its clock.
//
// A node holds the data of one fill: 64 KiB of the decompressing stream plus the store's tail bytes. It
// knows which blocks begin in it (firstBlock to lastBlock; an empty node matches no block) and where the
// first of them begins. The ring keeps the nodes in a circle with a head; every use stamps a node with the
// clock, so the node with the smallest stamp is the least recently used. The head whose stamp equals the
// clock is "current": the data stream stands right behind its buffer, unless the stream was moved by other
// means since the head was filled (StreamMoved).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/EngineMemory.h"

namespace imbrex::restore {

inline constexpr uint32_t kCacheBufferBytes = 131072;
inline constexpr uint32_t kCacheNodeCount = 4;
inline constexpr uint32_t kEmptyFirstBlock = 0xFFFFFFFF;
inline constexpr uint32_t kEmptyLastBlock = 0xFFFFFFFE;
// The clock restarts after this value.
inline constexpr uint32_t kClockLimit = 0x7FFFFFFE;

struct PA_CACHE
{
    PA_CACHE *next = nullptr;
    uint32_t stamp = 0;
    uint32_t firstBlock = kEmptyFirstBlock;
    uint32_t lastBlock = kEmptyLastBlock;
    uint32_t firstBlockOffset = 0;
    uint32_t validLength = 0;
    uint64_t streamPosition = 0;
    engine::EngineBuffer buffer;
    // The first block that begins after this buffer, and where it begins in the buffer that follows.
    uint32_t nextBlock = kEmptyFirstBlock;
    uint32_t nextBlockOffset = 0;

    bool holds(uint32_t block) const { return firstBlock <= block && block <= lastBlock; }
    // Forgets the data: the node matches no block until it is filled again.
    void empty()
    {
        firstBlock = kEmptyFirstBlock;
        lastBlock = kEmptyLastBlock;
        firstBlockOffset = 0;
        validLength = 0;
        nextBlock = kEmptyFirstBlock;
        nextBlockOffset = 0;
    }
};

class PaCacheRing
{
public:
    // Destroys any existing ring, resets the clock and creates count nodes with their buffers, then ticks
    // once. 0, or 1806 when a node or buffer cannot be allocated (the ring is then empty).
    int create(uint32_t count = kCacheNodeCount);
    void destroy();

    void tick();
    // The data stream was moved by something other than a fill of the head: no node is current until the
    // next MakeCurrent, however recently it is touched.
    void streamMoved() { m_streamBehindHead = false; }
    // The first node, from the head, that holds block; current tells whether it is current.
    PA_CACHE *lookup(uint32_t block, bool *current);
    bool isCurrent(const PA_CACHE *node) const;
    // 0, or 1896 when the node is not in the ring.
    int touch(PA_CACHE *node);
    int makeCurrent(PA_CACHE *node);
    // The node with the smallest stamp, the first from the head among equals; nullptr for an empty ring.
    PA_CACHE *leastRecentlyUsed() const;

    PA_CACHE *head() const { return m_head; }
    uint32_t Clock() const { return m_clock; }
    size_t size() const { return m_nodes.size(); }
    // Sets the clock, so that tests can reach its restart.
    void setClock(uint32_t clock) { m_clock = clock; }

private:
    bool contains(const PA_CACHE *node) const;

    std::vector<std::unique_ptr<PA_CACHE>> m_nodes;
    PA_CACHE *m_head = nullptr;
    uint32_t m_clock = 0;
    bool m_streamBehindHead = false;
};

// The one ring of the process, used by the open partition access.
PaCacheRing &paCacheRing();

} // namespace imbrex::restore
