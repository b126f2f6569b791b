#include "engine/fetch_status.h"

#include "engine/download.h"
#include "engine/install_run.h"
#include "tests/support/fake_form.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace engine;

namespace {

constexpr long long kKiB = 1024;
constexpr long long kMiB = 1024 * kKiB;
constexpr long long kGiB = 1024 * kMiB;
constexpr long long kUnknown = -1;

struct StatusCase {
    const char* entry;
    long long received;
    long long total;
    long long bytesPerSecond;  // -1: not known yet
    int index;
    int count;
    const char* text;
};

TEST(FetchStatusText, ShowsTheFileHowFarItHasComeTheRateAndItsPlace) {
    const StatusCase cases[] = {
        {"Pelmar.exe", 12897485, 50331648, 2202009, 1, 14, "Pelmar.exe — 12,3 из 48,0 МБ (25 %), 2,1 МБ/с — файл 1 из 14"},
        {"a.txt", 0, 700, kUnknown, 2, 3, "a.txt — 0 из 700 Б (0 %) — файл 2 из 3"},
        {"a.txt", 700, 700, 7000, 3, 3, "a.txt — 700 из 700 Б (100 %), 6,8 КБ/с — файл 3 из 3"},
        {"a.txt", 1023, 1023, 1023, 1, 1, "a.txt — 1023 из 1023 Б (100 %), 1023 Б/с — файл 1 из 1"},
        {"Data\\b.bin", 1024, 4096, 512, 1, 2, "Data\\b.bin — 1,0 из 4,0 КБ (25 %), 512 Б/с — файл 1 из 2"},
        // Just below the next unit, rounded up into it.
        {"b.bin", 0, kMiB - 1, kKiB * 1023 + 1000, 1, 2, "b.bin — 0,0 из 1,0 МБ (0 %), 1,0 МБ/с — файл 1 из 2"},
        {"b.bin", kMiB - 1, kMiB, kUnknown, 1, 2, "b.bin — 1,0 из 1,0 МБ (99 %) — файл 1 из 2"},
        {"c.iso", 3 * kGiB / 2, 2 * kGiB, 110 * kMiB, 4, 4, "c.iso — 1,5 из 2,0 ГБ (75 %), 110,0 МБ/с — файл 4 из 4"},
        {"c.iso", 5000 * kGiB, 5000 * kGiB, kUnknown, 1, 1, "c.iso — 5000,0 из 5000,0 ГБ (100 %) — файл 1 из 1"},
        // The site sent no length: received and rate only.
        {"d.dat", 0, kUnknown, kUnknown, 1, 5, "d.dat — 0 Б — файл 1 из 5"},
        {"d.dat", 1536, kUnknown, 0, 1, 5, "d.dat — 1,5 КБ, 0 Б/с — файл 1 из 5"},
        {"d.dat", 200 * kMiB, kUnknown, 2 * kGiB, 5, 5, "d.dat — 200,0 МБ, 2,0 ГБ/с — файл 5 из 5"},
        // An empty body announced as such is whole.
        {"e.txt", 0, 0, kUnknown, 1, 2, "e.txt — 0 из 0 Б (100 %) — файл 1 из 2"},
        // The manifest, before the list is known: no place.
        {"Resources\\Pelmar.ini", 512, 2048, 4096, 0, 0, "Resources\\Pelmar.ini — 0,5 из 2,0 КБ (25 %), 4,0 КБ/с"},
    };
    for (const StatusCase& c : cases) {
        const std::string entry = c.entry;
        EXPECT_EQ(FetchStatusText({entry, c.received, c.total, c.index, c.count}, c.bytesPerSecond), c.text);
    }
}

TEST(FetchStatus, ChangesAtMostTenTimesASecondAndOnlyWhenTheTextDoes) {
    FetchStatus status;
    const std::string entry = "a.bin";
    auto at = [&](long long received, DWORD now) {
        return status.Next({entry, received, 10 * kKiB, 1, 2}, now);
    };
    EXPECT_EQ(at(0, 1000), "a.bin — 0,0 из 10,0 КБ (0 %) — файл 1 из 2") << "the first report at once";
    EXPECT_FALSE(at(0, 1200)) << "nothing has come: the line stays as it is";
    EXPECT_EQ(at(1024, 1250), "a.bin — 1,0 из 10,0 КБ (10 %) — файл 1 из 2") << "no rate over 50 ms";
    EXPECT_FALSE(at(2048, 1300)) << "too soon";
    EXPECT_EQ(at(3072, 1400), "a.bin — 3,0 из 10,0 КБ (30 %), 15,0 КБ/с — файл 1 из 2");
    EXPECT_EQ(at(10 * kKiB, 1500), "a.bin — 10,0 из 10,0 КБ (100 %), 33,3 КБ/с — файл 1 из 2");
    // The next file's rate counts from its own start.
    EXPECT_EQ(status.Next({entry, 0, 10 * kKiB, 2, 2}, 1600), "a.bin — 0,0 из 10,0 КБ (0 %) — файл 2 из 2");
    EXPECT_EQ(status.Next({entry, 5 * kKiB, 10 * kKiB, 2, 2}, 2100),
              "a.bin — 5,0 из 10,0 КБ (50 %), 10,0 КБ/с — файл 2 из 2");
    status.Reset();
    EXPECT_TRUE(at(0, 2150)) << "a new run shows its first report at once";
}

TEST(FetchStatusOfARun, EachFileReportsFromNothingToItsWholeLengthWithItsPlace) {
    TestSite site;
    TempFolder temp;
    site.PutProduct("Pelmar", {{"Resources\\Pelmar.ini", "[UpdateFiles]\r\nResources\\Pelmar.ini\r\nPelmar.exe\r\nData\\b.bin\r\n"},
                               {"Pelmar.exe", std::string(300000, 'p')},
                               {"Data\\b.bin", std::string(5000, 'b')}});
    site.Fault(TestSite::ProductPath("Pelmar", "Data\\b.bin"), "close");
    FakeForm form;
    form.siteHost = site.Host();
    form.destination = temp / "Pelmar";
    form.runAfterInstall = false;

    RunInstall(form);

    ASSERT_EQ(form.Messages().back(), "OK");
    const long long manifestSize = 61;
    struct Expected {
        std::string entry;
        long long total;
        int index;
        int count;
        long long size;
    };
    const std::vector<Expected> files = {{"Resources\\Pelmar.ini", manifestSize, 0, 0, manifestSize},
                                         {"Pelmar.exe", 300000, 1, 2, 300000},
                                         {"Data\\b.bin", kUnknown, 2, 2, 5000}};
    size_t at = 0;
    for (const Expected& file : files) {
        SCOPED_TRACE(file.entry);
        ASSERT_LT(at, form.progress.size());
        EXPECT_EQ(form.progress[at].received, 0) << "a file's first report";
        long long last = -1;
        for (; at < form.progress.size() && form.progress[at].entry == file.entry; ++at) {
            const FakeForm::Progress& p = form.progress[at];
            EXPECT_EQ(p.total, file.total);
            EXPECT_EQ(p.index, file.index);
            EXPECT_EQ(p.count, file.count);
            EXPECT_GE(p.received, last) << "never backwards";
            last = p.received;
        }
        EXPECT_EQ(last, file.size) << "the last report has every byte";
    }
    EXPECT_EQ(at, form.progress.size());
    EXPECT_GT(form.waitCount, 0) << "the run waits for the site through the form";
}

}  // namespace
