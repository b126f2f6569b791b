#include "window/site_key.h"

#include "runtime/exceptions.h"
#include "window/resource_ids.h"

#include <windows.h>

#include <cstring>

std::optional<engine::P256PublicKey> LoadSiteSigningKey() {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_SITE_KEY), MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (found == nullptr) return std::nullopt;
    engine::P256PublicKey key{};
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) throw runtime::LastOSError("Cannot load the site's signing key");
    if (SizeofResource(nullptr, found) != key.size()) throw runtime::Exception("The site's signing key is damaged");
    std::memcpy(key.data(), bytes, key.size());
    return key;
}
