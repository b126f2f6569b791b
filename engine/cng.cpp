#include "engine/cng.h"

#include "runtime/exceptions.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>
#include <cstring>
#include <string>

namespace engine {

namespace {

// The status codes CNG returns are NTSTATUS values: 0 and above succeed.
bool Succeeded(NTSTATUS status) { return status >= 0; }

// One algorithm provider per kind for the whole process: opening one is far
// dearer than a hash, and a product has thousands of files. A failed open
// leaves it empty, with the failure's status beside it.
struct Provider {
    UniqueCngAlgorithm handle;
    NTSTATUS status = 0;

    explicit Provider(const wchar_t* algorithm) {
        BCRYPT_ALG_HANDLE opened = nullptr;
        status = BCryptOpenAlgorithmProvider(&opened, algorithm, nullptr, 0);
        if (Succeeded(status)) handle.reset(opened);
    }
};

[[noreturn]] void ThrowCngError(const char* what, NTSTATUS status) {
    throw runtime::EOSError(what, static_cast<DWORD>(status));
}

BCRYPT_ALG_HANDLE OpenedProvider(const Provider& provider, const char* what) {
    if (!provider.handle) ThrowCngError(what, provider.status);
    return provider.handle.get();
}

// Reads one DER length of a signature (whose parts are all short) at pos.
bool ReadDerLength(std::string_view der, size_t& pos, size_t& length) {
    if (pos >= der.size()) return false;
    const auto first = static_cast<unsigned char>(der[pos++]);
    if (first < 0x80) {
        length = first;
    } else if (first == 0x81) {
        // Long form only where the short one cannot say it.
        if (pos >= der.size() || static_cast<unsigned char>(der[pos]) < 0x80) return false;
        length = static_cast<unsigned char>(der[pos++]);
    } else {
        return false;
    }
    return length <= der.size() - pos;
}

// Reads one positive DER INTEGER at pos into 32 big-endian bytes.
bool ReadDerInteger(std::string_view der, size_t& pos, unsigned char* out32) {
    size_t length = 0;
    if (pos >= der.size() || der[pos++] != 0x02 || !ReadDerLength(der, pos, length) || length == 0) return false;
    std::string_view value = der.substr(pos, length);
    pos += length;
    // Negative numbers, and zero bytes in front that DER forbids, are no signature.
    if (static_cast<unsigned char>(value[0]) >= 0x80) return false;
    if (value.size() > 1 && value[0] == 0 && static_cast<unsigned char>(value[1]) < 0x80) return false;
    while (!value.empty() && value[0] == 0) value.remove_prefix(1);
    if (value.empty() || value.size() > 32) return false;
    // r and s shorter than 32 bytes are left-padded.
    std::memset(out32, 0, 32);
    std::memcpy(out32 + 32 - value.size(), value.data(), value.size());
    return true;
}

// openssl's DER signature as the 64 bytes r || s that CNG takes.
bool DerToRaw(std::string_view der, unsigned char (&raw)[64]) {
    size_t pos = 0;
    size_t length = 0;
    if (der.empty() || der[pos++] != 0x30 || !ReadDerLength(der, pos, length) || pos + length != der.size()) {
        return false;
    }
    return ReadDerInteger(der, pos, raw) && ReadDerInteger(der, pos, raw + 32) && pos == der.size();
}

}  // namespace

void CloseCngAlgorithm(void* algorithm) { BCryptCloseAlgorithmProvider(algorithm, 0); }
void CloseCngHash(void* hash) { BCryptDestroyHash(hash); }
void CloseCngKey(void* key) { BCryptDestroyKey(key); }

Sha256::Sha256() {
    static const Provider provider(BCRYPT_SHA256_ALGORITHM);
    // Windows 7 and later keep the hash object themselves when given none.
    BCRYPT_HASH_HANDLE hash = nullptr;
    const NTSTATUS status =
        BCryptCreateHash(OpenedProvider(provider, "Cannot open SHA-256"), &hash, nullptr, 0, nullptr, 0, 0);
    if (!Succeeded(status)) ThrowCngError("Cannot start SHA-256", status);
    hash_.reset(hash);
}

void Sha256::Add(const void* data, size_t size) {
    auto bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ULONG piece = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        const NTSTATUS status = BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), piece, 0);
        if (!Succeeded(status)) ThrowCngError("Cannot compute SHA-256", status);
        bytes += piece;
        size -= piece;
    }
}

Sha256Digest Sha256::Finish() {
    Sha256Digest digest{};
    const NTSTATUS status = BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (!Succeeded(status)) ThrowCngError("Cannot compute SHA-256", status);
    return digest;
}

bool VerifyP256Signature(std::string_view message, std::string_view signature, const P256PublicKey& key) {
    unsigned char raw[64];
    if (!DerToRaw(signature, raw)) return false;

    static const Provider provider(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_ALG_HANDLE ecdsa = OpenedProvider(provider, "Cannot open ECDSA P-256");

    struct {
        BCRYPT_ECCKEY_BLOB header;
        unsigned char point[64];
    } blob{};
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = 32;
    std::memcpy(blob.point, key.data(), key.size());
    static_assert(sizeof(blob) == sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    BCRYPT_KEY_HANDLE opened = nullptr;
    if (!Succeeded(BCryptImportKeyPair(ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &opened,
                                       reinterpret_cast<PUCHAR>(&blob), sizeof(blob), 0))) {
        return false;
    }
    const UniqueCngKey imported(opened);

    Sha256 hash;
    hash.Add(message.data(), message.size());
    Sha256Digest digest = hash.Finish();
    return BCryptVerifySignature(imported.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()), raw,
                                 sizeof(raw), 0) == 0;
}

}  // namespace engine
