// Tessel.exe's resources read back the way Windows reads them: the icon group, the version
// block and the manifest, all in Simplified Chinese (language 2052).
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace {

constexpr WORD kChineseSimplified = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

std::wstring ProgramPath() {
    wchar_t self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"Tessel.exe";
}

class Resources : public ::testing::Test {
  protected:
    void SetUp() override {
        program_ = LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(program_, nullptr);
    }
    void TearDown() override { FreeLibrary(program_); }

    // The resource's bytes in language 2052, empty when there is none.
    std::string Resource(const wchar_t* type, const wchar_t* name) const {
        HRSRC found = FindResourceExW(program_, type, name, kChineseSimplified);
        if (found == nullptr) return {};
        const void* data = LockResource(LoadResource(program_, found));
        return {static_cast<const char*>(data), SizeofResource(program_, found)};
    }

    HMODULE program_ = nullptr;
};

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Resources, IconGroup129HoldsOne128By128ImageOf32Bits) {
    const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(129));
    ASSERT_GE(group.size(), 6 + sizeof(IconGroupEntry));
    const auto* header = reinterpret_cast<const WORD*>(group.data());
    EXPECT_EQ(header[1], 1);  // icons
    ASSERT_EQ(header[2], 1);  // images
    const auto* entry = reinterpret_cast<const IconGroupEntry*>(group.data() + 6);
    EXPECT_EQ(entry->width, 128);
    EXPECT_EQ(entry->height, 128);
    EXPECT_EQ(entry->bitCount, 32);
    const std::string image = Resource(RT_ICON, MAKEINTRESOURCEW(entry->id));
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    const auto* bitmap = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
    EXPECT_EQ(bitmap->biWidth, 128);
    EXPECT_EQ(bitmap->biHeight, 256);  // the colour and the mask bitmap
    EXPECT_EQ(bitmap->biBitCount, 32);
    EXPECT_EQ(image.size(), entry->bytes);
    // Windows makes an icon of it.
    HICON icon =
        static_cast<HICON>(LoadImageW(program_, MAKEINTRESOURCEW(129), IMAGE_ICON, 128, 128, 0));
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) DestroyIcon(icon);
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) return L"?";
    return static_cast<const wchar_t*>(value);
}

TEST_F(Resources, TheVersionBlockReadsAsSet) {
    EXPECT_FALSE(Resource(RT_VERSION, MAKEINTRESOURCEW(1)).empty());
    const std::wstring path = ProgramPath();
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    const std::wstring quill = L"Quill\u7a0b\u5e8f";  // Quill程序
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.0.0.0");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.0.0.0");
    EXPECT_EQ(VersionString(block, L"FileDescription"), quill);
    EXPECT_EQ(VersionString(block, L"ProductName"), quill);
    EXPECT_NE(VersionString(block, L"LegalCopyright"), L"?");
    EXPECT_NE(VersionString(block, L"Comments"), L"?");
}

// The attributes of every <assemblyIdentity .../> element, in document order.
std::vector<std::map<std::string, std::string>> AssemblyIdentities(const std::string& xml) {
    std::vector<std::map<std::string, std::string>> identities;
    for (std::size_t at = xml.find("<assemblyIdentity"); at != std::string::npos;
         at = xml.find("<assemblyIdentity", at + 1)) {
        const std::size_t end = xml.find("/>", at);
        std::map<std::string, std::string> attributes;
        std::size_t p = at + 17;
        while (true) {
            const std::size_t equals = xml.find("=\"", p);
            if (equals == std::string::npos || equals > end) break;
            const std::size_t nameStart = xml.find_last_of(" \t\r\n", equals) + 1;
            const std::size_t close = xml.find('"', equals + 2);
            attributes[xml.substr(nameStart, equals - nameStart)] =
                xml.substr(equals + 2, close - equals - 2);
            p = close + 1;
        }
        identities.push_back(attributes);
    }
    return identities;
}

TEST_F(Resources, TheManifestNamesTheProgramAndCommonControls6) {
    const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    const auto identities = AssemblyIdentities(manifest);
    ASSERT_EQ(identities.size(), 2u) << manifest;
    const std::map<std::string, std::string> program = {{"name", "Quill.App"},
                                                        {"processorArchitecture", "x86"},
                                                        {"version", "5.2.0.0"},
                                                        {"type", "win32"}};
    const std::map<std::string, std::string> commonControls = {
        {"name", "Microsoft.Windows.Common-Controls"},
        {"version", "6.0.0.0"},
        {"processorArchitecture", "x86"},
        {"publicKeyToken", "6595b64144ccf1df"},
        {"language", "*"},
        {"type", "win32"}};
    EXPECT_EQ(identities[0], program);
    EXPECT_EQ(identities[1], commonControls);
    const std::size_t dependency = manifest.find("<dependentAssembly>");
    EXPECT_LT(dependency, manifest.rfind("<assemblyIdentity"));
}

BOOL CALLBACK CountManifests(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(Resources, ThereIsOneManifestOnly) {
    int count = 0;
    EnumResourceNamesW(program_, RT_MANIFEST, &CountManifests, reinterpret_cast<LONG_PTR>(&count));
    EXPECT_EQ(count, 1);
}

}  // namespace
