// The program's own image as tessel-image builds it: every table row, section and relocation
// word, the fix-up at a chosen base, the generated sound and icon, and the dump of both windows.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "tessel/image/form.h"
#include "tessel/image/image.h"
#include "tessel/image_tool/program.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel::image_tool {
namespace {

using image::LoadU32;

std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(TESSEL_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Built {
    ProgramImage program;
    image::Bytes bytes;
    image::Layout layout;
    image::ReadResult read;
};

const Built& Program() {
    static const Built built = [] {
        Built b;
        auto r = BuildProgram(ReadSource("app/texts.tsv"), ReadSource("image/data/wmp_types.txt"));
        EXPECT_TRUE(r.ok) << r.error;
        b.program = std::move(r.program);
        b.bytes = image::WriteImage(b.program.image, &b.layout);
        b.read = image::ReadImage(b.bytes);
        return b;
    }();
    return built;
}

std::string Gbk(std::string_view utf8) {
    return *Utf8ToGbk(utf8);
}

TEST(ProgramImage, ReadsBackEveryRowSectionAndWord) {
    const auto& b = Program();
    ASSERT_TRUE(b.read.ok) << b.read.error;
    const auto& in = b.program.image;
    const auto& out = b.read.image;
    EXPECT_EQ(out.dllLibraries, in.dllLibraries);
    EXPECT_EQ(out.dllFunctions, in.dllFunctions);
    EXPECT_EQ(out.libraryRows, in.libraryRows);
    EXPECT_EQ(out.entryCodeOffset, in.entryCodeOffset);
    EXPECT_EQ(out.reloc1, in.reloc1);
    ASSERT_EQ(out.sections.size(), 6u);
    const char* names[] = {"const", "form", "help", "code", "var", "@reloc1"};
    const std::uint32_t flags[] = {1, 1, 1, 5, 19, 1};
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(out.sections[i].name, names[i]);
        EXPECT_EQ(out.sections[i].flags, flags[i]);
        EXPECT_EQ(out.sections[i].data, in.sections[i].data);
        EXPECT_EQ(out.sections[i].relocations, in.sections[i].relocations);
        EXPECT_EQ(out.sections[i].memorySize, in.sections[i].memorySize);
    }
    EXPECT_EQ(out.sections[4].memorySize, 16u);
    EXPECT_FALSE(out.sections[4].stored);
    EXPECT_EQ(out.sections[2].data, image::Bytes(56, 0));
    EXPECT_EQ(LoadU32(b.bytes, b.layout.headerOffsets.back() + 4), image::kNone);
}

TEST(ProgramImage, DllTableNamesTheDeclaredFunctions) {
    const auto& b = Program();
    const auto& constData = b.read.image.Find("const")->data;
    ASSERT_EQ(b.read.image.dllLibraries.size(), dll::kTable.size());
    for (std::size_t i = 0; i < dll::kTable.size(); ++i) {
        EXPECT_EQ(image::ConstText(constData, b.read.image.dllLibraries[i]),
                  dll::kTable[i].library);
        EXPECT_EQ(image::ConstText(constData, b.read.image.dllFunctions[i]),
                  dll::kTable[i].function);
    }
    EXPECT_EQ(b.read.image.dllLibraries[0], 0u);  // command 0: the empty text
    EXPECT_EQ(b.read.image.dllFunctions[6], b.read.image.dllFunctions[7]);  // shared name text
}

TEST(ProgramImage, SupportLibraryRows) {
    const auto& rows = Program().read.image.libraryRows;
    ASSERT_EQ(rows.size(), 5u);
    const char* names[] = {"basalt", "facet", "ferry", "vestry"};
    const char* versions[][2] = {{"5", "3"}, {"2", "0"}, {"3", "1"}, {"3", "0"}};
    for (int i = 0; i < 4; ++i) {
        const auto f = image::SplitLibraryRow(rows[i]);
        ASSERT_EQ(f.size(), 5u);
        EXPECT_EQ(f[0], names[i]);
        EXPECT_EQ(f[1].size(), 32u);
        EXPECT_EQ(f[2], versions[i][0]);
        EXPECT_EQ(f[3], versions[i][1]);
    }
    const auto f = image::SplitLibraryRow(rows[4]);
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[0], "@@wmp.dll");
    EXPECT_EQ(f[1], "{6BF52A52-394A-11d3-B153-00C04F79FAA6}##0");
    EXPECT_EQ(f[2], "1");
    EXPECT_EQ(f[3], "0");
    EXPECT_EQ(f[4], Gbk("Windows媒体播放器1.0版"));
    const auto records = image::SplitTypeRecords(f[5]);
    ASSERT_EQ(records.size(), 88u);
    // Type numbers are 1-based positions: 3 the control class, 8 IWMPControls.
    EXPECT_EQ(records[2].substr(0, 60),
              "1,{6BF52A52-394A-11D3-B153-00C04F79FAA6},WindowsMediaPlayer,");
    EXPECT_EQ(records[7],
              "0,{74C09E02-F828-11D2-A74B-00A0C905F36E},IWMPControls,{62,51,52,53,54,55,58,59,60,"
              "63,60,},{61,57,56,},{}");
    EXPECT_EQ(records[6],
              "2,{00000000-0000-0000-0000-000000000000},WMPPlayState,{},{1073741836,1073741835,"
              "1073741834,1073741833,1073741832,1073741831,1073741830,1073741829,1073741828,"
              "1073741827,1073741826,1073741825,1073741824,},{}");
    int interfaces = 0, classes = 0, enums = 0;
    for (const auto& r : records) (r[0] == '0' ? interfaces : r[0] == '1' ? classes : enums)++;
    EXPECT_EQ(interfaces, 82);
    EXPECT_EQ(classes, 1);
    EXPECT_EQ(enums, 5);
}

TEST(ProgramImage, CodeHoldsStubsThenServiceEntriesThenTheVarWord) {
    const auto& b = Program();
    const auto& code = b.read.image.Find("code")->data;
    const auto routines = RoutineNames();
    ASSERT_EQ(code.size(),
              routines.size() * kStubSize + 13 * kServiceEntrySize + kVarAddressWordSize);
    for (std::size_t i = 0; i < routines.size(); ++i) {
        EXPECT_EQ(code[i * kStubSize], 0xE9);
        EXPECT_EQ(RoutineAt(code, static_cast<std::uint32_t>(i * kStubSize)),
                  std::string(routines[i]));
    }
    // The entry routine lies just before the service entries.
    EXPECT_EQ(b.read.image.entryCodeOffset + kStubSize, routines.size() * kStubSize);
    EXPECT_EQ(RoutineAt(code, b.read.image.entryCodeOffset), "EntryRoutine");
    const auto& words = b.read.image.Find("code")->relocations;
    ASSERT_EQ(words.size(), 14u);
    const auto varWord = routines.size() * kStubSize + 13 * kServiceEntrySize;
    EXPECT_EQ(words[13], image::RelocationWord(static_cast<std::uint32_t>(varWord),
                                               image::RelocationKind::kVar));
    EXPECT_EQ(LoadU32(code, varWord), 0u);
    EXPECT_EQ(Program().program.varAddressWord, varWord);
    for (std::size_t k = 0; k < 13; ++k) {
        const auto entry = routines.size() * kStubSize + k * kServiceEntrySize;
        EXPECT_EQ(code[entry], 0xFF);
        EXPECT_EQ(code[entry + 1], 0x25);
        EXPECT_EQ(words[k], image::RelocationWord(static_cast<std::uint32_t>(entry + 2),
                                                  image::RelocationKind::kService));
        EXPECT_EQ(LoadU32(code, entry + 2), ServiceEntryOrder()[k]);
    }
}

TEST(ProgramImage, FixUpAtChosenBases) {
    auto img = Program().read.image;
    const image::RelocationBases bases{0x10000000, 0x00403000, 0x00800000, 0x00446000};
    auto& constSection = *img.Find("const");
    auto& code = *img.Find("code");
    ASSERT_TRUE(image::FixUpSection(constSection.data, constSection.relocations, bases));
    ASSERT_TRUE(image::FixUpSection(code.data, code.relocations, bases));
    // The class method table: 25 entries, each the address of its routine's stub.
    std::uint32_t table = 0;
    for (const auto& c : Program().program.constants)
        if (c.name == "JsonDocumentMethodTable") table = c.offset;
    ASSERT_EQ(constSection.relocations.size(), 25u);
    EXPECT_EQ(constSection.relocations[0],
              image::RelocationWord(table, image::RelocationKind::kCode));
    const auto methods = JsonDocumentMethods();
    for (std::size_t i = 0; i < methods.size(); ++i)
        EXPECT_EQ(LoadU32(constSection.data, table + 4 * i),
                  bases.codeData + Program().program.stubs.at(std::string(methods[i])));
    EXPECT_EQ(methods[2], "JsonDocument.Initialize");
    EXPECT_EQ(methods[24], "JsonDocument.Clear");
    // Service entries jump through the slots of the table at its base.
    const auto firstEntry = RoutineNames().size() * kStubSize;
    EXPECT_EQ(LoadU32(code.data, firstEntry + 2), 0x10000024u);
}

TEST(ProgramImage, ConstPoolHoldsTextsOnceInGbk) {
    const auto& b = Program();
    const auto& data = b.read.image.Find("const")->data;
    EXPECT_EQ(data[0], 0);
    std::map<std::string, std::uint32_t> byName;
    for (const auto& c : b.program.constants) byName[c.name] = c.offset;
    EXPECT_EQ(image::ConstText(data, byName["StatusSearchDone"]), Gbk("状态：搜索完成"));
    EXPECT_EQ(image::ConstText(data, byName["SearchWordEmpty"]), Gbk("搜索词不能为空"));
    EXPECT_EQ(image::ConstText(data, byName["SettingsFile"]), "\\bc.ini");
    EXPECT_EQ(image::ConstText(data, byName["CrLf"]), "\r\n");
    // Each distinct text is stored once: equal texts share an offset.
    std::map<std::string, std::uint32_t> offsets;
    for (const auto& c : b.program.constants) {
        if (c.kind != "text") continue;
        const auto text = *image::ConstText(data, c.offset);
        auto [it, fresh] = offsets.emplace(text, c.offset);
        EXPECT_EQ(it->second, c.offset) << c.name << " is stored twice";
    }
    // Doubles and byte arrays.
    double one = 0;
    std::memcpy(&one, data.data() + byName["One"], 8);
    EXPECT_EQ(one, 1.0);
    EXPECT_EQ(LoadU32(data, byName["EmptyByteArray"]), 1u);
    EXPECT_EQ(LoadU32(data, byName["EmptyByteArray"] + 4), 0u);
}

TEST(ProgramImage, CompletionSoundIsAStereoWave) {
    const auto wav = MakeCompletionSound();
    ASSERT_EQ(wav.size(), 138492u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(LoadU32(wav, 4), wav.size() - 8);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(wav[20], 1);  // PCM
    EXPECT_EQ(wav[22], 2);  // channels
    EXPECT_EQ(LoadU32(wav, 24), 44100u);
    EXPECT_EQ(wav[34], 16);  // bits
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "LIST");
    EXPECT_EQ(LoadU32(wav, 40), 200u);
    EXPECT_EQ(std::string(wav.begin() + 244, wav.begin() + 248), "data");
    EXPECT_EQ(LoadU32(wav, 248), 138240u);
    // Not silence.
    int loud = 0;
    for (std::size_t i = 252; i + 1 < wav.size(); i += 2)
        loud += std::abs(static_cast<std::int16_t>(wav[i] | wav[i + 1] << 8)) > 3000;
    EXPECT_GT(loud, 1000);
    // The pool stores it as a byte array.
    const auto& b = Program();
    for (const auto& c : b.program.constants) {
        if (c.name != "CompletionSound") continue;
        const auto& data = b.read.image.Find("const")->data;
        EXPECT_EQ(LoadU32(data, c.offset), 1u);
        EXPECT_EQ(LoadU32(data, c.offset + 4), wav.size());
        EXPECT_TRUE(std::equal(wav.begin(), wav.end(), data.begin() + c.offset + 8));
    }
}

TEST(ProgramImage, IconIsOne128x128ImageWith32Bits) {
    const auto ico = MakeIcon();
    EXPECT_EQ(LoadU32(ico, 0), 0x10000u);  // reserved 0, type 1
    EXPECT_EQ(ico[4], 1);
    EXPECT_EQ(ico[6], 128);
    EXPECT_EQ(ico[7], 128);
    EXPECT_EQ(ico[12], 32);
    EXPECT_EQ(LoadU32(ico, 14), ico.size() - 22);
    EXPECT_EQ(LoadU32(ico, 22 + 4), 128u);
    EXPECT_EQ(LoadU32(ico, 22 + 8), 256u);
    // The main window's record carries the same icon.
    const auto form = image::DecodeForm(Program().read.image.Find("form")->data);
    ASSERT_TRUE(form.ok) << form.error;
    EXPECT_EQ(std::get<image::WindowProperties>(form.form.windows[0].units[0].properties).icon,
              ico);
}

// The dump of the form section, compared with the expected text kept beside this test.
TEST(ProgramImage, DumpShowsBothWindows) {
    std::string error;
    const auto text = DumpImage(Program().bytes, &error);
    ASSERT_FALSE(text.empty()) << error;
    const auto from = text.find("\nform:\n");
    const auto to = text.find("\nconst texts:\n");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    const auto forms = text.substr(from + 1, to - from);
    const auto expected = ReadSource("tests/image/expected_form_dump.txt");
    EXPECT_EQ(forms, expected) << "dump of the forms:\n" << forms;
    // The rest of the dump names every section and the texts.
    for (const char* part : {"const: header", "form: header", "help: header", "code: header",
                             "var: header", "@reloc1: header", "88 type records:",
                             "\"Tessel音乐搜索下载器\"", "\"搜索词不能为空\"", "(RIFF)"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

TEST(ProgramImage, DumpRefusesWhatIsNoImage) {
    std::string error;
    EXPECT_TRUE(DumpImage(image::Bytes(10, 0), &error).empty());
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace tessel::image_tool
