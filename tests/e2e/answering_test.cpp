// The shipped installer through a file that takes about 12 s: the window
// answers all along, as the system judges it, shows how far the file has come
// and can be moved; clicks and keys meant for its controls take effect once
// the file is there.
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/key_presses.h"
#include "tests/e2e/programs.h"
#include "tests/support/file_bytes.h"
#include "tests/support/log_text.h"
#include "tests/support/poll.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kProduct = PRODUCT_NAME;
const std::string kBigEntry = "Data\\big.bin";
// 120 pieces of 5000 bytes, one every 100 ms.
constexpr size_t kBigSize = 600000;
constexpr int kTricklePiece = 5000;
// 600000 bytes as the status line shows them.
const std::string kBigTotal = "585,9";

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

POINT Center(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// A point of the title bar, as the window itself tells it (WM_NCHITTEST).
bool TitleBarPoint(const InstallerDriver& installer, POINT& point) {
    RECT rect{};
    GetWindowRect(installer.Window(), &rect);
    for (int y = rect.top + 2; y < rect.top + 60; y += 2) {
        point = {rect.left + 200, y};
        DWORD_PTR hit = 0;
        if (SendMessageTimeoutA(installer.Window(), WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y), SMTO_NORMAL, 2000,
                                &hit) &&
            hit == HTCAPTION) {
            return true;
        }
    }
    return false;
}

// Samples the window every 0.5 s from a thread of its own: whether it answers
// and what its status bar says.
class Sampler {
public:
    explicit Sampler(const InstallerDriver& installer) : installer_(installer), thread_([this] { Run(); }) {}
    ~Sampler() { Stop(); }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int Samples() const { return samples_; }
    int Unanswered() const { return unanswered_; }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    void Run() {
        while (!stop_) {
            ++samples_;
            if (!installer_.Answers(1000)) ++unanswered_;
            std::string text;
            if (installer_.StatusText(text, 1000)) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (texts_.empty() || texts_.back() != text) texts_.push_back(text);
            }
            Sleep(500);
        }
    }

    const InstallerDriver& installer_;
    std::atomic<bool> stop_{false};
    std::atomic<int> samples_{0};
    std::atomic<int> unanswered_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
    std::thread thread_;  // last: it starts once everything above is there
};

// The kilobytes received in a status line of the big file, or -1 when the
// line is not of it: "Data\big.bin — 12,3 из 585,9 КБ (2 %), ... — файл 3 из 3".
double ReceivedKilobytes(const std::string& text, int& percent) {
    const std::string head = kBigEntry + " — ";
    const std::string of = " из " + kBigTotal + " КБ (";
    const size_t ofAt = text.find(of);
    if (text.compare(0, head.size(), head) != 0 || ofAt == std::string::npos) return -1;
    std::string figure = text.substr(head.size(), ofAt - head.size());
    for (char& c : figure) {
        if (c == ',') c = '.';
    }
    percent = std::atoi(text.c_str() + ofAt + of.size());
    return std::atof(figure.c_str());
}

TEST(EndToEndAnswering, WindowAnswersThroughASlowFileAndShowsHowFarItHasCome) {
    TestSite site;
    TempFolder temp;
    const std::string dest = temp / kProduct;
    const std::string manifest = "Resources\\" + kProduct + ".ini";
    site.PutProduct(kProduct,
                    {{manifest, "[UpdateFiles]\r\n" + manifest + "\r\n" + kProduct + ".exe\r\nreadme.txt\r\n" +
                                    kBigEntry + "\r\n"},
                     {kProduct + ".exe", ReadFileBytes(DemoProductPath())},
                     {"readme.txt", "read me"},
                     {kBigEntry, std::string(kBigSize, 'b')}});
    site.Fault(TestSite::ProductPath(kProduct, kBigEntry), "trickle " + std::to_string(kTricklePiece));
    // The run ends by opening the folder: those windows go with the test.
    struct FolderWindowsClosed {
        std::set<DWORD> before = ProcessesNamed("explorer.exe");
        ~FolderWindowsClosed() {
            EndProcessesNamed("explorer.exe", before);
            EndProcessesNamed("winefile.exe", {});
        }
    } folderWindowsClosed;

    InstallerDriver installer(InstallerPath(), ExtraEnvironment{{"http_proxy", site.ProxyUrl()}});
    ASSERT_TRUE(installer.WaitForWindow()) << "no installer window";
    ASSERT_TRUE(installer.SetFolder(dest));
    ASSERT_TRUE(installer.SetRunFlag(false));
    // The keys typed later go to the folder box.
    ASSERT_TRUE(ClickAt(Center(installer.FolderEdit())));
    ASSERT_TRUE(PollUntil([&] { return installer.Focus() == installer.FolderEdit(); }, 5000));
    std::string status = "unread";
    ASSERT_TRUE(installer.StatusText(status));
    EXPECT_EQ(status, "") << "nothing in the status bar before a run";

    // Pressed as the button tells its parent, so that the focus stays put.
    PostMessageA(GetParent(installer.InstallButton()), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(installer.InstallButton()), BN_CLICKED),
                 reinterpret_cast<LPARAM>(installer.InstallButton()));
    ASSERT_TRUE(PollUntil([&] {
        return installer.StatusText(status) && status.rfind(kBigEntry + " — ", 0) == 0;
    }, 30000)) << "the big file's progress never showed: " << status;
    Sampler sampler(installer);

    // The title bar dragged while the file comes.
    POINT grip{};
    ASSERT_TRUE(TitleBarPoint(installer, grip)) << "no title bar found";
    RECT before{};
    GetWindowRect(installer.Window(), &before);
    ASSERT_TRUE(Xdotool("mousemove " + std::to_string(grip.x) + " " + std::to_string(grip.y) +
                        " mousedown 1 sleep 0.3 mousemove_relative 30 20 sleep 0.2 mousemove_relative 30 20"
                        " sleep 0.3 mouseup 1"));
    RECT after{};
    EXPECT_TRUE(PollUntil([&] {
        GetWindowRect(installer.Window(), &after);
        return after.left == before.left + 60 && after.top == before.top + 40;
    }, 5000)) << "the window did not move: from " << before.left << "," << before.top << " to " << after.left
              << "," << after.top;

    // A key for the folder box and a click on the Install button, meant for
    // the controls: they wait for the file.
    ASSERT_TRUE(PressKeys("End backslash"));
    ASSERT_TRUE(ClickAt(Center(installer.InstallButton())));
    Sleep(1000);
    std::string folder;
    ASSERT_TRUE(installer.FolderText(folder));
    ASSERT_TRUE(installer.StatusText(status));
    EXPECT_EQ(status.rfind(kBigEntry + " — ", 0), 0u) << "the file had come before the checks: " << status;
    EXPECT_EQ(folder, dest) << "a key took effect while the file came";
    EXPECT_EQ(installer.NameOf(installer.Focus()), "FolderEdit") << "a click took effect while the file came";

    std::vector<std::string> lines;
    ASSERT_TRUE(installer.WaitForLogLine(IsOkLine, 60000, &lines)) << Joined(lines);
    sampler.Stop();
    EXPECT_GE(sampler.Samples(), 12);
    EXPECT_EQ(sampler.Unanswered(), 0) << "of " << sampler.Samples() << " samples";

    // What the status bar said agrees with what the site sent, and moved on.
    const std::vector<std::string> texts = sampler.Texts();
    double last = -1;
    int shown = 0;
    for (const std::string& text : texts) {
        int percent = -1;
        const double received = ReceivedKilobytes(text, percent);
        if (received < 0) continue;
        SCOPED_TRACE(text);
        ++shown;
        EXPECT_GE(received, last);
        EXPECT_LE(received * 1024, kBigSize + 52.0);
        EXPECT_LE(std::abs(percent - received * 100 / 585.9375), 1.0);
        EXPECT_NE(text.find(" — файл 3 из 3"), std::string::npos) << "the place";
        // The rate shows once the file has been coming for 100 ms: samples
        // are half a second apart, so only the first may lack it.
        if (shown > 1) {
            EXPECT_NE(text.find("/с — файл 3 из 3"), std::string::npos) << "the rate";
        }
        last = received;
    }
    EXPECT_GE(shown, 5) << Joined(texts);

    // Once the file was there: the key in the folder box, the click on the
    // button (a second start during the run, which it ignores).
    ASSERT_TRUE(installer.FolderText(folder));
    EXPECT_EQ(folder, dest + "\\");
    EXPECT_EQ(installer.NameOf(installer.Focus()), "InstallButton");
    int manifestRequests = 0;
    for (const std::string& path : site.Requests()) {
        manifestRequests += path == "/" + TestSite::ProductPath(kProduct, manifest) ? 1 : 0;
    }
    EXPECT_EQ(manifestRequests, 1) << "one run";
    EXPECT_TRUE(PollUntil([&] { return installer.StatusText(status) && status.empty(); }, 5000))
        << "the status bar after the run: " << status;

    installer.CloseByCloseBox();
    EXPECT_TRUE(installer.WaitForExit(15000)) << "the program did not end";
}

}  // namespace
