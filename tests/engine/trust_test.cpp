// What an install run takes from a site that lists its files' sizes and
// hashes, and signs the list: a table of tamperings, each against a build
// with the site's key and one without, where it applies.
#include "engine/cng.h"
#include "engine/install_run.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fake_form.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/signed_site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using engine::P256PublicKey;
using engine::RunInstall;

namespace {

using Lines = std::vector<std::string>;

constexpr char kManifest[] = "Resources\\Pelmar.ini";
constexpr char kManifestPath[] = "Updates/Pelmar/Resources/Pelmar.ini";

// Release 1 and release 2 of a small product: release 2 changes the library only.
const ProductFiles kRelease1 = {
    {"Pelmar.exe", "MZ program, release 1"},
    {"Data\\base.dat", std::string(3000, 'b')},
    {"Pelmar.dll", "library, release 1"},
};
ProductFiles Release2() {
    ProductFiles files = kRelease1;
    files["Pelmar.dll"] = "library, release 2!";
    return files;
}

// The test key's public half as the build embeds it, from the signature
// vectors that the test run made with the same key.
std::optional<P256PublicKey> TestSitePublicKey() {
    const char* vectors = std::getenv("SIGNATURE_VECTORS");
    if (vectors == nullptr) return std::nullopt;
    const std::string bytes = ReadFileBytes(std::string(vectors) + "\\key.bin");
    P256PublicKey key{};
    if (bytes.size() != key.size()) return std::nullopt;
    std::memcpy(key.data(), bytes.data(), key.size());
    return key;
}

class TrustTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::optional<P256PublicKey> key = TestSitePublicKey();
        if (TestSiteKey().empty() || !key) GTEST_SKIP() << "SITE_KEY_PEM or SIGNATURE_VECTORS is not set: the test run makes them";
        key_ = *key;
    }

    // A fresh site, destination and form, built with the key or without.
    struct Run {
        TestSite site;
        TempFolder temp;
        std::string dest = temp / "Programs\\Pelmar";
        FakeForm form;

        explicit Run(const std::optional<P256PublicKey>& key) {
            form.destination = dest;
            form.siteHost = site.Host();
            form.runAfterInstall = false;
            form.siteKey = key;
        }
        std::string LocalPath(const std::string& entry) const { return dest + "\\" + entry; }
        std::string Last() const { return form.Messages().back(); }
        Lines Fetched() const {
            Lines fetched;
            for (const std::string& path : site.Requests()) fetched.push_back(path.substr(path.rfind('/') + 1));
            return fetched;
        }
    };

    std::optional<P256PublicKey> KeyFor(bool keyed) const { return keyed ? std::optional(key_) : std::nullopt; }

    P256PublicKey key_{};
};

// Publishes release files with their checks, signed with the test key.
void Publish(const TestSite& site, const ProductFiles& files, long long release, const std::string& key = TestSiteKey()) {
    PutCheckedProduct(site, "Pelmar", files, release, key);
}

// The installed product is release 5; the site offers release 6 (one library
// changed), tampered with as each row says.
TEST_F(TrustTest, TamperedSitesChangeNothingInTheDestination) {
    using Publisher = std::function<void(const TestSite& site, const std::string& installedSignature)>;
    const std::string dllPath = TestSite::ProductPath("Pelmar", "Pelmar.dll");
    const std::string signed6 = ManifestWithHashes("Pelmar", Release2(), 6);
    enum Outcome { NotApplicable, Installed, FileDamaged, NotSigned, SiteOlder, NoHash };
    const struct {
        const char* what;
        Publisher publish;
        Outcome keyed;
        Outcome unkeyed;
    } cases[] = {
        {"a changed byte in a file",
         [&](const TestSite& site, const std::string&) {
             Publish(site, Release2(), 6);
             site.Put(dllPath, "library, release 2?");
         },
         FileDamaged, FileDamaged},
        {"a truncated file",
         [&](const TestSite& site, const std::string&) {
             Publish(site, Release2(), 6);
             site.Put(dllPath, "library, rel");
         },
         FileDamaged, FileDamaged},
        {"a chunked answer cut short",
         [&](const TestSite& site, const std::string&) {
             Publish(site, Release2(), 6);
             site.Fault(dllPath, "chunked cut 7\n");
         },
         FileDamaged, FileDamaged},
        {"an entry added to the signed manifest",
         [&](const TestSite& site, const std::string&) {
             Publish(site, Release2(), 6);
             std::string manifest = signed6;
             manifest.insert(manifest.find("Pelmar.exe\r\n"), "Evil.dll\r\n");
             site.Put(kManifestPath, manifest);
             site.Put(TestSite::ProductPath("Pelmar", "Evil.dll"), "evil");
         },
         NotSigned, NotApplicable},
        {"a hash line removed from the signed manifest",
         [&](const TestSite& site, const std::string&) {
             Publish(site, Release2(), 6);
             site.Put(kManifestPath, WithoutLine(signed6, "Pelmar.dll="));
         },
         NotSigned, NotApplicable},
        {"the signature of another release",
         [&](const TestSite& site, const std::string& installedSignature) {
             Publish(site, Release2(), 6);
             site.Put(std::string(kManifestPath) + ".sig", installedSignature);
         },
         NotSigned, NotApplicable},
        {"a signature made with another key",
         [&](const TestSite& site, const std::string&) { Publish(site, Release2(), 6, OtherTestKey()); }, NotSigned,
         NotApplicable},
        {"no signature", [&](const TestSite& site, const std::string&) { Publish(site, Release2(), 6, ""); },
         NotSigned, NotApplicable},
        {"an older release over a newer install",
         [&](const TestSite& site, const std::string&) { Publish(site, Release2(), 4); }, SiteOlder, Installed},
        {"an equal release: a repair",
         [&](const TestSite& site, const std::string&) { Publish(site, Release2(), 5); }, Installed, Installed},
        {"a signed manifest without the library's hash line",
         [&](const TestSite& site, const std::string&) {
             Publish(site, Release2(), 6);
             site.Put(kManifestPath, WithoutLine(signed6, "Pelmar.dll="));
             SignWithOpenssl(site.LocalPath(kManifestPath), site.LocalPath(kManifestPath) + ".sig", TestSiteKey());
         },
         NoHash, Installed},
        {"a signed manifest whose library's hash line is malformed",
         [&](const TestSite& site, const std::string&) {
             Publish(site, Release2(), 6);
             std::string manifest = signed6;
             manifest.insert(manifest.find("Pelmar.dll=") + std::strlen("Pelmar.dll="), "x");
             site.Put(kManifestPath, manifest);
             SignWithOpenssl(site.LocalPath(kManifestPath), site.LocalPath(kManifestPath) + ".sig", TestSiteKey());
         },
         NoHash, Installed},
    };
    for (const auto& c : cases) {
        for (bool keyed : {true, false}) {
            const Outcome outcome = keyed ? c.keyed : c.unkeyed;
            if (outcome == NotApplicable) continue;
            SCOPED_TRACE(std::string(c.what) + (keyed ? ", keyed build" : ", build without a key"));
            Run run(KeyFor(keyed));
            Publish(run.site, kRelease1, 5);
            RunInstall(run.form);
            ASSERT_EQ(run.Last(), expected::kRunSucceeded);
            const Tree before = TreeOf(run.dest);
            const std::string installedSignature =
                keyed ? ReadFileBytes(run.LocalPath(kManifest) + ".sig") : std::string();

            TestSite site;  // empties the site
            c.publish(site, installedSignature);
            RunInstall(run.form);

            const std::string manifestLocal = run.LocalPath(kManifest);
            const std::string dllLocal = run.LocalPath("Pelmar.dll");
            switch (outcome) {
            case Installed: {
                EXPECT_EQ(run.Last(), expected::kRunSucceeded);
                Tree after = before;
                after["Pelmar.dll"] = Release2().at("Pelmar.dll");
                after[kManifest] = ReadFileBytes(site.LocalPath(kManifestPath));
                if (keyed) after[std::string(kManifest) + ".sig"] = ReadFileBytes(site.LocalPath(kManifestPath) + ".sig");
                EXPECT_EQ(Differences(after, TreeOf(run.dest)), Lines{});
                continue;
            }
            case FileDamaged: EXPECT_EQ(run.Last(), expected::kFileDamaged + dllLocal); break;
            case NotSigned: EXPECT_EQ(run.Last(), expected::kSignatureNotConfirmed + manifestLocal); break;
            case SiteOlder: EXPECT_EQ(run.Last(), expected::kSiteOlderThanInstalled + manifestLocal); break;
            case NoHash: EXPECT_EQ(run.Last(), expected::kNoFileHash + dllLocal); break;
            case NotApplicable: break;
            }
            // Byte for byte as before, and nothing left of the run.
            EXPECT_EQ(Differences(before, TreeOf(run.dest)), Lines{});
        }
    }
}

TEST_F(TrustTest, AnUpdateFetchesOnlyWhatChangedAndSaysWhatItKept) {
    for (bool keyed : {true, false}) {
        SCOPED_TRACE(keyed ? "keyed build" : "build without a key");
        Run run(KeyFor(keyed));
        Publish(run.site, kRelease1, 1);
        RunInstall(run.form);
        ASSERT_EQ(run.Last(), expected::kRunSucceeded);

        Publish(run.site, Release2(), 2);
        run.form.log.clear();
        const size_t earlierRequests = run.site.Requests().size();
        RunInstall(run.form);

        // Entries in the manifest's order: the map's.
        EXPECT_EQ(run.form.Messages(),
                  (Lines{expected::kFetching, run.LocalPath(kManifest),
                         expected::kUnchanged + run.LocalPath("Data\\base.dat"), run.LocalPath("Pelmar.dll"),
                         expected::kUnchanged + run.LocalPath("Pelmar.exe"), expected::kRunSucceeded}));
        const Lines fetched = keyed ? Lines{"Pelmar.ini", "Pelmar.ini.sig", "Pelmar.dll"} : Lines{"Pelmar.ini", "Pelmar.dll"};
        const Lines all = run.Fetched();
        EXPECT_EQ(Lines(all.begin() + std::min(earlierRequests, all.size()), all.end()), fetched);
        EXPECT_EQ(ReadFileBytes(run.LocalPath("Pelmar.dll")), Release2().at("Pelmar.dll"));
    }
}

TEST_F(TrustTest, ABuildWithoutAKeySaysOnceThatItIgnoresMalformedHashLines) {
    Run run(std::nullopt);
    std::string manifest = ManifestWithHashes("Pelmar", kRelease1, 1);
    manifest.insert(manifest.find("Pelmar.dll="), "Pelmar.dll=1 2\r\nnonsense\r\n");
    ProductFiles files = kRelease1;
    files[kManifest] = manifest;
    run.site.PutProduct("Pelmar", files);

    RunInstall(run.form);

    const Lines messages = run.form.Messages();
    EXPECT_EQ(messages.back(), expected::kRunSucceeded);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), expected::kHashLinesIgnored + run.LocalPath(kManifest)), 1);
    EXPECT_EQ(ReadFileBytes(run.LocalPath("Pelmar.dll")), kRelease1.at("Pelmar.dll"));
}

}  // namespace
