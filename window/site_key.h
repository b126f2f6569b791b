// The key that the site's file list is signed with, as the build embeds it
// (resource IDR_SITE_KEY, when the build was configured with SITE_SIGNING_KEY).
#pragma once

#include "engine/cng.h"

#include <optional>

// The embedded key, or none for a build without one. Throws runtime::Exception
// when the resource is there but is no key.
std::optional<engine::P256PublicKey> LoadSiteSigningKey();
