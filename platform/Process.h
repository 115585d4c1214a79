// The running process: its id, and how many times the processes it descends from forked.
#pragma once

#include <cstdint>

namespace imbrex::platform {

// The operating system's id of this process.
int64_t processId();

// The number of forks between the program's start and this process: a child reads one more than its parent
// did when it forked. Threads exist only in the process that started them, so an object that owns threads
// records the count and compares it before it waits for them. Cheaper than asking for the process id on
// every look.
uint64_t forkGeneration();

} // namespace imbrex::platform
