#include "Process.h"

#include <atomic>
#include <pthread.h>
#include <unistd.h>

namespace imbrex::platform {

namespace {

std::atomic<uint64_t> g_forks{0};

} // namespace

int64_t processId()
{
    return static_cast<int64_t>(::getpid());
}

uint64_t forkGeneration()
{
    static const bool registered = [] {
        // The handler runs in the child only. A failed registration (no memory) would leave children counting
        // as their parent; there is nothing else to fall back on, and it does not happen at this size.
        (void)pthread_atfork(nullptr, nullptr, [] { g_forks.fetch_add(1, std::memory_order_relaxed); });
        return true;
    }();
    (void)registered;
    return g_forks.load(std::memory_order_relaxed);
}

} // namespace imbrex::platform
