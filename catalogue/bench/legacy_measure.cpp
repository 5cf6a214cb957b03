// Measures the `auto` legacy decoding (not a test): how often real Latin-1 words come out as
// anything but themselves, and how often real Chinese text in GBK comes out as anything but
// itself. Each input file holds one UTF-8 text per line; the lines are converted to Latin-1 (or
// GBK) here, and lines without a byte above 0x7F, or that the code page cannot hold, are left out.
//
//   tessel-catalogue-legacy-measure --latin1 FILE... --gbk FILE...
//
// See README.md for the word lists and message catalogues it was run over.

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "legacy_demo.h"
#include "legacy_text.h"

namespace {

using namespace tessel::catalogue;

struct Tally {
    long texts = 0;
    long wrong = 0;
    std::string examples;
};

void Measure(const char* file, const char* codePage, Tally& tally) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string bytes = EncodeLegacyText(line, codePage);
        if (bytes.empty() || bytes == line || bytes.find('\0') != std::string::npos) continue;
        ++tally.texts;
        if (DecodeLegacyTagText(bytes, LegacyEncoding::kAuto) == line) continue;
        if (++tally.wrong <= 12) tally.examples += "    " + line + "\n";
    }
}

void Print(const char* what, const Tally& tally) {
    std::printf("%s: %ld of %ld texts misread (%.3f %%)\n%s", what, tally.wrong, tally.texts,
                tally.texts
                    ? 100.0 * static_cast<double>(tally.wrong) / static_cast<double>(tally.texts)
                    : 0.0,
                tally.examples.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Tally latin1, gbk;
    const char* codePage = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--latin1") {
            codePage = "ISO-8859-1";
        } else if (arg == "--gbk") {
            codePage = "GBK";
        } else if (codePage == nullptr) {
            std::fprintf(stderr,
                         "usage: tessel-catalogue-legacy-measure --latin1 FILE... "
                         "--gbk FILE...\n");
            return 2;
        } else {
            Measure(argv[i], codePage, std::string_view(codePage) == "GBK" ? gbk : latin1);
        }
    }
    Print("Latin-1 words read as something else", latin1);
    Print("GBK texts read as something else", gbk);
    return 0;
}
