// The main form as the engine sees it, without a window: the log panel is a
// list of lines, and the shell's launches and closing are recorded.
#pragma once

#include "engine/installer_form.h"
#include "tests/support/log_text.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class FakeForm : public engine::InstallerForm {
public:
    std::string programName = "Pelmar";
    runtime::TDateTime lastLogTime = 0;
    std::string destination;
    std::string siteHost;
    bool siteOverHttps = false;
    // The build's signing key; none, as in a build without one.
    std::optional<engine::P256PublicKey> siteKey;
    bool runAfterInstall = true;
    std::string cancelCaption = "Отмена";
    std::vector<std::string> log;
    std::vector<std::string> shellOpened;
    int closeCount = 0;
    int processMessagesCount = 0;
    // Runs inside ProcessMessages, as a click handled while a run waits would.
    std::function<void()> onProcessMessages;
    // Each ShowFileProgress, in order.
    struct Progress {
        std::string entry;
        long long received;
        long long total;
        int index;
        int count;
    };
    std::vector<Progress> progress;
    int waitCount = 0;

    const std::string& ProgramName() const override { return programName; }
    runtime::TDateTime LastLogTime() const override { return lastLogTime; }
    void SetLastLogTime(runtime::TDateTime value) override { lastLogTime = value; }
    std::string DestinationText() const override { return destination; }
    std::string SiteHost() const override { return siteHost; }
    bool SiteOverHttps() const override { return siteOverHttps; }
    const engine::P256PublicKey* SiteSigningKey() const override { return siteKey ? &*siteKey : nullptr; }
    bool RunAfterInstall() const override { return runAfterInstall; }
    void SetCancelCaption(const std::string& caption) override { cancelCaption = caption; }
    int LogLineCount() const override { return static_cast<int>(log.size()); }
    void ClearLog() override { log.clear(); }
    void AppendLogLine(const std::string& line) override { log.push_back(line); }
    void ProcessMessages() override {
        ++processMessagesCount;
        if (onProcessMessages) onProcessMessages();
    }
    bool WaitAnswering(HANDLE event, DWORD timeoutMs) override {
        ++waitCount;
        return WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
    }
    void ShowFileProgress(const engine::FileProgress& p) override {
        progress.push_back({p.entry, p.received, p.total, p.index, p.count});
    }
    void Close() override { ++closeCount; }
    void ShellOpen(const std::string& target) override { shellOpened.push_back(target); }

    // The message part of log line i (after ") - ").
    std::string Message(size_t i) const { return MessageOfLogLine(log.at(i)); }
    std::vector<std::string> Messages() const {
        std::vector<std::string> all;
        for (size_t i = 0; i < log.size(); ++i) all.push_back(Message(i));
        return all;
    }
};
