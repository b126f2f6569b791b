// A Russian user's folders: Cyrillic names from the edit box through the
// engine to the disk and the site, and back into the window's texts.
#include "runtime/exceptions.h"
#include "runtime/narrow_text.h"
#include "runtime/unique_handle.h"
#include "tests/support/error_box.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"
#include "tests/window/window_fixture.h"

#include <algorithm>

using namespace runtime;
using namespace ui;

namespace {

// The name Windows gives the file or folder at path, as UTF-16: what the
// file manager shows.
std::wstring NameOnDisk(const std::string& path) {
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(NarrowToWide(path).c_str(), &found));
    return search ? std::wstring(found.cFileName) : std::wstring();
}

bool HasLine(const std::wstring& text, const std::wstring& ending) {
    size_t at = text.find(ending + L"\r\n");
    return at != std::wstring::npos;
}

}  // namespace

class CyrillicFolderTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Publish("v1");
        Start();
        form->LabelSite.SetText(site.Host());
        form->CheckBoxRun.SetChecked(false);
    }

    void Publish(const std::string& version) {
        site.PutProduct("Pelmar", {{"Resources\\Pelmar.ini",
                                    "[UpdateFiles]\r\nPelmar.exe\r\nДанные\\отчёт.txt\r\nResources\\Pelmar.ini\r\n"},
                                   {"Pelmar.exe", "MZ " + version},
                                   {"Данные\\отчёт.txt", "отчёт " + version}});
    }

    void Install() {
        Click(form->updates);
        ASSERT_EQ(MessageOf(LogLines().back()), "OK") << form->MemoInform.Text();
    }

    TestSite site;
    TempFolder temp;
    // "Мои программы\Программы Pelmar", a space in each name.
    const std::string parent = temp / "Мои программы";
    const std::string dest = parent + "\\Программы Pelmar";
};

TEST_F(CyrillicFolderTest, InstallsIntoTheFolderAndUpdatesItThere) {
    form->EditPathDest.SetText(dest);
    EXPECT_EQ(form->WideText(), L"Установка программы Pelmar");
    Install();
    EXPECT_EQ(NameOnDisk(parent), L"Мои программы");
    EXPECT_EQ(NameOnDisk(dest), L"Программы Pelmar");
    EXPECT_EQ(NameOnDisk(dest + "\\Данные"), L"Данные");
    EXPECT_EQ(NameOnDisk(dest + "\\Данные\\отчёт.txt"), L"отчёт.txt");
    EXPECT_EQ(ReadFileBytes(dest + "\\Pelmar.exe"), "MZ v1");
    EXPECT_EQ(ReadFileBytes(dest + "\\Данные\\отчёт.txt"), "отчёт v1");

    // The log shows the paths as the user named them.
    const std::wstring wideDest = NarrowToWide(temp.Path()) + L"\\Мои программы\\Программы Pelmar";
    const std::wstring panel = form->MemoInform.WideText();
    EXPECT_TRUE(HasLine(panel, wideDest + L"\\Resources\\Pelmar.ini")) << form->MemoInform.Text();
    EXPECT_TRUE(HasLine(panel, wideDest + L"\\Данные\\отчёт.txt")) << form->MemoInform.Text();

    // The entry's bytes reach the site as the manifest holds them, unescaped.
    std::vector<std::string> requests = site.Requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), "/Updates/Pelmar/Данные/отчёт.txt"), requests.end());

    // With the product there, the same folder is an update.
    form->EditPathDest.SetText(temp.Path());
    form->EditPathDest.SetText(dest);
    EXPECT_EQ(form->WideText(), L"Обновление программы Pelmar");
    EXPECT_EQ(form->updates.WideText(), L"Обновить");
    Publish("v2");
    Install();
    EXPECT_EQ(ReadFileBytes(dest + "\\Pelmar.exe"), "MZ v2");
    EXPECT_EQ(ReadFileBytes(dest + "\\Данные\\отчёт.txt"), "отчёт v2");
    EXPECT_EQ(FilesBelow(dest), (std::vector<std::string>{"Pelmar.exe", "Resources\\Pelmar.ini", "Данные\\отчёт.txt"}));
}

TEST_F(CyrillicFolderTest, PickedFolderIsPutIntoTheEditBoxAsNamed) {
    CreateDirectoryA(parent.c_str(), nullptr);
    pickerAnswer = parent;
    HWND button = form->SBOpenPathDest.Handle();
    SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(form->EditPathDest.WideText(), NarrowToWide(temp.Path()) + L"\\Мои программы");
    EXPECT_EQ(form->EditPathDest.Text(), parent);
}

TEST_F(CyrillicFolderTest, LockedFileIsNamedInTheErrorBoxAsOnDisk) {
    WriteFileBytes(dest + "\\Данные\\отчёт.txt", "open elsewhere");
    UniqueFileHandle locked(CreateFileA((dest + "\\Данные\\отчёт.txt").c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked);
    form->EditPathDest.SetText(dest);

    ErrorBox box = AnswerErrorBox([&] { Click(form->updates); });
    EXPECT_EQ(box.wideText, L"Cannot create file \"" + NarrowToWide(temp.Path()) +
                                L"\\Мои программы\\Программы Pelmar\\Данные\\отчёт.txt\". " +
                                NarrowToWide(SystemErrorText(ERROR_SHARING_VIOLATION)) + L".");
    locked.reset();
    EXPECT_EQ(ReadFileBytes(dest + "\\Данные\\отчёт.txt"), "open elsewhere");
}
