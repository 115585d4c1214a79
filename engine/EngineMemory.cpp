#include "engine/EngineMemory.h"

#include <cstdlib>
#include <utility>

#include "common/ResultCodes.h"
#include "engine/Diagnostics.h"

namespace imbrex::engine {

namespace {
MemoryFaultHook g_faultHook;
}

int zbGetMemory(size_t size, void **out)
{
    if (out == nullptr)
        return rc::kOutOfMemory;
    *out = nullptr;
    if (size == 0) {
        logDiagnostic("zbGetMemory: size = 0\n");
        return rc::kOutOfMemory;
    }
    if (g_faultHook && g_faultHook(size))
        return rc::kOutOfMemory;
    *out = std::calloc(1, size);
    return *out != nullptr ? rc::kOk : rc::kOutOfMemory;
}

void zbFreeMemory(void **pointer)
{
    if (pointer == nullptr || *pointer == nullptr)
        return;
    std::free(*pointer);
    *pointer = nullptr;
}

void setMemoryFaultHook(MemoryFaultHook hook)
{
    g_faultHook = std::move(hook);
}

EngineBuffer::EngineBuffer(EngineBuffer &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0))
{
}

EngineBuffer &EngineBuffer::operator=(EngineBuffer &&other) noexcept
{
    if (this != &other) {
        reset();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

int EngineBuffer::allocate(size_t size)
{
    reset();
    const int result = zbGetMemory(size, &m_data);
    if (result == rc::kOk)
        m_size = size;
    return result;
}

void EngineBuffer::reset()
{
    zbFreeMemory(&m_data);
    m_size = 0;
}

} // namespace imbrex::engine
