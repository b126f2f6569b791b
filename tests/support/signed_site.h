// A product published with its checks, as the maker's kit lays it out: the
// manifest with each file's size and SHA-256 and the release number, and its
// signature made with openssl under a test key.
#pragma once

#include "engine/cng.h"
#include "tests/support/folder_tree.h"
#include "tests/support/site.h"

#include <map>
#include <string>
#include <vector>

// The manifest of product listing itself, then files in their order:
// [UpdateFiles], [FileHashes] (one "<entry>=<size> <sha-256>" line each, the
// manifest excluded) and [Release] Number=release. CR LF lines.
std::string ManifestWithHashes(const std::string& product, const ProductFiles& files, long long release);

// Publishes files of product with the manifest above; with keyPem (an EC
// P-256 private key, a Unix path) also its signature, Resources\<product>.ini.sig.
void PutCheckedProduct(const TestSite& site, const std::string& product, const ProductFiles& files,
                       long long release, const std::string& keyPem = {});

// Signs the file at windowsPath with keyPem as the kit does (DER, SHA-256),
// into signaturePath; true when openssl succeeded.
bool SignWithOpenssl(const std::string& windowsPath, const std::string& signaturePath, const std::string& keyPem);

// A digest in lower-case hex, and the lower-case hex SHA-256 of bytes.
std::string DigestHex(const engine::Sha256Digest& digest);
std::string Sha256Hex(const std::string& bytes);

// The test run's signing keys (Unix paths of PEM private keys), from
// SITE_KEY_PEM and OTHER_KEY_PEM; empty when the run sets none.
std::string TestSiteKey();
std::string OtherTestKey();

// text without its first line that starts with start (CR LF lines).
std::string WithoutLine(std::string text, const std::string& start);
