#include "PA_CACHE.h"

#include <new>

#include "common/ResultCodes.h"

namespace imbrex::restore {

PaCacheRing &paCacheRing()
{
    static PaCacheRing ring;
    return ring;
}

int PaCacheRing::Create(uint32_t count)
{
    Destroy();
    m_clock = 0;
    for (uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<PA_CACHE> node(new (std::nothrow) PA_CACHE);
        if (!node || node->buffer.allocate(kCacheBufferBytes) != 0) {
            Destroy();
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
    Tick();
    return rc::kOk;
}

void PaCacheRing::Destroy()
{
    m_head = nullptr;
    m_streamBehindHead = false;
    m_nodes.clear();
}

void PaCacheRing::Tick()
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

PA_CACHE *PaCacheRing::Lookup(uint32_t block, bool *current)
{
    *current = false;
    PA_CACHE *node = m_head;
    for (size_t i = 0; node && i < m_nodes.size(); ++i, node = node->next) {
        if (node->Holds(block)) {
            *current = IsCurrent(node);
            if (!*current)
                (void)Touch(node);
            return node;
        }
    }
    return nullptr;
}

bool PaCacheRing::IsCurrent(const PA_CACHE *node) const
{
    return node != nullptr && node == m_head && m_streamBehindHead && node->stamp >= m_clock;
}

int PaCacheRing::Touch(PA_CACHE *node)
{
    if (!contains(node))
        return rc::kNoCacheNode;
    if (node->stamp < m_clock) {
        Tick();
        node->stamp = m_clock;
    }
    return rc::kOk;
}

int PaCacheRing::MakeCurrent(PA_CACHE *node)
{
    if (int e = Touch(node))
        return e;
    m_head = node;
    m_streamBehindHead = true;
    return rc::kOk;
}

PA_CACHE *PaCacheRing::LeastRecentlyUsed() const
{
    PA_CACHE *best = nullptr;
    PA_CACHE *node = m_head;
    for (size_t i = 0; node && i < m_nodes.size(); ++i, node = node->next)
        if (best == nullptr || node->stamp < best->stamp)
            best = node;
    return best;
}

} // namespace imbrex::restore
