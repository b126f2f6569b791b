#include "window/resource_ids.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Resources, VersionInformationIsRussianWithFileAndProductVersionOnly) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0419);
    EXPECT_EQ(translation[1], 1251);

    const std::pair<const char*, const char*> strings[] = {
        {"FileVersion", "1.1.1.0"}, {"ProductVersion", "1.0.0.0"}, {"CompanyName", nullptr},
        {"FileDescription", nullptr}, {"ProductName", nullptr}, {"LegalCopyright", nullptr},
    };
    for (const auto& [name, value] : strings) {
        char* text = nullptr;
        std::string key = std::string("\\StringFileInfo\\041904E3\\") + name;
        BOOL found = VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &length);
        if (value == nullptr) {
            EXPECT_FALSE(found) << name;
        } else {
            ASSERT_TRUE(found) << name;
            EXPECT_STREQ(text, value);
        }
    }
}

TEST(Resources, ProgramIconIs32By32WithAMask) {
    auto icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 32, 32, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, 32);
    EXPECT_EQ(colour.bmHeight, 32);
    EXPECT_NE(info.hbmMask, nullptr);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}
