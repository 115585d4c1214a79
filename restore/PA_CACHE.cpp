#include "PA_CACHE.h"

#include <new>

#include "common/ResultCodes.h"

namespace imbrex::restore {

PaCacheRing &paCacheRing()
{
    static PaCacheRing ring;
    return ring;
}

int PaCacheRing::create(uint32_t count)
{
    destroy();
    m_clock = 0;
    for (uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<PA_CACHE> node(new (std::nothrow) PA_CACHE);
        if (!node || node->buffer.allocate(kCacheBufferBytes) != 0) {
            destroy();
            return rc::kCacheAllocation;
        }
        if (m_head == nullptr) {
            m_head = node.get();
            node->next = node.get();
        } else {
            node->next = m_head->next;
            m_head->next = node.get();
        }
        m_nodes.push_back(std::move(node));
    }
    tick();
    return rc::kOk;
}

void PaCacheRing::destroy()
{
    m_head = nullptr;
    m_streamBehindHead = false;
    m_nodes.clear();
}

void PaCacheRing::tick()
{
    uint32_t old = m_clock++;
    if (old == kClockLimit) {
        for (auto &node : m_nodes)
            node->stamp = 0;
        m_clock = 1;
        if (m_head)
            m_head->stamp = 1;
    }
}

bool PaCacheRing::contains(const PA_CACHE *node) const
{
    for (const auto &n : m_nodes)
        if (n.get() == node)
            return true;
    return false;
}

PA_CACHE *PaCacheRing::lookup(uint32_t block, bool *current)
{
    *current = false;
    PA_CACHE *node = m_head;
    for (size_t i = 0; node && i < m_nodes.size(); ++i, node = node->next) {
        if (node->holds(block)) {
            *current = isCurrent(node);
            if (!*current)
                (void)touch(node);
            return node;
        }
    }
    return nullptr;
}

bool PaCacheRing::isCurrent(const PA_CACHE *node) const
{
    return node != nullptr && node == m_head && m_streamBehindHead && node->stamp >= m_clock;
}

int PaCacheRing::touch(PA_CACHE *node)
{
    if (!contains(node))
        return rc::kNoCacheNode;
    if (node->stamp < m_clock) {
        tick();
        node->stamp = m_clock;
    }
    return rc::kOk;
}

int PaCacheRing::makeCurrent(PA_CACHE *node)
{
    if (int e = touch(node))
        return e;
    m_head = node;
    m_streamBehindHead = true;
    return rc::kOk;
}

PA_CACHE *PaCacheRing::leastRecentlyUsed() const
{
    PA_CACHE *best = nullptr;
    PA_CACHE *node = m_head;
    for (size_t i = 0; node && i < m_nodes.size(); ++i, node = node->next)
        if (best == nullptr || node->stamp < best->stamp)
            best = node;
    return best;
}

} // namespace imbrex::restore
