#include "engine/install_run.h"

#include "engine/activity_log.h"
#include "engine/download.h"
#include "engine/file_system.h"
#include "engine/narrow_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>

namespace {

const char* const kFetchFailed = "Ошибка при получении файла - ";

// Marks the form busy for the length of one run, also when it ends in an exception.
class RunningFlag {
public:
    explicit RunningFlag(InstallerForm& form) : form_(form) { form_.installRunning = true; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;
    ~RunningFlag() { form_.installRunning = false; }

private:
    InstallerForm& form_;  // borrowed
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Windows opens the device whatever extension follows the name, and drops
// trailing blanks before it ("CON .txt").
bool IsDeviceName(std::string_view segment) {
    std::string_view base = segment.substr(0, segment.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
    for (std::string_view name : kPlain) {
        if (EqualsIgnoringCase(base, name)) return true;
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
        std::string_view stem = base.substr(0, 3);
        return EqualsIgnoringCase(stem, "COM") || EqualsIgnoringCase(stem, "LPT");
    }
    return false;
}

// Windows drops trailing dots and blanks from a segment, so ".. " may climb
// like "..".
bool IsParentSegment(std::string_view segment) {
    return segment.find_first_not_of(". ") == std::string_view::npos &&
           std::count(segment.begin(), segment.end(), '.') >= 2;
}

}  // namespace

bool IsSafeManifestEntry(const std::string& entry) {
    if (entry.empty()) return true;
    if (entry.front() == '\\' || entry.front() == '/') return false;
    // A drive, a stream or a device suffix.
    if (entry.find(':') != std::string::npos) return false;
    size_t start = 0;
    while (start <= entry.size()) {
        size_t end = entry.find_first_of("\\/", start);
        if (end == std::string::npos) end = entry.size();
        std::string_view segment(entry.data() + start, end - start);
        if (IsParentSegment(segment) || IsDeviceName(segment)) return false;
        start = end + 1;
    }
    return true;
}

int ReadIniSection(const TStringList& source, TStringList& entries, const std::string& name) {
    entries.Clear();
    int header = source.IndexOf("[" + name + "]");
    if (header < 0 || header == source.Count() - 1) return 0;
    for (int i = header + 1; i < source.Count(); ++i) {
        const std::string& line = source[i];
        if (!line.empty() && line.front() == '[') break;
        entries.Add(line);
    }
    return entries.Count();
}

void OpenDestination(InstallerForm& form) {
    std::string folder = form.DestinationText();
    if (DirectoryExists(folder)) form.ShellOpen(folder);
}

void RunInstall(InstallerForm& form) {
    // Clicks are handled while a run lets messages through; runs never nest.
    if (form.installRunning) return;
    RunningFlag running(form);

    form.ClearLog();
    form.ProcessMessages();

    const std::string dest = form.DestinationText();
    if (!ForceDirectories(dest)) {
        LogMessage(form, "Не могу создать директорию " + dest);
        return;
    }
    LogMessage(form, "Скачиваем файлы...");

    const std::string& programName = form.ProgramName();
    const std::string baseUrl = ReplaceAll(form.SiteHost(), "www.", "http://") + "/Updates/" + programName;
    const std::string manifestRelative = "Resources\\" + programName + ".ini";
    const std::string manifestUrl = baseUrl + "/" + ReplaceAll(manifestRelative, "\\", "/");
    const std::string manifestLocal = dest + "\\" + manifestRelative;

    int last = DownloadFile(form, manifestUrl, manifestLocal);
    if (last < 1) {
        LogMessage(form, kFetchFailed + manifestLocal);
        return;
    }
    LogMessage(form, manifestLocal);

    {
        TStringList manifest;
        manifest.LoadFromFile(manifestLocal);
        TStringList entries;
        ReadIniSection(manifest, entries, "UpdateFiles");
        if (entries.Count() < 2) {
            LogMessage(form, kFetchFailed + manifestLocal);
            return;
        }
        for (int i = 0; i < entries.Count(); ++i) {
            const std::string& entry = entries[i];
            // The manifest may list itself; it is here already.
            if (Pos(manifestRelative, entry) == 1) continue;
            // The manifest comes over plain HTTP: nothing it lists may land
            // outside the destination.
            if (!IsSafeManifestEntry(entry)) {
                LogMessage(form, "Недопустимый путь файла - " + entry);
                last = kDownloadNotOpened;
                break;
            }
            const std::string localPath = dest + "\\" + entry;
            const std::string url = baseUrl + "/" + ReplaceAll(entry, "\\", "/");
            last = DownloadFile(form, url, localPath);
            if (last < 1) {
                LogMessage(form, kFetchFailed + localPath);
                break;
            }
            LogMessage(form, localPath);
            form.ProcessMessages();
        }
    }
    if (last < 1) return;

    LogMessage(form, "OK");
    const bool runAfterInstall = form.RunAfterInstall();
    std::string target = dest + "\\" + programName + ".exe";
    if (!runAfterInstall) {
        target = form.DestinationText();
        form.SetCancelCaption("Закрыть");
    }
    form.ShellOpen(target);
    if (runAfterInstall) {
        form.Close();
    } else {
        OpenDestination(form);
    }
}
