// The legacy demo library: MP3 files as Chinese collections made before UTF-8 tags hold them,
// GBK bytes in tags marked ISO-8859-1 and in file and folder names, beside a true Latin-1 tag.
#pragma once

#include <filesystem>
#include <string>

namespace tessel::catalogue {

// Tag fields as the file stores them: bytes of whatever code page, not UTF-8.
struct LegacyTagBytes {
    std::string title;
    std::string artist;
    std::string album;
};

// `text` (UTF-8) in the code page `encoding` (an iconv name); empty when it has no such spelling.
std::string EncodeLegacyText(const std::string& text, const char* encoding);

// Writes `file` as the MP3 frames of `audio` (a file without tags) between an ID3v2.3 tag whose
// text frames are marked ISO-8859-1 but hold `id3v2` as given, and an ID3v1 tag of `id3v1`
// (fields cut to 30 bytes). A tag whose fields are all empty is left out.
bool WriteLegacyTaggedFile(const std::filesystem::path& file, const std::filesystem::path& audio,
                           const LegacyTagBytes& id3v2, const LegacyTagBytes& id3v1,
                           std::string& error);

// Fills `folder` with the legacy demo library (needs the `lame` command):
//   怀旧金曲/ (the folder name in GBK)
//     01.mp3    ID3v2.3, GBK: 老歌新唱 / 无名歌手 / 经典老歌
//     02.mp3    ID3v2.3 and ID3v1, GBK: 小城故事 / 无名歌手 / 经典老歌
//     03.mp3    ID3v1 only, GBK: 甜蜜的歌 / 小丽 / 经典老歌
//     老歌.mp3  (the file name in GBK) no tags
//   Chansons/
//     Café au lait.mp3 (the file name in UTF-8) ID3v2.3, Latin-1: Café au lait / Zoé / Matinée
bool MakeLegacyDemoLibrary(const std::filesystem::path& folder, std::string& error);

}  // namespace tessel::catalogue
