// The process's working set, for the benchmarks' figures (psapi).
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstddef>

// The working set now, or its peak so far.
inline size_t WorkingSet(bool peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}
