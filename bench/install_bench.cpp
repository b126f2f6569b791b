// Runs the engine's install run once, without a window, and prints figures:
//   install_bench SITE_HOST DEST PRODUCT [--no-progress] [https]
// (https: as an installer built for an HTTPS site)
// prints "seconds=<s> put_in_place_seconds=<s> peak_working_set=<bytes> idle_working_set=<bytes> result=<OK|FAILED>".
#include "bench/working_set.h"
#include "engine/fetch_status.h"
#include "engine/install_run.h"
#include "runtime/exceptions.h"
#include "tests/support/fake_form.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

using namespace runtime;
using namespace engine;

namespace {

class BenchForm : public FakeForm {
public:
    bool showProgress = true;
    std::string statusLine;
    int statusChanges = 0;
    // When the last two log lines came: the last file's and "OK".
    std::chrono::steady_clock::time_point beforeLastLine, lastLine;

    void AppendLogLine(const std::string& line) override {
        FakeForm::AppendLogLine(line);
        beforeLastLine = lastLine;
        lastLine = std::chrono::steady_clock::now();
    }

    void ShowFileProgress(const FileProgress& progress) override {
        if (!showProgress) return;
        if (std::optional<std::string> text = status_.Next(progress, GetTickCount())) {
            statusLine = *text;
            ++statusChanges;
        }
    }

private:
    FetchStatus status_;
};

}  // namespace

int main(int argc, char** argv) {
    bool noProgress = false;
    bool https = false;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-progress") == 0) noProgress = true;
        else if (std::strcmp(argv[i], "https") == 0) https = true;
        else argc = 0;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: install_bench SITE_HOST DEST PRODUCT [--no-progress] [https]\n");
        return 2;
    }
    // The form without a window: no panel to paint, the log kept in memory;
    // the status line made and paced as the window's is (unless --no-progress).
    BenchForm form;
    form.siteHost = argv[1];
    form.destination = argv[2];
    form.programName = argv[3];
    form.siteOverHttps = https;
    form.runAfterInstall = false;
    form.showProgress = !noProgress;
    const size_t idle = WorkingSet(false);
    const auto start = std::chrono::steady_clock::now();
    try {
        RunInstall(form);
    } catch (const Exception& e) {
        std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    const bool succeeded = !form.log.empty() && form.Message(form.log.size() - 1) == "OK";
    // From the last file's line to "OK": putting the files in place.
    const std::chrono::duration<double> putInPlace = form.lastLine - form.beforeLastLine;
    std::printf("seconds=%.3f put_in_place_seconds=%.3f peak_working_set=%zu idle_working_set=%zu result=%s\n",
                seconds.count(), putInPlace.count(), WorkingSet(true), idle, succeeded ? "OK" : "FAILED");
    if (!succeeded && !form.log.empty()) std::fprintf(stderr, "last line: %s\n", form.log.back().c_str());
    return succeeded ? 0 : 1;
}
