#pragma once
// The program image once basalt has read and fixed it up, and the support libraries it names.
#include <cstdint>
#include <string>
#include <vector>

#include "tessel/image/form.h"
#include "tessel/runtime/services.h"
#include "tessel/win32_shared/library_abi.h"

namespace tessel::basalt {

struct DllCommand {
    std::string library;  // empty for command 0: kernel32
    std::string function;
    void* resolved = nullptr;
};

struct SupportLibrary {
    std::string name;        // file stem, or "@@wmp.dll" for the control
    void* module = nullptr;  // HMODULE; null for the control and for basalt itself
    CommandRoutine command = nullptr;
    CreateUnitRoutine createUnit = nullptr;
};

struct LoadedImage {
    std::uint8_t* codeBase = nullptr;
    std::vector<DllCommand> dllCommands;
    std::vector<SupportLibrary> libraries;  // by row
    image::Form form;
};

LoadedImage& Program();

// basalt's own service table: the one every kind-0 relocation word points into.
const ServiceTable& BasaltServices();

// Reads the image at `firstByte`, provides `var`, fixes every section up, loads the support
// libraries and decodes the windows. False (with a reason) when the image cannot be used.
bool LoadImage(std::uint8_t* firstByte, std::string* error);
// The entry routine named by header field 0x3C.
void (*EntryPoint())();

// The support libraries' view of the runtime.
const LibraryHost& Host();

}  // namespace tessel::basalt
