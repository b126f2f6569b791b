#include "engine/folders.h"

#include "engine/activity_log.h"
#include "engine/messages.h"
#include "runtime/file_system.h"

namespace engine {

bool CheckDirectory(InstallerForm& form, const std::string& dir, bool report) {
    if (runtime::DirectoryExists(dir)) return true;
    // Its result is not trusted: the test below is what counts.
    runtime::ForceDirectories(dir);
    if (runtime::DirectoryExists(dir)) return true;
    if (report) LogMessage(form, messages::kCannotMakeFolder + dir);
    return false;
}

}  // namespace engine
