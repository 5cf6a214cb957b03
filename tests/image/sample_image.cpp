#include "sample_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tessel::image {

Image SampleImage() {
    Image img;
    Bytes constData(0x103 + 8, 0);
    const char* kernel = "kernel32.dll";
    const char* function = "WideCharToMultiByte";
    std::memcpy(constData.data() + 1, kernel, std::strlen(kernel) + 1);
    std::memcpy(constData.data() + 20, function, std::strlen(function) + 1);
    StoreU32(constData, 0x103, 0x10);  // class method table: code offsets 0x10 and 0x15
    StoreU32(constData, 0x107, 0x15);
    img.dllLibraries = {0, 1};
    img.dllFunctions = {20, 20};
    img.libraryRows = {
        "basalt\r0123456789ABCDEF0123456789ABCDEF\r5\r3\rcore",
        "@@wmp.dll\r{6BF52A52-394A-11d3-B153-00C04F79FAA6}##0\r1\r0\rplayer\r"
        "0,{74C09E02-F828-11D2-A74B-00A0C905F36E},IWMPControls,{62,51,},{61,},{}"
        "2,{00000000-0000-0000-0000-000000000000},WMPPlayState,{},{1073741825,1073741824,},{}"};
    Bytes code(0x20, 0x90);
    code[0x1A] = 0xFF;
    code[0x1B] = 0x25;
    StoreU32(code, 0x1C, 0x24);   // service entry through slot 0x24
    StoreU32(code, 0x04, 0x103);  // a const offset
    StoreU32(code, 0x08, 0x4);    // a var offset
    StoreU32(code, 0x0C, 0x15);   // a code offset
    img.sections.push_back(StoredSection("const", 1, constData,
                                         {RelocationWord(0x103, RelocationKind::kCode),
                                          RelocationWord(0x107, RelocationKind::kCode)}));
    img.sections.push_back(StoredSection("form", 1, Bytes{8, 0, 0, 0, 1, 0, 1, 0x52, 0, 0, 0, 0}));
    img.sections.push_back(StoredSection("help", 1, Bytes(56, 0)));
    img.sections.push_back(StoredSection(
        "code", 5, code,
        {RelocationWord(0x1C, RelocationKind::kService),
         RelocationWord(0x04, RelocationKind::kConst), RelocationWord(0x08, RelocationKind::kVar),
         RelocationWord(0x0C, RelocationKind::kCode)}));
    Section var;
    var.name = "var";
    var.flags = 19;
    var.memorySize = 16;
    var.stored = false;
    img.sections.push_back(var);
    img.reloc1 = {std::vector<std::uint32_t>{0x04}, {0x08}, {}, {0x0C, 0x10}};
    img.sections.push_back(StoredSection("@reloc1", 1, EncodeReloc1(img.reloc1)));
    img.entryCodeOffset = 0x15;
    return img;
}

Bytes Written(const Image& img, Layout* layout) {
    std::string error;
    auto bytes = WriteImage(img, layout, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}
}  // namespace tessel::image
