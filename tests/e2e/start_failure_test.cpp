// The shipped installer when its window cannot be made: a copy of the program
// with one of its resources taken out shows the error box with the system's
// reason, and no half-made window, and ends when the box is answered.
#include "runtime/exceptions.h"
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/programs.h"
#include "tests/support/temp_folder.h"
#include "window/resource_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A resource of a program file, read whole.
struct Resource {
    std::string type;  // "#n" for a numbered one, as the resource functions take it
    std::string name;
    WORD language;
    std::vector<char> data;
};

std::string ResourceKey(LPCSTR key) {
    return IS_INTRESOURCE(key) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(key)) : std::string(key);
}

BOOL CALLBACK TakeResource(HMODULE image, LPCSTR type, LPCSTR name, WORD language, LONG_PTR data) {
    HRSRC found = FindResourceExA(image, type, name, language);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
    if (bytes == nullptr) return TRUE;
    std::vector<char> copy(bytes, bytes + SizeofResource(image, found));
    reinterpret_cast<std::vector<Resource>*>(data)->push_back(
        {ResourceKey(type), ResourceKey(name), language, std::move(copy)});
    return TRUE;
}

BOOL CALLBACK TakeName(HMODULE image, LPCSTR type, LPSTR name, LONG_PTR data) {
    EnumResourceLanguagesA(image, type, name, TakeResource, data);
    return TRUE;
}

BOOL CALLBACK TakeType(HMODULE image, LPSTR type, LONG_PTR data) {
    EnumResourceNamesA(image, type, TakeName, data);
    return TRUE;
}

// A copy of the program in folder without one resource; empty on failure.
// Wine's UpdateResource does not take one out, so the copy gets all but it.
std::string CopyWithout(const std::string& program, const std::string& folder, LPCSTR type, int id) {
    std::string copy = folder + "\\Install-Pelmar.exe";
    if (!CopyFileA(program.c_str(), copy.c_str(), FALSE)) return {};
    std::vector<Resource> resources;
    HMODULE image = LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (image == nullptr) return {};
    EnumResourceTypesA(image, TakeType, reinterpret_cast<LONG_PTR>(&resources));
    FreeLibrary(image);
    HANDLE update = BeginUpdateResourceA(copy.c_str(), TRUE);
    if (update == nullptr) return {};
    size_t left = 0;
    for (const Resource& resource : resources) {
        if (resource.type == ResourceKey(type) && resource.name == ResourceKey(MAKEINTRESOURCEA(id))) continue;
        ++left;
        UpdateResourceA(update, resource.type.c_str(), resource.name.c_str(), resource.language,
                        const_cast<char*>(resource.data.data()), static_cast<DWORD>(resource.data.size()));
    }
    if (!EndUpdateResourceA(update, FALSE) || left + 1 != resources.size()) return {};
    return copy;
}

}  // namespace

TEST(StartFailure, AResourceThatCannotBeLoadedIsShownWithTheSystemsReasonAndNothingIsLeftHalfMade) {
    struct Case {
        LPCSTR type;
        int id;
        std::string message;
    };
    // Each is the only one of its type.
    const std::string notFound = runtime::SystemErrorText(ERROR_RESOURCE_TYPE_NOT_FOUND);
    const Case cases[] = {
        // Before any window; then after the window and some of its controls.
        {RT_GROUP_ICON, IDI_PROGRAM, "Cannot load icon 1. " + notFound + "."},
        {RT_BITMAP, IDB_FOLDER_TREE, "Cannot load bitmap 100. " + notFound + "."},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        std::string copy = CopyWithout(InstallerPath(), temp.Path(), c.type, c.id);
        ASSERT_FALSE(copy.empty()) << c.message;
        InstallerDriver installer(copy);
        ErrorBox box;
        ASSERT_TRUE(installer.WaitForErrorBox(box, 15000)) << c.message;
        EXPECT_EQ(box.text, c.message);
        EXPECT_EQ(box.title, "Install-pelmar");
        // The box is all there is: the window and its controls are gone.
        EXPECT_EQ(installer.TopWindows(), std::vector<HWND>{box.window}) << c.message;
        EXPECT_EQ(FindWindowA("TFormInstallProgram", nullptr), nullptr) << c.message;

        PressOk(box);
        DWORD code = 1;
        EXPECT_TRUE(installer.WaitForExit(15000, &code)) << c.message;
        EXPECT_EQ(code, 0u) << c.message;
    }
}
