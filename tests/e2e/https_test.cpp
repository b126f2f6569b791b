// The installer over HTTPS, driven from outside: the program built for an
// HTTPS site, and the shipped one against a plain site that moves up to
// HTTPS, both reaching the test site's nginx through its proxy (CONNECT).
// Each refused row ends as a site that does not answer: the usual error
// line, and the destination as it was.
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/programs.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/log_text.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kProduct = PRODUCT_NAME;
const std::string kManifest = "Resources\\" + kProduct + ".ini";
const std::string kSiteBase = "https://" + std::string(TLS_SITE_NAME) + "/Updates/" + kProduct + "/";
// A handshake that stalls takes the program's whole 30 s.
constexpr DWORD kRunTimeoutMs = 90000;

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

class EndToEndHttps : public testing::Test {
protected:
    void SetUp() override {
        explorersBefore_ = ProcessesNamed("explorer.exe");
        files_ = {{kManifest, "[UpdateFiles]\r\n" + kManifest + "\r\nreadme.txt\r\nData\\sample.txt\r\n"},
                  {"readme.txt", "read me over HTTPS"},
                  {"Data\\sample.txt", std::string(30000, 's')}};
        site_.PutProduct(kProduct, files_);
    }

    // A run with the run flag cleared opens the destination in the file
    // manager, which must not outlive the test.
    void TearDown() override { EndProcessesNamed("explorer.exe", explorersBefore_); }

    // A plain site that answers every file with a 301 to the same path over HTTPS.
    void MoveSiteUpToHttps() {
        for (const auto& [entry, bytes] : files_) {
            std::string path = entry;
            std::replace(path.begin(), path.end(), '\\', '/');
            site_.Fault(TestSite::ProductPath(kProduct, entry), "redirect 301 " + kSiteBase + path);
        }
    }

    // Runs program into dest_ with the run flag cleared; the log's lines at its end.
    std::vector<std::string> Run(const std::string& program, bool (*end)(const std::string&)) {
        InstallerDriver installer(program, ExtraEnvironment{{"http_proxy", site_.ProxyUrl()}});
        EXPECT_TRUE(installer.WaitForWindow()) << "no installer window";
        EXPECT_TRUE(installer.SetFolder(dest_));
        EXPECT_TRUE(installer.SetRunFlag(false));
        installer.PressInstall();
        std::vector<std::string> lines;
        EXPECT_TRUE(installer.WaitForLogLine(end, kRunTimeoutMs, &lines)) << Joined(lines);
        installer.CloseByCloseBox();
        EXPECT_TRUE(installer.WaitForExit(15000)) << "the program did not end";
        return lines;
    }

    void ExpectInstalled() {
        for (const auto& [entry, bytes] : files_) {
            EXPECT_TRUE(ReadFileBytes(dest_ + "\\" + entry) == bytes) << entry;
        }
    }

    ProductFiles files_;
    std::set<DWORD> explorersBefore_;
    TestSite site_;
    TempFolder temp_;
    std::string dest_ = temp_ / kProduct;
};

TEST_F(EndToEndHttps, InstallsAndThenUpdatesOverHttps) {
    site_.Tunnel("valid");
    std::vector<std::string> lines = Run(HttpsInstallerPath(), IsOkLine);
    EXPECT_EQ(MessageOfLogLine(lines.back()), "OK") << Joined(lines);
    ExpectInstalled();

    files_["readme.txt"] = "a newer read me";
    site_.PutProduct(kProduct, files_);
    lines = Run(HttpsInstallerPath(), IsOkLine);
    EXPECT_EQ(MessageOfLogLine(lines.back()), "OK") << Joined(lines);
    ExpectInstalled();
}

TEST_F(EndToEndHttps, PlainSiteThatMovesUpToHttpsIsFollowed) {
    site_.Tunnel("valid");
    MoveSiteUpToHttps();
    const std::vector<std::string> lines = Run(InstallerPath(), IsOkLine);
    EXPECT_EQ(MessageOfLogLine(lines.back()), "OK") << Joined(lines);
    ExpectInstalled();
}

// The site as the HTTPS build finds it, each refused.
TEST_F(EndToEndHttps, RefusedSitesChangeNothing) {
    for (const char* tunnel : {"downgrade", "untrusted", "other-name", "expired", "stall"}) {
        SCOPED_TRACE(tunnel);
        site_.Tunnel(tunnel);
        for (const auto& [entry, bytes] : files_) WriteFileBytes(dest_ + "\\" + entry, "old " + entry);
        const std::vector<std::string> before = FilesBelow(dest_);

        const std::string errorLine = expected::kFetchFailed + dest_ + "\\" + kManifest;
        const std::vector<std::string> lines = Run(HttpsInstallerPath(), IsErrorLine);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(MessageOfLogLine(lines.back()), errorLine) << Joined(lines);
        EXPECT_EQ(FilesBelow(dest_), before) << "no partial file is left";
        for (const auto& [entry, bytes] : files_) EXPECT_EQ(ReadFileBytes(dest_ + "\\" + entry), "old " + entry);
    }
}

}  // namespace
