// Runs the engine's install run once, without a window, and prints figures:
//   install_bench SITE_HOST DEST PRODUCT [https]
// (https: as an installer built for an HTTPS site)
// prints "seconds=<s> peak_working_set=<bytes> idle_working_set=<bytes> result=<OK|FAILED>".
#include "runtime/exceptions.h"
#include "engine/install_run.h"
#include "tests/support/fake_form.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

using namespace runtime;
using namespace engine;

namespace {

size_t WorkingSet(bool peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "https")) {
        std::fprintf(stderr, "usage: install_bench SITE_HOST DEST PRODUCT [https]\n");
        return 2;
    }
    // The form without a window: no panel to paint, the log kept in memory.
    FakeForm form;
    form.siteHost = argv[1];
    form.destination = argv[2];
    form.programName = argv[3];
    form.siteOverHttps = argc == 5;
    form.runAfterInstall = false;
    const size_t idle = WorkingSet(false);
    const auto start = std::chrono::steady_clock::now();
    try {
        RunInstall(form);
    } catch (const Exception& e) {
        std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    const bool succeeded = !form.log.empty() && form.Message(form.log.size() - 1) == "OK";
    std::printf("seconds=%.3f peak_working_set=%zu idle_working_set=%zu result=%s\n", seconds.count(),
                WorkingSet(true), idle, succeeded ? "OK" : "FAILED");
    if (!succeeded && !form.log.empty()) std::fprintf(stderr, "last line: %s\n", form.log.back().c_str());
    return succeeded ? 0 : 1;
}
