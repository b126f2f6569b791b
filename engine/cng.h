// Windows' own cryptography (CNG, bcrypt.dll): SHA-256 and ECDSA P-256
// signature checks. The program carries no cryptographic code of its own.
#pragma once

#include "runtime/unique_handle.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace engine {

// CNG's handles (BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE, BCRYPT_KEY_HANDLE are
// all void*), each closed by its own function.
template <void (*CloseFunction)(void*)>
struct CngHandleTraits {
    using Handle = void*;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { CloseFunction(h); }
};
void CloseCngAlgorithm(void* algorithm);
void CloseCngHash(void* hash);
void CloseCngKey(void* key);
using UniqueCngAlgorithm = runtime::UniqueHandle<CngHandleTraits<CloseCngAlgorithm>>;
using UniqueCngHash = runtime::UniqueHandle<CngHandleTraits<CloseCngHash>>;
using UniqueCngKey = runtime::UniqueHandle<CngHandleTraits<CloseCngKey>>;

using Sha256Digest = std::array<unsigned char, 32>;

// An uncompressed P-256 point without its 0x04 tag: X then Y, big-endian.
using P256PublicKey = std::array<unsigned char, 64>;

// SHA-256 of a stream of bytes, fed in pieces. Throws runtime::EOSError when
// Windows offers no SHA-256.
class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Add(const void* data, size_t size);
    // The digest of everything added; the object is spent afterwards.
    Sha256Digest Finish();

private:
    UniqueCngHash hash_;
};

// Whether signature, an ECDSA signature in DER (SEQUENCE of the INTEGERs r
// and s, as openssl writes it), signs message with SHA-256 under key. Any
// malformed signature or key is simply not a valid signature.
bool VerifyP256Signature(std::string_view message, std::string_view signature, const P256PublicKey& key);

}  // namespace engine
