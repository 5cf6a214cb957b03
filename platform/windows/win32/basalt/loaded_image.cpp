// Loading the program image: the reader's steps in order, in place in the caller's memory.
#include "loaded_image.h"

#include <windows.h>

#include <cstring>

#include "tessel/image/image.h"
#include "window_system.h"

namespace tessel::basalt {

namespace {

LoadedImage g_program;
void (*g_entry)() = nullptr;
alignas(16) std::uint8_t g_var[16];  // the `var` data: 16 bytes, zero at load

// The bytes from the image's first byte to the end of the memory region that holds it: the
// reader stops at the last section anyway.
std::span<const std::uint8_t> ImageExtent(std::uint8_t* firstByte) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(firstByte, &info, sizeof info) == 0) return {};
    const auto* regionEnd = static_cast<std::uint8_t*>(info.BaseAddress) + info.RegionSize;
    return {firstByte, static_cast<std::size_t>(regionEnd - firstByte)};
}

std::wstring OwnDirectory() {
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&OwnDirectory), &self);
    std::wstring path(MAX_PATH, L'\0');
    const DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

void* UnitHandleForLibraries(std::uint32_t window, std::uint32_t unit) {
    return UnitWindow(window, unit);
}
void* OwnerForLibraries() {
    return ActiveProgramWindow();
}

const LibraryHost g_host = {&BasaltServices(), &UnitHandleForLibraries, &OwnerForLibraries};

// Row 0 is basalt itself and the "@@" row is a control, hosted by the window system; every
// other row is a DLL "<name>.fnr" beside basalt.
void LoadLibraries(const std::vector<std::string>& rows) {
    const std::wstring dir = OwnDirectory();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        SupportLibrary lib;
        const auto fields = image::SplitLibraryRow(rows[row]);
        lib.name = fields.empty() ? std::string() : fields[0];
        if (row != 0 && !lib.name.empty() && lib.name.rfind("@@", 0) != 0) {
            const std::wstring file =
                dir + std::wstring(lib.name.begin(), lib.name.end()) + L".fnr";
            auto* module = LoadLibraryW(file.c_str());
            lib.module = module;
            if (module != nullptr) {
                auto attach = reinterpret_cast<AttachRoutine>(
                    reinterpret_cast<void*>(GetProcAddress(module, kAttachExport)));
                lib.command = reinterpret_cast<CommandRoutine>(
                    reinterpret_cast<void*>(GetProcAddress(module, kCommandExport)));
                lib.createUnit = reinterpret_cast<CreateUnitRoutine>(
                    reinterpret_cast<void*>(GetProcAddress(module, kCreateUnitExport)));
                if (attach != nullptr) attach(&g_host);
            }
        }
        g_program.libraries.push_back(std::move(lib));
    }
}

}  // namespace

LoadedImage& Program() {
    return g_program;
}
const LibraryHost& Host() {
    return g_host;
}
void (*EntryPoint())() {
    return g_entry;
}

bool LoadImage(std::uint8_t* firstByte, std::string* error) {
    // Steps 1 to 3: header, DLL-command table, support-library table, section chain.
    auto read = image::ReadImage(ImageExtent(firstByte));
    if (!read.ok) {
        *error = read.error;
        return false;
    }
    const auto& img = read.image;
    // Only what basalt places: its own service table and 16 bytes of `var`.
    if (!image::CheckPlacement(img, slot::kCount, sizeof g_var, error)) return false;
    const auto* constSection = img.Find("const");
    for (std::size_t i = 0; i < img.dllLibraries.size(); ++i) {
        g_program.dllCommands.push_back(
            {image::ConstText(constSection->data, img.dllLibraries[i]).value_or(""),
             image::ConstText(constSection->data, img.dllFunctions[i]).value_or(""), nullptr});
    }
    // Step 4: the `var` data, zero-filled.
    std::memset(g_var, 0, sizeof g_var);
    // Step 5: every section's relocation words, in place.
    auto dataOf = [&](std::string_view name) -> std::uint8_t* {
        for (std::size_t i = 0; i < img.sections.size(); ++i) {
            if (img.sections[i].name == name && read.layout.dataOffsets[i] != image::kNone)
                return firstByte + read.layout.dataOffsets[i];
        }
        return nullptr;
    };
    auto address = [](const void* p) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
    };
    image::RelocationBases bases;
    bases.services = address(&BasaltServices());
    bases.constData = address(dataOf("const"));
    bases.varData = address(g_var);
    bases.codeData = address(dataOf("code"));
    for (std::size_t i = 0; i < img.sections.size(); ++i) {
        const auto& s = img.sections[i];
        if (s.relocations.empty()) continue;
        if (read.layout.dataOffsets[i] == image::kNone) {
            *error = "section " + s.name + " has relocations but no stored data";
            return false;
        }
        std::span<std::uint8_t> data(firstByte + read.layout.dataOffsets[i], s.data.size());
        if (!image::FixUpSection(data, s.relocations, bases, error)) return false;
    }
    g_program.codeBase = dataOf("code");
    g_entry = reinterpret_cast<void (*)()>(g_program.codeBase + img.entryCodeOffset);

    const auto* form = img.Find("form");
    auto decoded = image::DecodeForm(form->data);
    if (!decoded.ok) {
        *error = "form: " + decoded.error;
        return false;
    }
    g_program.form = std::move(decoded.form);
    LoadLibraries(img.libraryRows);
    return true;
}

}  // namespace tessel::basalt
