// SHA-256 and the manifest's signature check, through Windows' own CNG, against
// vectors that openssl made for this run (tests/engine/make_signatures).
#include "engine/cng.h"
#include "tests/support/file_bytes.h"
#include "tests/support/signed_site.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using engine::P256PublicKey;
using engine::Sha256;
using engine::Sha256Digest;
using engine::VerifyP256Signature;

namespace {

std::string HashOf(const std::string& bytes) { return Sha256Hex(bytes); }

TEST(Sha256Test, KnownDigestsWholeOrInPieces) {
    EXPECT_EQ(HashOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HashOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string million(1000000, 'a');
    EXPECT_EQ(HashOf(million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    Sha256 pieces;
    for (size_t at = 0; at < million.size(); at += 4099) {
        pieces.Add(million.data() + at, std::min<size_t>(4099, million.size() - at));
    }
    EXPECT_EQ(DigestHex(pieces.Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

class SignatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* folder = std::getenv("SIGNATURE_VECTORS");
        if (folder == nullptr) GTEST_SKIP() << "SIGNATURE_VECTORS is not set: the test run makes them (make_signatures)";
        folder_ = folder;
        message_ = Read("message.bin");
        key_ = KeyOf("key.bin");
        otherKey_ = KeyOf("other.bin");
    }

    std::string Read(const std::string& name) const { return ReadFileBytes(folder_ + "\\" + name); }

    P256PublicKey KeyOf(const std::string& name) const {
        const std::string bytes = Read(name);
        P256PublicKey key{};
        EXPECT_EQ(bytes.size(), key.size());
        std::memcpy(key.data(), bytes.data(), std::min(bytes.size(), key.size()));
        return key;
    }

    std::string folder_;
    std::string message_;
    P256PublicKey key_{};
    P256PublicKey otherKey_{};
};

TEST_F(SignatureTest, AcceptsOpensslSignaturesIncludingShortIntegers) {
    for (const char* name : {"good.sig", "short_r.sig", "short_s.sig"}) {
        EXPECT_TRUE(VerifyP256Signature(message_, Read(name), key_)) << name;
    }
    EXPECT_TRUE(VerifyP256Signature(message_, Read("other_key.sig"), otherKey_));
}

TEST_F(SignatureTest, RefusesEveryChangeAndEveryMalformedSignature) {
    const std::string good = Read("good.sig");
    std::string changedMessage = message_;
    changedMessage[changedMessage.size() / 2] ^= 1;
    std::string changedSignature = good;
    changedSignature[good.size() - 5] ^= 1;
    // The same r and s, but not as DER.
    std::string raw;
    {
        const size_t rLength = static_cast<unsigned char>(good[3]);
        std::string r = good.substr(4, rLength);
        std::string s = good.substr(4 + rLength + 2);
        while (r.size() > 32) r.erase(0, 1);
        while (s.size() > 32) s.erase(0, 1);
        raw = std::string(32 - r.size(), '\0') + r + std::string(32 - s.size(), '\0') + s;
    }
    std::string longLength = good;
    longLength.insert(1, 1, '\x81');
    const struct {
        const char* why;
        std::string message;
        std::string signature;
        const P256PublicKey& key;
    } cases[] = {
        {"a changed byte in the manifest", changedMessage, good, key_},
        {"a changed byte in the signature", message_, changedSignature, key_},
        {"signed with another key", message_, Read("other_key.sig"), key_},
        {"the right signature, checked under another key", message_, good, otherKey_},
        {"no signature", message_, "", key_},
        {"cut short", message_, good.substr(0, good.size() - 1), key_},
        {"bytes after it", message_, good + '\0', key_},
        {"r and s without DER", message_, raw, key_},
        {"a long-form length where the short one fits", message_, longLength, key_},
        {"an HTML page", message_, "<html><body>Not Found</body></html>", key_},
    };
    for (const auto& c : cases) EXPECT_FALSE(VerifyP256Signature(c.message, c.signature, c.key)) << c.why;
}

TEST_F(SignatureTest, RefusesAKeyThatIsNoPointOfTheCurve) {
    P256PublicKey notAPoint = key_;
    notAPoint[63] ^= 1;
    EXPECT_FALSE(VerifyP256Signature(message_, Read("good.sig"), notAPoint));
    EXPECT_FALSE(VerifyP256Signature(message_, Read("good.sig"), P256PublicKey{}));
}

}  // namespace
