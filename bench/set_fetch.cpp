// The install engine's fetch set on its own, for the figures of fetches kept
// under way at once:
//   set_fetch BASE_URL DEST LIST [N]
// fetches BASE_URL + each line of LIST ("/" separators) to DEST\line through
// one engine::FetchSet, N at once (kFetchesInFlight unless given), taking the
// results in the list's order, and prints "seconds=<s>
// peak_working_set=<bytes> idle_working_set=<bytes> result=<OK|FAILED>".
#include "bench/working_set.h"
#include "engine/fetch_set.h"
#include "runtime/exceptions.h"
#include "tests/support/fake_form.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace engine;

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: set_fetch BASE_URL DEST LIST [N]\n");
        return 2;
    }
    const std::string base = argv[1];
    const std::string dest = argv[2];
    FakeForm form;
    FetchSet set(form, argc == 5 ? std::max(1, std::atoi(argv[4])) : kFetchesInFlight);
    std::ifstream list(argv[3]);
    int count = 0;
    for (std::string line; std::getline(list, line);) {
        if (line.empty()) continue;
        std::string local = dest + "\\" + line;
        std::replace(local.begin(), local.end(), '/', '\\');
        set.Queue({base + line, local, nullptr, line, ++count, 0});
    }
    const size_t idle = WorkingSet(false);
    bool succeeded = true;
    const auto start = std::chrono::steady_clock::now();
    try {
        while (succeeded && set.HasNext()) succeeded = set.TakeNext() > 0;
    } catch (const runtime::Exception& e) {
        std::fprintf(stderr, "error: %s\n", e.Message().c_str());
        succeeded = false;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.3f peak_working_set=%zu idle_working_set=%zu result=%s\n", seconds.count(),
                WorkingSet(true), idle, succeeded ? "OK" : "FAILED");
    return succeeded ? 0 : 1;
}
