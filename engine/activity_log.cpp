#include "engine/activity_log.h"

#include "runtime/date_time.h"

namespace engine {

using runtime::DateTimeStamp;
using runtime::MilliSecondsBetween;
using runtime::Now;
using runtime::TDateTime;

void LogMessage(InstallerForm& form, const std::string& message) {
    if (form.LogLineCount() > kLogLineLimit) form.ClearLog();

    const TDateTime now = Now();
    // The whole 64-bit count: a log left open for weeks still shows the true gap.
    const long long elapsed = MilliSecondsBetween(form.LastLogTime(), now);
    form.AppendLogLine(DateTimeStamp(now) + " (" + std::to_string(elapsed) + ") - " + message);
    form.SetLastLogTime(now);
}

}  // namespace engine
