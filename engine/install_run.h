// The install run: the update manifest and every file it lists, fetched from
// the maker's site into the destination folder.
#pragma once

#include "engine/installer_form.h"

namespace engine {

// What the Install button does. A press while a run is in progress (possible
// where the run lets messages through) is ignored. Errors raised as
// exceptions (runtime::Exception and its kin) leave it for the caller to show.
void RunInstall(InstallerForm& form);
// Whether a run is in progress.
bool InstallRunning();

// Opens the destination folder when it exists (the folder label's click).
void OpenDestination(InstallerForm& form);

}  // namespace engine
