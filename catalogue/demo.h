// The demo library: short tunes synthesised here, encoded to MP3 by LAME and tagged with TagLib.
#pragma once

#include <filesystem>
#include <string>

namespace tessel::catalogue {

struct SongTags {
    std::string title;  // UTF-8; an empty field is left out of the tag
    std::string artist;
    std::string album;
};

// Writes `file` as an MP3 of a tune made from `seed`, lasting about `seconds`, with `tags` (no tag
// at all when every field is empty). Needs the `lame` command.
bool WriteSongFile(const std::filesystem::path& file, const SongTags& tags, double seconds,
                   unsigned seed, std::string& error);

// Replaces the ID3v2 tag of an MP3 file (does nothing when every field is empty).
bool WriteSongTags(const std::filesystem::path& file, const SongTags& tags, std::string& error);

// Fills `folder` with the demo library: 80 songs in five folders, Chinese and Latin titles and
// singers; 64 titles hold the character "中".
bool MakeDemoLibrary(const std::filesystem::path& folder, std::string& error);

}  // namespace tessel::catalogue
