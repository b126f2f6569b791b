#include "runtime/file_system.h"

#include "runtime/exceptions.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace runtime;

namespace {

TEST(ExtractDirTest, CutsAtTheLastSeparatorAndShortensADriveRoot) {
    const struct {
        const char* path;
        const char* fileDir;
        const char* dir;
    } cases[] = {
        {"C:\\Programs\\Pelmar\\Pelmar.exe", "C:\\Programs\\Pelmar", "C:\\Programs\\Pelmar"},
        {"C:\\Programs\\Pelmar\\Resources\\Pelmar.ini", "C:\\Programs\\Pelmar\\Resources",
         "C:\\Programs\\Pelmar\\Resources"},
        {"C:\\Pelmar.exe", "C:\\", "C:"},
        {"C:\\", "C:\\", "C:"},
        {"C:Pelmar.exe", "C:", "C:"},
        {"Pelmar.exe", "", ""},
        {"", "", ""},
        {"\\Pelmar.exe", "\\", "\\"},
        {"Programs\\Pelmar.exe", "Programs", "Programs"},
        {"ab\\Pelmar.exe", "ab", "ab"},
        {"C:\\Programs\\Pelmar\\", "C:\\Programs\\Pelmar", "C:\\Programs\\Pelmar"},
        // A "\" after another "\" or a ":" stays.
        {"C:\\Pelmar\\\\Pelmar.exe", "C:\\Pelmar\\\\", "C:\\Pelmar\\\\"},
        {"a\\\\b", "a\\\\", "a\\\\"},
        {"\\\\server\\share\\Pelmar.exe", "\\\\server\\share", "\\\\server\\share"},
        {"\\\\Pelmar.exe", "\\\\", "\\\\"},
        {"Z:\\tmp\\Папка\\Файл.exe", "Z:\\tmp\\Папка", "Z:\\tmp\\Папка"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFileDir(c.path), c.fileDir) << "ExtractFileDir(\"" << c.path << "\")";
        EXPECT_EQ(ExtractDir(c.path), c.dir) << "ExtractDir(\"" << c.path << "\")";
    }
}

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        char current[MAX_PATH + 1];
        DWORD length = GetCurrentDirectoryA(sizeof current, current);
        ASSERT_GT(length, 0u);
        savedCurrent_.assign(current, length);
    }
    void TearDown() override { SetCurrentDirectoryA(savedCurrent_.c_str()); }

    void EnterTemp() { ASSERT_TRUE(SetCurrentDirectoryA(temp.Path().c_str())); }

    TempFolder temp;

private:
    std::string savedCurrent_;
};

TEST_F(FileSystemTest, TellsFoldersFromFiles) {
    ASSERT_TRUE(CreateDirectoryA((temp / "folder.txt").c_str(), nullptr));
    WriteFileBytes(temp / "file.bin", "x");

    EXPECT_TRUE(DirectoryExists(temp.Path()));
    EXPECT_TRUE(DirectoryExists(temp.Path() + "\\"));
    EXPECT_TRUE(DirectoryExists(temp / "folder.txt"));
    EXPECT_FALSE(FileExists(temp / "folder.txt"));
    EXPECT_TRUE(FileExists(temp / "file.bin"));
    EXPECT_FALSE(DirectoryExists(temp / "file.bin"));
    EXPECT_FALSE(DirectoryExists(temp / "missing"));
    EXPECT_FALSE(FileExists(temp / "missing"));
    EXPECT_FALSE(DirectoryExists(temp / "missing\\deeper"));
    EXPECT_FALSE(FileExists(temp / "missing\\deeper"));
    EXPECT_FALSE(DirectoryExists(""));
    EXPECT_FALSE(FileExists(""));
}

TEST_F(FileSystemTest, ForceDirectoriesMakesTheWholeChain) {
    const std::string deep = temp / "Programs\\Pelmar\\Resources";
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    // Already there, and with a trailing backslash.
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(ForceDirectories(temp / "Programs\\Other\\"));
    EXPECT_TRUE(DirectoryExists(temp / "Programs\\Other"));
}

TEST_F(FileSystemTest, ForceDirectoriesReportsAFileInTheWay) {
    WriteFileBytes(temp / "file.bin", "x");
    EXPECT_FALSE(ForceDirectories(temp / "file.bin\\sub"));
    EXPECT_FALSE(DirectoryExists(temp / "file.bin\\sub"));
}

TEST_F(FileSystemTest, ForceDirectoriesTakesADriveAloneAsExisting) {
    for (const char* drive : {"C:", "C:\\", "Q:", "Q:\\"}) {
        EXPECT_TRUE(ForceDirectories(drive)) << drive;
    }
}

TEST_F(FileSystemTest, ForceDirectoriesThrowsForAnEmptyPathOrALongRelativeName) {
    EnterTemp();
    ASSERT_TRUE(CreateDirectoryA("existing", nullptr));
    for (const char* dir : {"", "abc", "abc\\", "Pelmar\\Resources", "Папка\\x"}) {
        try {
            ForceDirectories(dir);
            ADD_FAILURE() << "no error for \"" << dir << "\"";
        } catch (const EInOutError& error) {
            EXPECT_EQ(error.Message(), "Unable to create directory") << dir;
        }
    }
    EXPECT_FALSE(DirectoryExists(temp / "abc"));
    EXPECT_FALSE(DirectoryExists(temp / "Pelmar"));
}

TEST_F(FileSystemTest, ForceDirectoriesWithAShortRelativeNameFailsQuietly) {
    EnterTemp();
    bool made = true;
    EXPECT_NO_THROW(made = ForceDirectories("ab\\cd"));
    EXPECT_FALSE(made);
    EXPECT_FALSE(DirectoryExists(temp / "ab"));
    EXPECT_NO_THROW(made = ForceDirectories("x\\y\\z"));
    EXPECT_FALSE(made);
    EXPECT_FALSE(DirectoryExists(temp / "x"));
}

TEST_F(FileSystemTest, ForceDirectoriesGoesOnBelowAnExistingRelativeFolder) {
    EnterTemp();
    ASSERT_TRUE(CreateDirectoryA("existing", nullptr));
    EXPECT_TRUE(ForceDirectories("existing\\newer\\newest"));
    EXPECT_TRUE(DirectoryExists(temp / "existing\\newer\\newest"));
}

TEST_F(FileSystemTest, ExpandFileNameResolvesAgainstTheCurrentFolder) {
    EnterTemp();
    EXPECT_EQ(ExpandFileName("Pelmar.ini"), temp / "Pelmar.ini");
    EXPECT_EQ(ExpandFileName("Resources\\..\\Pelmar.ini"), temp / "Pelmar.ini");
    EXPECT_EQ(ExpandFileName(temp / "a\\b.txt"), temp / "a\\b.txt");
}

}  // namespace
