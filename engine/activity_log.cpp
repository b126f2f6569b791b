#include "engine/activity_log.h"

#include "engine/date_time.h"

void LogMessage(InstallerForm& form, const std::string& message) {
    if (form.LogLineCount() > kLogLineLimit) form.ClearLog();

    const TDateTime now = Now();
    // The whole 64-bit count: a log left open for weeks still shows the true gap.
    const long long elapsed = MilliSecondsBetween(form.LastLogTime(), now);
    form.AppendLogLine(DateTimeStamp(now) + " (" + std::to_string(elapsed) + ") - " + message);
    form.SetLastLogTime(now);
}
