// The installer built with the site's key, driven from outside against a site
// that signs its file list: it installs, updates only what changed, and takes
// nothing from a site that was tampered with.
#include "runtime/file_system.h"
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/programs.h"
#include "tests/support/expected_texts.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/log_text.h"
#include "tests/support/signed_site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kProduct = PRODUCT_NAME;
const std::string kManifest = "Resources\\" + kProduct + ".ini";
constexpr DWORD kRunTimeoutMs = 60000;

class SignedSite : public testing::Test {
protected:
    void SetUp() override {
        if (TestSiteKey().empty()) GTEST_SKIP() << "SITE_KEY_PEM is not set: the test run makes the keys";
        files_ = {
            {kProduct + ".exe", ReadFileBytes(DemoProductPath())},
            {"Data\\sample.txt", std::string(20000, 's')},
            {"Resources\\readme.txt", "release 1\r\n"},
        };
    }

    // One run of the keyed installer with the run flag cleared, to its last
    // log line (OK or the error line); the messages of the run.
    Lines Run(const std::string& lastLine) {
        InstallerDriver installer(KeyedInstallerPath(), ExtraEnvironment{{"http_proxy", site_.ProxyUrl()}});
        EXPECT_TRUE(installer.WaitForWindow()) << "no installer window";
        EXPECT_TRUE(installer.SetFolder(dest_));
        EXPECT_TRUE(installer.SetRunFlag(false));
        installer.PressInstall();
        Lines lines;
        EXPECT_TRUE(installer.WaitForLogLine(
            [&](const std::string& line) { return MessageOfLogLine(line) == lastLine; }, kRunTimeoutMs, &lines));
        installer.CloseByCloseBox();
        installer.WaitForExit(15000);
        Lines messages;
        for (const std::string& line : lines) messages.push_back(MessageOfLogLine(line));
        return messages;
    }

    std::string Local(const std::string& entry) const { return dest_ + "\\" + entry; }

    ProductFiles files_;
    TestSite site_;
    TempFolder temp_;
    const std::string dest_ = temp_ / kProduct;
};

TEST_F(SignedSite, InstallsUpdatesWhatChangedAndRefusesATamperedFile) {
    PutCheckedProduct(site_, kProduct, files_, 1, TestSiteKey());
    EXPECT_EQ(Run(expected::kRunSucceeded).back(), expected::kRunSucceeded);
    EXPECT_TRUE(runtime::FileExists(Local(kManifest + ".sig")));

    files_["Resources\\readme.txt"] = "release 2\r\n";
    PutCheckedProduct(site_, kProduct, files_, 2, TestSiteKey());
    EXPECT_EQ(Run(expected::kRunSucceeded),
              (Lines{expected::kFetching, Local(kManifest), expected::kUnchanged + Local("Data\\sample.txt"),
                     expected::kUnchanged + Local(kProduct + ".exe"), Local("Resources\\readme.txt"),
                     expected::kRunSucceeded}));
    EXPECT_EQ(ReadFileBytes(Local("Resources\\readme.txt")), "release 2\r\n");

    // Someone between the user and the site changes a byte of the program.
    const std::string before = ReadFileBytes(Local(kProduct + ".exe"));
    files_["Resources\\readme.txt"] = "release 3\r\n";
    PutCheckedProduct(site_, kProduct, files_, 3, TestSiteKey());
    std::string changed = files_[kProduct + ".exe"];
    changed[changed.size() / 2] ^= 1;
    site_.Put(TestSite::ProductPath(kProduct, kProduct + ".exe"), changed);
    const std::string damaged = expected::kFileDamaged + Local(kProduct + ".exe");
    EXPECT_EQ(Run(damaged).back(), damaged);
    EXPECT_EQ(ReadFileBytes(Local(kProduct + ".exe")), before);
}

TEST_F(SignedSite, RefusesAListSignedWithAnotherKey) {
    PutCheckedProduct(site_, kProduct, files_, 1, OtherTestKey());
    const std::string refused = expected::kSignatureNotConfirmed + Local(kManifest);
    EXPECT_EQ(Run(refused).back(), refused);
    EXPECT_EQ(FilesBelow(temp_.Path()), Lines{}) << "nothing is left in the destination";
}

}  // namespace
