// Runs the engine's install run once, without a window, and prints figures:
//   install_bench SITE_HOST DEST PRODUCT
// prints "seconds=<s> peak_working_set=<bytes> idle_working_set=<bytes> result=<OK|FAILED>".
#include "engine/install_run.h"
#include "engine/exceptions.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

// The form as the run sees it: no panel to paint, so the log stays in memory.
class HeadlessForm : public InstallerForm {
public:
    HeadlessForm(std::string site, std::string dest, std::string product)
        : site_(std::move(site)), dest_(std::move(dest)), product_(std::move(product)) {}

    const std::string& ProgramName() const override { return product_; }
    TDateTime LastLogTime() const override { return lastLogTime_; }
    void SetLastLogTime(TDateTime value) override { lastLogTime_ = value; }
    std::string DestinationText() const override { return dest_; }
    std::string SiteHost() const override { return site_; }
    bool RunAfterInstall() const override { return false; }
    void SetCancelCaption(const std::string&) override {}
    int LogLineCount() const override { return lines_; }
    void ClearLog() override { lines_ = 0; }
    void AppendLogLine(const std::string& line) override {
        ++lines_;
        lastLine_ = line;
    }
    void ProcessMessages() override {}
    void Close() override {}
    void ShellOpen(const std::string&) override {}

    bool Succeeded() const { return lastLine_.size() >= 2 && lastLine_.compare(lastLine_.size() - 2, 2, "OK") == 0; }
    const std::string& LastLine() const { return lastLine_; }

private:
    std::string site_, dest_, product_;
    TDateTime lastLogTime_ = 0;
    int lines_ = 0;
    std::string lastLine_;
};

size_t WorkingSet(bool peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: install_bench SITE_HOST DEST PRODUCT\n");
        return 2;
    }
    HeadlessForm form(argv[1], argv[2], argv[3]);
    const size_t idle = WorkingSet(false);
    const auto start = std::chrono::steady_clock::now();
    try {
        RunInstall(form);
    } catch (const Exception& e) {
        std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.3f peak_working_set=%zu idle_working_set=%zu result=%s\n", seconds.count(),
                WorkingSet(true), idle, form.Succeeded() ? "OK" : "FAILED");
    if (!form.Succeeded()) std::fprintf(stderr, "last line: %s\n", form.LastLine().c_str());
    return form.Succeeded() ? 0 : 1;
}
