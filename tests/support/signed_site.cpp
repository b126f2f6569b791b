#include "tests/support/signed_site.h"

#include "engine/cng.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/unix_command.h"

#include <cstdlib>
#include <stdexcept>

std::string DigestHex(const engine::Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::string Sha256Hex(const std::string& bytes) {
    engine::Sha256 hash;
    hash.Add(bytes.data(), bytes.size());
    return DigestHex(hash.Finish());
}

std::string ManifestWithHashes(const std::string& product, const ProductFiles& files, long long release) {
    std::string text = "[UpdateFiles]\r\nResources\\" + product + ".ini\r\n";
    for (const auto& [entry, bytes] : files) text += entry + "\r\n";
    text += "[FileHashes]\r\n";
    for (const auto& [entry, bytes] : files) {
        text += entry + "=" + std::to_string(bytes.size()) + " " + Sha256Hex(bytes) + "\r\n";
    }
    return text + "[Release]\r\nNumber=" + std::to_string(release) + "\r\n";
}

bool SignWithOpenssl(const std::string& windowsPath, const std::string& signaturePath, const std::string& keyPem) {
    return RunUnixCommand("openssl dgst -sha256 -sign '" + keyPem + "' -out '" + UnixPathOf(signaturePath) + "' '" +
                          UnixPathOf(windowsPath) + "'");
}

void PutCheckedProduct(const TestSite& site, const std::string& product, const ProductFiles& files,
                       long long release, const std::string& keyPem) {
    ProductFiles all = files;
    const std::string manifestEntry = "Resources\\" + product + ".ini";
    all[manifestEntry] = ManifestWithHashes(product, files, release);
    site.PutProduct(product, all);
    if (keyPem.empty()) return;
    const std::string manifestPath = site.LocalPath(TestSite::ProductPath(product, manifestEntry));
    if (!SignWithOpenssl(manifestPath, manifestPath + ".sig", keyPem)) throw std::runtime_error("openssl failed");
}

std::string WithoutLine(std::string text, const std::string& start) {
    const size_t line = text.find(start);
    if (line != std::string::npos) text.erase(line, text.find("\r\n", line) + 2 - line);
    return text;
}

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

}  // namespace

std::string TestSiteKey() { return Environment("SITE_KEY_PEM"); }
std::string OtherTestKey() { return Environment("OTHER_KEY_PEM"); }
