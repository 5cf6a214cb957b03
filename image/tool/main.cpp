// tessel-image: builds the program image from its sources, and dumps any image (or the image
// inside an executable) as readable text.
//
//   tessel-image build --texts app/texts.tsv --wmp-types image/data/wmp_types.txt --out DIR
//       writes DIR/program.S (i686 assembler), DIR/program.img (the image bytes, stubs not yet
//       linked), DIR/tessel.ico, DIR/include/tessel/image/const_offsets.h,
//       DIR/include/tessel/image/const_values.h and DIR/include/tessel/image/native_handlers.h
//   tessel-image dump FILE
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "tessel/image_tool/program.h"

namespace {

namespace fs = std::filesystem;
using tessel::image::Bytes;

bool ReadFile(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

// Writes only when the content changed, so unchanged outputs do not trigger rebuilds.
bool WriteFile(const fs::path& path, std::string_view content) {
    std::string old;
    if (ReadFile(path, old) && old == content) return true;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

std::string_view AsText(const Bytes& b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

int Usage() {
    std::cerr << "usage: tessel-image build --texts FILE --wmp-types FILE --out DIR\n"
                 "       tessel-image dump FILE\n";
    return 2;
}

int Build(int argc, char** argv) {
    fs::path texts, wmpTypes, out;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        if (flag == "--texts")
            texts = argv[i + 1];
        else if (flag == "--wmp-types")
            wmpTypes = argv[i + 1];
        else if (flag == "--out")
            out = argv[i + 1];
        else
            return Usage();
    }
    if (texts.empty() || wmpTypes.empty() || out.empty()) return Usage();
    std::string textsTsv, types;
    if (!ReadFile(texts, textsTsv) || !ReadFile(wmpTypes, types)) {
        std::cerr << "tessel-image: cannot read " << texts << " or " << wmpTypes << "\n";
        return 1;
    }
    auto built = tessel::image_tool::BuildProgram(textsTsv, types);
    if (!built.ok) {
        std::cerr << "tessel-image: " << built.error << "\n";
        return 1;
    }
    tessel::image::Layout layout;
    std::string error;
    const auto bytes = tessel::image::WriteImage(built.program.image, &layout, &error);
    if (bytes.empty()) {
        std::cerr << "tessel-image: " << error << "\n";
        return 1;
    }
    const bool ok = WriteFile(out / "program.img", AsText(bytes)) &&
                    WriteFile(out / "program.S",
                              tessel::image_tool::AssemblyFor(bytes, layout, built.program)) &&
                    WriteFile(out / "tessel.ico", AsText(built.program.icon)) &&
                    WriteFile(out / "include/tessel/image/const_offsets.h",
                              tessel::image_tool::ConstantsHeader(built.program)) &&
                    WriteFile(out / "include/tessel/image/const_values.h",
                              tessel::image_tool::ConstantValuesHeader(built.program)) &&
                    WriteFile(out / "include/tessel/image/native_handlers.h",
                              tessel::image_tool::NativeHandlersHeader(built.program));
    if (!ok) {
        std::cerr << "tessel-image: cannot write into " << out << "\n";
        return 1;
    }
    return 0;
}

int Dump(const char* file) {
    std::string content;
    if (!ReadFile(file, content)) {
        std::cerr << "tessel-image: cannot read " << file << "\n";
        return 1;
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(content.data()),
                                              content.size());
    // An image file, or a file that carries one (the executable).
    std::string error;
    std::string text = tessel::image_tool::DumpImage(bytes, &error);
    if (text.empty()) {
        if (auto start = tessel::image::FindImage(bytes)) {
            std::string inner;
            text = tessel::image_tool::DumpImage(bytes.subspan(*start), &inner);
            if (!text.empty())
                text = "image found at file offset " + std::to_string(*start) + "\n" + text;
            else
                error = inner;
        }
    }
    if (text.empty()) {
        std::cerr << "tessel-image: " << file << ": " << error << "\n";
        return 1;
    }
    std::cout << text;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string_view command = argv[1];
    if (command == "build") return Build(argc, argv);
    if (command == "dump" && argc == 3) return Dump(argv[2]);
    return Usage();
}
