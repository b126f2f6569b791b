// The install run: the update manifest and every file it lists, fetched from
// the maker's site into the destination folder.
#pragma once

#include "engine/installer_form.h"
#include "engine/string_list.h"

#include <string>

// What the Install button does. A press while a run is in progress (possible
// where the run lets messages through) is ignored. Errors raised as
// exceptions (Exception and its kin) leave it for the caller to show.
void RunInstall(InstallerForm& form);

// Opens the destination folder when it exists (the folder label's click).
void OpenDestination(InstallerForm& form);

// Fills entries with the lines of section [name] of source and returns their number.
int ReadIniSection(const TStringList& source, TStringList& entries, const std::string& name);

// Whether a manifest entry stays inside the destination folder: not absolute,
// no ":", no ".." segment, no reserved device name.
bool IsSafeManifestEntry(const std::string& entry);
