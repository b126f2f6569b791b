// The shipped installer against a site that stops sending in the middle of a
// file: the run gives up after the program's own 30 s, as a cut-off file.
#include "runtime/file_system.h"
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
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kProduct = PRODUCT_NAME;

TEST(EndToEndStall, SiteSilentInTheMiddleOfAFileEndsTheRunAfterTheTimeLimit) {
    const std::string& installer = InstallerPath();
    TestSite site;
    TempFolder temp;
    const std::string dest = temp / kProduct;
    WriteFileBytes(dest + "\\Data\\sample.txt", "old sample");
    site.PutProduct(kProduct, {{"Resources\\" + kProduct + ".ini", "[UpdateFiles]\r\nreadme.txt\r\nData\\sample.txt\r\n"},
                               {"readme.txt", "read me"},
                               {"Data\\sample.txt", std::string(50000, 's')}});
    site.Fault(TestSite::ProductPath(kProduct, "Data\\sample.txt"), "stall body 20000");

    InstallerDriver driver(installer, ExtraEnvironment{{"http_proxy", site.ProxyUrl()}});
    ASSERT_TRUE(driver.WaitForWindow()) << "no installer window";
    ASSERT_TRUE(driver.SetFolder(dest));
    ASSERT_TRUE(driver.SetRunFlag(false));
    driver.PressInstall();

    const std::string failedLine = "Ошибка при получении файла - " + dest + "\\Data\\sample.txt";
    std::vector<std::string> lines;
    const bool failed = driver.WaitForLogLine(
        [&](const std::string& line) { return MessageOfLogLine(line) == failedLine; }, 50000, &lines);
    std::string joined;
    for (const std::string& line : lines) joined += line + "\n";
    ASSERT_TRUE(failed) << joined;
    EXPECT_EQ(MessageOfLogLine(lines.back()), failedLine) << "the error line ends the run";
    // The line's own count: the time since the file's fetch began. The
    // program's 30 s, well short of the minute after which the site itself
    // drops a silent connection.
    const long long waited = ElapsedOfLogLine(lines.back());
    EXPECT_GE(waited, 29900) << joined;
    EXPECT_LE(waited, 40000) << joined;

    EXPECT_FALSE(runtime::FileExists(dest + "\\readme.txt")) << "fetched before, but not put in place";
    EXPECT_EQ(ReadFileBytes(dest + "\\Data\\sample.txt"), "old sample");
    EXPECT_EQ(FolderNames(dest + "\\Data"), std::vector<std::string>{"sample.txt"}) << "no partial file is left";
    Sleep(300);
    EXPECT_TRUE(driver.Running()) << "the window stays for another try";
    driver.CloseByCloseBox();
    DWORD exitCode = 1;
    ASSERT_TRUE(driver.WaitForExit(15000, &exitCode)) << "the program did not end";
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
