// Fetches over HTTPS: the test site's nginx with each of its certificates,
// reached through the site's proxy (CONNECT; the harness sets http_proxy for
// these tests), and redirects between the schemes. A refused fetch fails as a site that does not answer and touches
// nothing; WinINet's own error says why.
#include "engine/download.h"
#include "engine/timed_fetch.h"

#include "tests/support/fake_form.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/scoped_hook.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

using namespace engine;

namespace {

// The name the test certificates are made for (the build's site host).
const std::string kSiteName = TLS_SITE_NAME;
const std::string kPath = "files/data.bin";
const std::string kHttpsUrl = "https://" + kSiteName + "/" + kPath;
const std::string kHttpUrl = "http://" + kSiteName + "/" + kPath;

struct HttpsCase {
    const char* name;
    const char* tunnel;            // the HTTPS server the proxy tunnels to
    bool formOverHttps;            // an installer built for an HTTPS site
    bool startOverHttps;           // the fetch's own URL
    bool movedUp;                  // the plain site answers with a 301 to the same URL over HTTPS
    bool fetched;
    std::set<DWORD> openErrors;    // WinINet's error for a URL that did not open
};

const HttpsCase kCases[] = {
    {"Valid", "valid", true, true, false, true, {}},
    {"PlainSiteMovedUpToHttps", "valid", false, false, true, true, {}},
    {"HttpsSiteMovedDownToHttp", "downgrade", true, true, false, false, {}},
    {"PlainSiteMovedDownAfterHttps", "downgrade", false, true, false, false, {}},
    {"PlainUrlInAnHttpsBuild", "valid", true, false, false, false, {}},
    {"UntrustedCertificate", "untrusted", true, true, false, false,
     {ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_SEC_CERT_REV_FAILED, ERROR_INTERNET_SEC_INVALID_CERT}},
    {"CertificateForAnotherName", "other-name", true, true, false, false, {ERROR_INTERNET_SEC_CERT_CN_INVALID}},
    {"ExpiredCertificate", "expired", true, true, false, false, {ERROR_INTERNET_SEC_CERT_DATE_INVALID}},
};
// Not in the table: a plain site that moves up to HTTPS and from there back
// down within one fetch. Wine 8 ends the whole process then, through a proxy
// ("Assertion failed: server->addr_len", dlls/wininet/netconnection.c). The
// fetch sees the way up (WentOverHttpsAfterARedirectUp below) and refuses
// the way down as the row above does.

class HttpsDownloadTest : public ::testing::TestWithParam<HttpsCase> {
protected:
    void SetUp() override {
        const char* proxy = std::getenv("http_proxy");
        ASSERT_TRUE(proxy != nullptr && proxy == site.ProxyUrl()) << "run with HARNESS_SITE_PROXY=1 (scripts/wine-run)";
    }

    TestSite site;
    TempFolder temp;
    FakeForm form;
};

TEST_P(HttpsDownloadTest, FetchesOnlyWhatWinINetTrustsAndNeverComesDown) {
    const HttpsCase& row = GetParam();
    const std::string body(150000, 'b');
    site.Put(kPath, body);
    site.Tunnel(row.tunnel);
    if (row.movedUp) site.Fault(kPath, "redirect 301 " + kHttpsUrl);
    form.siteOverHttps = row.formOverHttps;
    const std::string local = temp / "dest\\data.bin";
    WriteFileBytes(local, "old");

    const int result = DownloadFile(form, row.startOverHttps ? kHttpsUrl : kHttpUrl, local);
    if (row.fetched) {
        EXPECT_EQ(result, static_cast<int>(body.size()));
        EXPECT_TRUE(ReadFileBytes(local) == body) << "the body as the site has it";
        return;
    }
    EXPECT_EQ(result, kDownloadNotOpened);
    EXPECT_EQ(ReadFileBytes(local), "old");
    EXPECT_EQ(FolderNames(temp / "dest"), std::vector<std::string>{"data.bin"}) << "no partial file";
    const DWORD error = LastOpenErrorForTesting();
    if (row.openErrors.empty()) {
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS)) << "opened, and refused where it ended";
    } else {
        EXPECT_TRUE(row.openErrors.count(error)) << "WinINet's error " << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Sites, HttpsDownloadTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Opens url with fetch, waiting for its steps as a fetch set does.
Step OpenWaiting(TimedFetch& fetch, const std::string& url) {
    fetch.BeginOpen(url);
    Step step = fetch.EndOpen();
    for (; step == Step::Pending; step = fetch.EndOpen()) WaitForSingleObject(CompletionEvent(), fetch.TimeLeftMs());
    return step;
}

TEST_F(HttpsDownloadTest, WentOverHttpsAfterARedirectUp) {
    site.Put(kPath, "body");
    site.Tunnel("valid");
    site.Fault(kPath, "redirect 301 " + kHttpsUrl);
    FetchSession session;
    ASSERT_TRUE(session);
    TimedFetch fetch(session);
    ASSERT_EQ(OpenWaiting(fetch, kHttpUrl), Step::Done);
    EXPECT_TRUE(fetch.WentOverHttps()) << "the redirect's URL was https://";
    EXPECT_TRUE(fetch.EndedOverHttps());

    TimedFetch plain(session);
    site.Fault(kPath, "");
    ASSERT_EQ(OpenWaiting(plain, kHttpUrl), Step::Done);
    EXPECT_FALSE(plain.WentOverHttps());
    EXPECT_FALSE(plain.EndedOverHttps());
}

TEST_F(HttpsDownloadTest, HandshakeThatStallsEndsAtTheTimeLimit) {
    ScopedHook timeout(SetTransferTimeoutForTesting, 2000);
    site.Put(kPath, "body");
    site.Tunnel("stall");
    form.siteOverHttps = true;
    const std::string local = temp / "data.bin";
    WriteFileBytes(local, "old");

    const DWORD start = GetTickCount();
    EXPECT_EQ(DownloadFile(form, kHttpsUrl, local), kDownloadNotOpened);
    EXPECT_EQ(LastOpenErrorForTesting(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT)) << "given up, not refused";
    EXPECT_GE(GetTickCount() - start, 1900u) << "the site had the whole limit";
    EXPECT_EQ(ReadFileBytes(local), "old");
}

}  // namespace
