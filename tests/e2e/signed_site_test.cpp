// The installer against a site that lists its files' sizes and hashes and
// signs the list, driven from outside: the program built with the site's key
// and the shipped one without, each given a tampered site in turn. A refused
// run says why in its last line and leaves the destination byte for byte as
// it was; an accepted one fetches only what changed.
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/programs.h"
#include "tests/support/expected_texts.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/log_text.h"
#include "tests/support/signed_site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kProduct = PRODUCT_NAME;
const std::string kManifest = "Resources\\" + kProduct + ".ini";
const std::string kManifestPath = TestSite::ProductPath(kProduct, kManifest);
const std::string kLibrary = kProduct + ".dll";
const std::string kLibraryPath = TestSite::ProductPath(kProduct, kLibrary);
constexpr DWORD kRunTimeoutMs = 60000;

// Release 1 of a small product, and release 2, which changes the library
// only. The library spans a few of the site's 4 KiB chunks.
const ProductFiles kRelease1 = {
    {kProduct + ".exe", "MZ program, release 1"},
    {"Data\\base.dat", std::string(3000, 'b')},
    {kLibrary, "library, release 1" + std::string(10000, '1')},
};
ProductFiles Release2() {
    ProductFiles files = kRelease1;
    files[kLibrary] = "library, release 2" + std::string(10000, '2');
    return files;
}

// A line with which a run ends, well or not.
bool EndsRun(const std::string& line) {
    const std::string message = MessageOfLogLine(line);
    if (message == expected::kRunSucceeded) return true;
    for (const char* start : {expected::kFetchFailed, expected::kEntryRefused, expected::kSignatureNotConfirmed,
                              expected::kSiteOlderThanInstalled, expected::kNoFileHash, expected::kFileDamaged}) {
        if (message.rfind(start, 0) == 0) return true;
    }
    return false;
}

class SignedSiteEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        if (TestSiteKey().empty() || KeyedInstallerPath().empty()) {
            GTEST_SKIP() << "SITE_KEY_PEM or --keyed-installer is not given: the test run gives them";
        }
        explorersBefore_ = ProcessesNamed("explorer.exe");
    }
    void TearDown() override { EndProcessesNamed("explorer.exe", explorersBefore_); }

    // Only the product's files, signed as the row says: the same site, made
    // anew (the site's request log goes on).
    void Publish(const ProductFiles& files, long long release, const std::string& key = TestSiteKey()) {
        RemoveTree(site_.LocalPath("Updates"));
        PutCheckedProduct(site_, kProduct, files, release, key);
    }
    // Signs the manifest as the site now serves it.
    void Resign() const {
        EXPECT_TRUE(SignWithOpenssl(site_.LocalPath(kManifestPath), site_.LocalPath(kManifestPath) + ".sig",
                                    TestSiteKey()));
    }

    // One run of the installer into dest_ with the run flag cleared (a
    // successful run then opens the folder instead of the product); the
    // messages of its log, up to the line that ends it.
    Lines Run(bool keyed) {
        Lines messages;
        {
            InstallerDriver installer(keyed ? KeyedInstallerPath() : InstallerPath(),
                                      ExtraEnvironment{{"http_proxy", site_.ProxyUrl()}});
            EXPECT_TRUE(installer.WaitForWindow()) << "no installer window";
            EXPECT_TRUE(installer.SetFolder(dest_));
            EXPECT_TRUE(installer.SetRunFlag(false));
            installer.PressInstall();
            Lines lines;
            EXPECT_TRUE(installer.WaitForLogLine(EndsRun, kRunTimeoutMs, &lines)) << "the run did not end";
            installer.CloseByCloseBox();
            EXPECT_TRUE(installer.WaitForExit(15000)) << "the program did not end";
            for (const std::string& line : lines) messages.push_back(MessageOfLogLine(line));
        }
        EndProcessesNamed("explorer.exe", explorersBefore_);
        return messages;
    }

    // The site's files that the requests since `since` asked for, in order.
    Lines RequestedSince(size_t since) const {
        const Lines requests = site_.Requests();
        Lines asked;
        for (size_t i = since; i < requests.size(); ++i) asked.push_back(requests[i].substr(1));
        return asked;
    }

    std::string Local(const std::string& entry) const { return dest_ + "\\" + entry; }

    // Puts tree in place of whatever the destination holds.
    void Restore(const Tree& tree) const {
        RemoveTree(dest_);
        for (const auto& [file, bytes] : tree) WriteFileBytes(Local(file), bytes);
    }

    std::set<DWORD> explorersBefore_;
    TestSite site_;
    TempFolder temp_;
    const std::string dest_ = temp_ / kProduct;
};

// The installed product is release 5; the site offers release 6, tampered
// with as each row says, or an older or equal release. Each build installs
// release 5 once; every row starts from that install.
TEST_F(SignedSiteEndToEnd, TamperedSitesChangeNothingAndUpdatesFetchOnlyWhatChanged) {
    enum Outcome { NotApplicable, Installed, FileDamaged, NotSigned, SiteOlder, NoHash };
    const std::string manifest6 = ManifestWithHashes(kProduct, Release2(), 6);
    const struct {
        const char* what;
        std::function<void(const std::string& installedSignature)> publish;
        Outcome keyed;
        Outcome unkeyed;
    } rows[] = {
        {"a changed byte in a file",
         [&](const std::string&) {
             Publish(Release2(), 6);
             std::string library = Release2().at(kLibrary);
             library[library.size() / 2] ^= 1;
             site_.Put(kLibraryPath, library);
         },
         FileDamaged, FileDamaged},
        {"a truncated file",
         [&](const std::string&) {
             Publish(Release2(), 6);
             site_.Put(kLibraryPath, Release2().at(kLibrary).substr(0, 5000));
         },
         FileDamaged, FileDamaged},
        {"a chunked answer cut short",
         [&](const std::string&) {
             Publish(Release2(), 6);
             site_.Fault(kLibraryPath, "chunked cut 6000\n");
         },
         FileDamaged, FileDamaged},
        {"an entry added to the signed manifest",
         [&](const std::string&) {
             Publish(Release2(), 6);
             std::string manifest = manifest6;
             manifest.insert(manifest.find(kLibrary + "\r\n"), "Evil.dll\r\n");
             site_.Put(kManifestPath, manifest);
             site_.Put(TestSite::ProductPath(kProduct, "Evil.dll"), "evil");
         },
         NotSigned, NotApplicable},
        {"a hash line removed from the signed manifest",
         [&](const std::string&) {
             Publish(Release2(), 6);
             site_.Put(kManifestPath, WithoutLine(manifest6, kLibrary + "="));
         },
         NotSigned, NotApplicable},
        {"a manifest without the library's hash line, signed",
         [&](const std::string&) {
             Publish(Release2(), 6);
             site_.Put(kManifestPath, WithoutLine(manifest6, kLibrary + "="));
             Resign();
         },
         NoHash, NotApplicable},
        {"the signature of another release",
         [&](const std::string& installedSignature) {
             Publish(Release2(), 6);
             site_.Put(kManifestPath + ".sig", installedSignature);
         },
         NotSigned, NotApplicable},
        {"a signature made with another key", [&](const std::string&) { Publish(Release2(), 6, OtherTestKey()); },
         NotSigned, NotApplicable},
        {"no signature", [&](const std::string&) { Publish(Release2(), 6, ""); }, NotSigned, NotApplicable},
        {"an older release over a newer install", [&](const std::string&) { Publish(Release2(), 4); }, SiteOlder,
         Installed},
        {"an equal release: a repair", [&](const std::string&) { Publish(Release2(), 5); }, Installed,
         NotApplicable},
    };
    for (bool keyed : {true, false}) {
        const char* build = keyed ? "keyed build" : "build without a key";
        SCOPED_TRACE(build);
        Publish(kRelease1, 5);
        ASSERT_EQ(Run(keyed).back(), expected::kRunSucceeded);
        const Tree installed = TreeOf(dest_);
        const std::string installedSignature = keyed ? installed.at(kManifest + ".sig") : std::string();

        for (const auto& row : rows) {
            const Outcome outcome = keyed ? row.keyed : row.unkeyed;
            if (outcome == NotApplicable) continue;
            SCOPED_TRACE(row.what);
            Restore(installed);
            row.publish(installedSignature);
            const size_t requestsBefore = site_.Requests().size();

            const Lines messages = Run(keyed);
            ASSERT_FALSE(messages.empty());

            Tree after = installed;
            switch (outcome) {
            case Installed: {
                // The unchanged files are kept and said so; the library alone is fetched.
                EXPECT_EQ(messages, (Lines{expected::kFetching, Local(kManifest),
                                           expected::kUnchanged + Local("Data\\base.dat"), Local(kLibrary),
                                           expected::kUnchanged + Local(kProduct + ".exe"), expected::kRunSucceeded}));
                Lines fetched = {kManifestPath, kLibraryPath};
                if (keyed) fetched.insert(fetched.begin() + 1, kManifestPath + ".sig");
                EXPECT_EQ(RequestedSince(requestsBefore), fetched);
                after[kLibrary] = Release2().at(kLibrary);
                after[kManifest] = ReadFileBytes(site_.LocalPath(kManifestPath));
                if (keyed) after[kManifest + ".sig"] = ReadFileBytes(site_.LocalPath(kManifestPath) + ".sig");
                break;
            }
            case FileDamaged: EXPECT_EQ(messages.back(), expected::kFileDamaged + Local(kLibrary)); break;
            case NotSigned: EXPECT_EQ(messages.back(), expected::kSignatureNotConfirmed + Local(kManifest)); break;
            case SiteOlder: EXPECT_EQ(messages.back(), expected::kSiteOlderThanInstalled + Local(kManifest)); break;
            case NoHash: EXPECT_EQ(messages.back(), expected::kNoFileHash + Local(kLibrary)); break;
            case NotApplicable: break;
            }
            // Byte for byte as expected, and no temporary file left.
            EXPECT_EQ(Differences(after, TreeOf(dest_)), Lines{});
        }
    }
}

}  // namespace
