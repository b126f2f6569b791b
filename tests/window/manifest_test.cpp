// The manifest that Windows reads out of the program before it starts it,
// read out of the built program file here the same way, and parsed as XML:
// Windows refuses to start a program whose manifest is not well formed.
#include <windows.h>
#include <objbase.h>
#include <xmllite.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The programs to read: this build's, and on a test host without 32-bit
// support also the 32-bit program built beside it (tests/window/CMakeLists.txt).
std::vector<std::string> Programs() {
    std::vector<std::string> programs;
    for (const char* variable : {"INSTALLER_PROGRAM", "INSTALLER_PROGRAM_32"}) {
        if (const char* path = std::getenv(variable)) programs.emplace_back(path);
    }
    return programs;
}

// The program's resources of type 24 (RT_MANIFEST): their ids and the first
// one's bytes. The file is mapped as data, so a 32-bit program reads as well.
struct ManifestResources {
    std::vector<ULONG_PTR> ids;
    std::string bytes;
    bool opened = false;
};

BOOL CALLBACK CollectId(HMODULE, LPCSTR, LPSTR name, LONG_PTR found) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(found)->push_back(
        IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : 0);
    return TRUE;
}

ManifestResources ReadManifests(const std::string& program) {
    ManifestResources read;
    HMODULE module =
        LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) return read;
    read.opened = true;
    EnumResourceNamesA(module, MAKEINTRESOURCEA(24), CollectId, reinterpret_cast<LONG_PTR>(&read.ids));
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        HGLOBAL loaded = LoadResource(module, found);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (data != nullptr) read.bytes.assign(static_cast<const char*>(data), SizeofResource(module, found));
    }
    FreeLibrary(module);
    return read;
}

struct Element {
    std::wstring space;  // the namespace
    std::wstring name;   // the local name
    std::map<std::wstring, std::wstring> attributes;
    std::wstring text;
};

// Every element of a well-formed document, in document order; an empty list
// with a reason when the document is not well formed.
std::vector<Element> ParseXml(const std::string& bytes, std::string& failure) {
    std::vector<Element> elements;
    using Create = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
    HMODULE xmllite = LoadLibraryA("xmllite.dll");
    auto create = xmllite != nullptr ? reinterpret_cast<Create>(reinterpret_cast<void (*)()>(
                                           GetProcAddress(xmllite, "CreateXmlReader")))
                                     : nullptr;
    if (create == nullptr) {
        failure = "no XmlLite";
        return elements;
    }
    IXmlReader* reader = nullptr;
    IStream* stream = nullptr;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (memory != nullptr) {
        memcpy(GlobalLock(memory), bytes.data(), bytes.size());
        GlobalUnlock(memory);
    }
    if (memory == nullptr || FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream)) ||
        FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader), nullptr)) ||
        FAILED(reader->SetInput(stream))) {
        failure = "cannot read the manifest";
    } else {
        std::vector<size_t> open;  // indices of the elements not yet closed
        XmlNodeType type;
        HRESULT result;
        while ((result = reader->Read(&type)) == S_OK) {
            const wchar_t* value = nullptr;
            if (type == XmlNodeType_Element) {
                Element element;
                reader->GetNamespaceUri(&value, nullptr);
                element.space = value;
                reader->GetLocalName(&value, nullptr);
                element.name = value;
                bool empty = reader->IsEmptyElement() != FALSE;
                for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK;
                     more = reader->MoveToNextAttribute()) {
                    const wchar_t* name = nullptr;
                    reader->GetLocalName(&name, nullptr);
                    reader->GetValue(&value, nullptr);
                    element.attributes[name] = value;
                }
                elements.push_back(element);
                if (!empty) open.push_back(elements.size() - 1);
            } else if (type == XmlNodeType_EndElement) {
                if (!open.empty()) open.pop_back();
            } else if (type == XmlNodeType_Text && !open.empty()) {
                reader->GetValue(&value, nullptr);
                elements[open.back()].text += value;
            }
        }
        if (FAILED(result)) {
            char code[16] = {};
            snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
            failure = std::string("not well formed (") + code + ")";
            elements.clear();
        }
    }
    if (reader != nullptr) reader->Release();
    if (stream != nullptr) {
        stream->Release();
    } else if (memory != nullptr) {
        GlobalFree(memory);
    }
    return elements;
}

std::vector<const Element*> Named(const std::vector<Element>& elements, const std::wstring& name) {
    std::vector<const Element*> found;
    for (const Element& element : elements) {
        if (element.name == name) found.push_back(&element);
    }
    return found;
}

}  // namespace

TEST(Manifest, AsksForNoElevationKnowsWindows7To11AndIsAwareOfTheSystemDpiOnly) {
    std::vector<std::string> programs = Programs();
    if (programs.empty()) GTEST_SKIP() << "run through ctest, which names the programs to read";
    for (const std::string& program : programs) {
        SCOPED_TRACE(program);
        ManifestResources read = ReadManifests(program);
        ASSERT_TRUE(read.opened) << "cannot open the program file (error " << GetLastError() << ")";
        EXPECT_EQ(read.ids, std::vector<ULONG_PTR>{1}) << "one manifest, id 1, the one Windows reads at start";
        std::string failure;
        std::vector<Element> elements = ParseXml(read.bytes, failure);
        ASSERT_FALSE(elements.empty()) << failure;

        EXPECT_EQ(elements[0].name, L"assembly");
        EXPECT_EQ(elements[0].space, L"urn:schemas-microsoft-com:asm.v1");
        EXPECT_EQ(elements[0].attributes[L"manifestVersion"], L"1.0");

        std::vector<const Element*> levels = Named(elements, L"requestedExecutionLevel");
        ASSERT_EQ(levels.size(), 1u);
        EXPECT_EQ(levels[0]->space, L"urn:schemas-microsoft-com:asm.v3");
        EXPECT_EQ(levels[0]->attributes, (std::map<std::wstring, std::wstring>{{L"level", L"asInvoker"},
                                                                                {L"uiAccess", L"false"}}));

        std::set<std::wstring> systems;
        for (const Element* os : Named(elements, L"supportedOS")) {
            EXPECT_EQ(os->space, L"urn:schemas-microsoft-com:compatibility.v1");
            systems.insert(os->attributes.at(L"Id"));
        }
        EXPECT_EQ(systems, (std::set<std::wstring>{
                               L"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
                               L"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
                               L"{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
                               L"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
                           }));

        // System awareness, as the forms scale once to the system's dpi.
        std::vector<const Element*> aware = Named(elements, L"dpiAware");
        ASSERT_EQ(aware.size(), 1u);
        EXPECT_EQ(aware[0]->space, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings");
        EXPECT_EQ(aware[0]->text, L"true");
        // Per-monitor awareness would need the window to follow WM_DPICHANGED;
        // newer common controls would change the designed classic look; a code
        // page of its own would take the user's ANSI code page from the program.
        for (const wchar_t* absent : {L"dpiAwareness", L"dependency", L"dependentAssembly", L"activeCodePage"}) {
            EXPECT_TRUE(Named(elements, absent).empty()) << "no " << std::string(absent, absent + wcslen(absent));
        }
    }
}
