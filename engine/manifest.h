// The rules of the update manifest: its sections, and which entries may be
// fetched at all.
#pragma once

#include "runtime/string_list.h"

#include <string>

namespace engine {

// Fills entries with the lines of section [name] of source (header found
// without regard to letter case) and returns their number.
int ReadIniSection(const runtime::TStringList& source, runtime::TStringList& entries, const std::string& name);

// Whether a manifest entry stays inside the destination folder: not absolute,
// no ":", no ".." segment, no reserved device name.
bool IsSafeManifestEntry(const std::string& entry);

}  // namespace engine
