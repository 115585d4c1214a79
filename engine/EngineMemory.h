// The engine's memory library. zbGetMemory hands out zero-filled blocks that are freed with zbFreeMemory and
// nothing else. EngineBuffer owns one such block for code that wants RAII. Tests can make allocations fail
// with setMemoryFaultHook.
#pragma once

#include <cstddef>
#include <functional>
#include <span>

namespace imbrex::engine {

// Allocates size zero-filled bytes into *out. 3 when size is 0 (logged as "zbGetMemory: size = 0\n") or
// when the memory is not available; *out is then nullptr.
int zbGetMemory(size_t size, void **out);
// Frees *pointer and sets it to nullptr; a null pointer (or a null *pointer) is ignored.
void zbFreeMemory(void **pointer);

template <typename T> int zbGetMemory(size_t size, T **out)
{
    void *p = nullptr;
    const int rc = zbGetMemory(size, &p);
    *out = static_cast<T *>(p);
    return rc;
}

template <typename T> void zbFreeMemory(T **pointer)
{
    if (pointer == nullptr)
        return;
    void *p = *pointer;
    zbFreeMemory(&p);
    *pointer = nullptr;
}

// Called with the size of every allocation; returning true makes it fail with 3. An empty hook removes it.
using MemoryFaultHook = std::function<bool(size_t size)>;
void setMemoryFaultHook(MemoryFaultHook hook);

// One block from zbGetMemory, freed when the buffer is destroyed or reallocated.
class EngineBuffer
{
public:
    EngineBuffer() = default;
    ~EngineBuffer() { reset(); }
    EngineBuffer(const EngineBuffer &) = delete;
    EngineBuffer &operator=(const EngineBuffer &) = delete;
    EngineBuffer(EngineBuffer &&other) noexcept;
    EngineBuffer &operator=(EngineBuffer &&other) noexcept;

    // Frees the old block and allocates size zero-filled bytes; 0 or 3 (the buffer is then empty).
    int allocate(size_t size);
    void reset();

    std::byte *data() { return m_data; }
    const std::byte *data() const { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_data == nullptr; }
    std::span<std::byte> span() { return {m_data, m_size}; }
    std::span<const std::byte> span() const { return {m_data, m_size}; }

private:
    std::byte *m_data = nullptr;
    size_t m_size = 0;
};

} // namespace imbrex::engine
