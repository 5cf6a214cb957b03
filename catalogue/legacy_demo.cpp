#include "legacy_demo.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "demo.h"

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

}  // namespace

std::string EncodeLegacyText(const std::string& text, const char* encoding) {
    const iconv_t cd = ::iconv_open(encoding, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out(text.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outNext = out.data();
    size_t outLeft = out.size();
    const size_t result = ::iconv(cd, &in, &inLeft, &outNext, &outLeft);
    ::iconv_close(cd);
    if (result == static_cast<size_t>(-1)) return {};
    out.resize(out.size() - outLeft);
    return out;
}

namespace {

LegacyTagBytes Gbk(const std::string& title, const std::string& artist, const std::string& album) {
    return {EncodeLegacyText(title, "GBK"), EncodeLegacyText(artist, "GBK"),
            EncodeLegacyText(album, "GBK")};
}

bool IsEmpty(const LegacyTagBytes& tags) {
    return tags.title.empty() && tags.artist.empty() && tags.album.empty();
}

void AppendBigEndian(std::string& out, uint32_t value, int bitsPerByte) {
    const uint32_t mask = (1u << bitsPerByte) - 1;
    for (int shift = 3 * bitsPerByte; shift >= 0; shift -= bitsPerByte) {
        out += static_cast<char>((value >> shift) & mask);
    }
}

// An ID3v2.3 tag of text frames with encoding byte 0 ("ISO-8859-1") and some padding, as
// taggers of the time left it.
std::string Id3v23Tag(const LegacyTagBytes& tags) {
    std::string frames;
    const std::array<std::pair<const char*, const std::string*>, 3> fields = {
        {{"TIT2", &tags.title}, {"TPE1", &tags.artist}, {"TALB", &tags.album}}};
    for (const auto& [id, text] : fields) {
        if (text->empty()) continue;
        frames += id;
        AppendBigEndian(frames, static_cast<uint32_t>(text->size() + 1), 8);
        frames += std::string(2, '\0');  // flags
        frames += '\0';                  // encoding: ISO-8859-1
        frames += *text;
    }
    frames += std::string(64, '\0');
    std::string tag = "ID3";
    tag += std::string{'\x03', '\0', '\0'};                         // version 2.3, no flags
    AppendBigEndian(tag, static_cast<uint32_t>(frames.size()), 7);  // sync-safe size
    return tag + frames;
}

// The 128-byte ID3v1 tag: fixed fields padded with NULs, no year, no comment, no genre.
std::string Id3v1Tag(const LegacyTagBytes& tags) {
    auto field = [](const std::string& text, size_t size) {
        std::string out = text.substr(0, size);
        out.resize(size, '\0');
        return out;
    };
    return "TAG" + field(tags.title, 30) + field(tags.artist, 30) + field(tags.album, 30) +
           field("", 4) + field("", 30) + '\xFF';
}

}  // namespace

bool WriteLegacyTaggedFile(const fs::path& file, const fs::path& audio, const LegacyTagBytes& id3v2,
                           const LegacyTagBytes& id3v1, std::string& error) {
    std::ifstream in(audio, std::ios::binary);
    const std::string frames{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
        error = "cannot read " + audio.string();
        return false;
    }
    const std::string bytes = (IsEmpty(id3v2) ? std::string() : Id3v23Tag(id3v2)) + frames +
                              (IsEmpty(id3v1) ? std::string() : Id3v1Tag(id3v1));
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = "cannot write " + file.string();
        return false;
    }
    return true;
}

bool MakeLegacyDemoLibrary(const fs::path& folder, std::string& error) {
    struct LegacySong {
        std::string folder;  // file names as the file system gets them
        std::string name;
        LegacyTagBytes id3v2;
        LegacyTagBytes id3v1;
    };
    const std::string oldies = EncodeLegacyText("怀旧金曲", "GBK");
    const LegacyTagBytes cityStory = Gbk("小城故事", "无名歌手", "经典老歌");
    const std::array<LegacySong, 5> songs = {{
        {oldies, "01.mp3", Gbk("老歌新唱", "无名歌手", "经典老歌"), {}},
        {oldies, "02.mp3", cityStory, cityStory},
        {oldies, "03.mp3", {}, Gbk("甜蜜的歌", "小丽", "经典老歌")},
        {oldies, EncodeLegacyText("老歌.mp3", "GBK"), {}, {}},
        {"Chansons",
         "Café au lait.mp3",
         {EncodeLegacyText("Café au lait", "ISO-8859-1"), EncodeLegacyText("Zoé", "ISO-8859-1"),
          EncodeLegacyText("Matinée", "ISO-8859-1")},
         {}},
    }};
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path audio = folder / ".legacy-audio.mp3";
    if (ec || !WriteSongFile(audio, SongTags{}, 3.0, 11, error)) {
        if (error.empty()) error = "cannot make " + folder.string() + ": " + ec.message();
        return false;
    }
    bool ok = true;
    for (const LegacySong& song : songs) {
        const fs::path dir = folder / song.folder;
        fs::create_directories(dir, ec);
        ok = !ec && WriteLegacyTaggedFile(dir / song.name, audio, song.id3v2, song.id3v1, error);
        if (!ok) {
            if (error.empty()) error = "cannot make " + dir.string() + ": " + ec.message();
            break;
        }
    }
    fs::remove(audio, ec);
    return ok;
}

}  // namespace tessel::catalogue
