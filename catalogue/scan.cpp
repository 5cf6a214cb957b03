#include "scan.h"

#include <sys/stat.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/tag.h>

#include <algorithm>
#include <map>
#include <system_error>
#include <vector>

#include "search_text.h"

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLegacyEncodingSetting = "legacy_encoding";

struct FoundFile {
    std::string path;
    int64_t size = 0;
    int64_t modified = 0;
};

bool IsMp3(const fs::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".mp3";
}

std::string Trimmed(std::string text) {
    const auto blank = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
    size_t start = 0;
    while (start < text.size() && blank(static_cast<unsigned char>(text[start]))) ++start;
    return text.substr(start);
}

std::string TagText(const TagLib::String& text) {
    return Trimmed(text.to8Bit(true));
}

// TagLib's handler of "Latin-1" texts for one tag kind (`Base`), reading them as `encoding` says.
template <typename Base>
class LegacyTagText : public Base {
  public:
    explicit LegacyTagText(LegacyEncoding encoding) : encoding_(encoding) {}
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        return TagLib::String(
            DecodeLegacyTagText(std::string_view(data.data(), data.size()), encoding_),
            TagLib::String::UTF8);
    }

  private:
    LegacyEncoding encoding_;
};

// TagLib reads ID3v1 fields and ID3v2 frames marked ISO-8859-1 through one process-wide handler
// per tag kind: ours while a file is read, TagLib's own (plain Latin-1) otherwise and for
// "latin1". UTF-16 and UTF-8 frames never reach them.
class LegacyTagDecoding {
  public:
    explicit LegacyTagDecoding(LegacyEncoding encoding) : id3v1_(encoding), id3v2_(encoding) {
        if (encoding == LegacyEncoding::kLatin1) return;
        TagLib::ID3v1::Tag::setStringHandler(&id3v1_);
        TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2_);
    }
    ~LegacyTagDecoding() {
        TagLib::ID3v1::Tag::setStringHandler(nullptr);
        TagLib::ID3v2::Tag::setLatin1StringHandler(nullptr);
    }
    LegacyTagDecoding(const LegacyTagDecoding&) = delete;
    LegacyTagDecoding& operator=(const LegacyTagDecoding&) = delete;

  private:
    LegacyTagText<TagLib::ID3v1::StringHandler> id3v1_;
    LegacyTagText<TagLib::ID3v2::Latin1StringHandler> id3v2_;
};

// A '/'-separated relative folder, each name decoded by itself (one may be UTF-8, the next GBK).
std::string FolderName(const std::string& folder, LegacyEncoding encoding) {
    std::string name;
    size_t start = 0;
    while (true) {
        const size_t slash = folder.find('/', start);
        name += DecodeFileName(std::string_view(folder).substr(start, slash - start), encoding);
        if (slash == std::string::npos) return name;
        name += '/';
        start = slash + 1;
    }
}

// Walks the library; a folder or file that cannot be read is left out, not fatal.
std::vector<FoundFile> FindSongFiles(const fs::path& library) {
    std::vector<FoundFile> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(library, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        if (path.filename().string().starts_with('.')) {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (!IsMp3(path)) continue;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        found.push_back(FoundFile{
            path.lexically_relative(library).generic_string(), info.st_size,
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec});
    }
    std::sort(found.begin(), found.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
    return found;
}

std::string LibraryName(const fs::path& library, LegacyEncoding encoding) {
    std::error_code ec;
    fs::path absolute = fs::absolute(library, ec).lexically_normal();
    if (!absolute.has_filename()) absolute = absolute.parent_path();
    const std::string name = DecodeFileName(absolute.filename().string(), encoding);
    return name.empty() ? "Library" : name;
}

// What the tags of one file say, with the fallbacks for what they leave out. The text handlers
// it gives TagLib for the duration are process-wide, so it stays private to the one-thread scan.
SongRecord ReadSong(const fs::path& library, const std::string& relativePath,
                    const ScanOptions& options) {
    const LegacyEncoding encoding = options.legacyEncoding;
    SongRecord song;
    song.path = relativePath;
    const fs::path relative(relativePath);
    song.folder = relative.parent_path().generic_string();
    song.collectionName =
        song.folder.empty() ? LibraryName(library, encoding) : FolderName(song.folder, encoding);
    const fs::path file = library / relative;
    const LegacyTagDecoding decoding(encoding);
    TagLib::FileRef ref(file.c_str(), true, TagLib::AudioProperties::Fast);
    if (!ref.isNull() && ref.tag() != nullptr) {
        song.title = TagText(ref.tag()->title());
        song.artist = TagText(ref.tag()->artist());
        song.album = TagText(ref.tag()->album());
    }
    if (!ref.isNull() && ref.audioProperties() != nullptr) {
        song.duration = (ref.audioProperties()->lengthInMilliseconds() + 500) / 1000;
    }
    if (song.title.empty()) {
        song.title = DecodeFileName(Trimmed(relative.stem().string()), encoding);
    }
    return song;
}

}  // namespace

std::optional<ScanReport> UpdateIndex(Database& database, const fs::path& library,
                                      std::string& error, const ScanOptions& options) {
    std::error_code ec;
    if (!fs::is_directory(library, ec)) {
        error = "the library " + library.string() + " is not a folder";
        return std::nullopt;
    }
    const std::vector<FoundFile> found = FindSongFiles(library);
    if (!database.Begin()) {
        error = "cannot write the index: " + database.LastError();
        return std::nullopt;
    }
    std::map<std::string, IndexedFile> indexed;
    for (IndexedFile& file : database.IndexedFiles()) indexed.emplace(file.path, std::move(file));
    // Texts read with another decoding are read again. An index from before the setting existed
    // was read as Latin-1.
    const std::string decoding = LegacyEncodingName(options.legacyEncoding);
    const bool decodingChanged =
        database.Setting(kLegacyEncodingSetting).value_or("latin1") != decoding;

    ScanReport report;
    bool ok = true;
    for (const FoundFile& file : found) {
        auto known = indexed.find(file.path);
        if (known != indexed.end() && !decodingChanged && known->second.size == file.size &&
            known->second.modified == file.modified) {
            ++report.unchanged;
            indexed.erase(known);
            continue;
        }
        SongRecord song = ReadSong(library, file.path, options);
        song.size = file.size;
        song.modified = file.modified;
        if (known == indexed.end()) {
            ok = database.AddSong(song);
            ++report.added;
        } else {
            ok = database.UpdateSong(known->second.id, song);
            ++report.changed;
            indexed.erase(known);
        }
        if (!ok) break;
    }
    for (auto it = indexed.begin(); ok && it != indexed.end(); ++it) {
        ok = database.RemoveSong(it->second.id);
        ++report.removed;
    }
    if (!ok || !database.RemoveEmptyCollections() ||
        !database.SetSetting(kLegacyEncodingSetting, decoding) || !database.Commit()) {
        error = "cannot write the index: " + database.LastError();
        database.Rollback();
        return std::nullopt;
    }
    if (report.added + report.changed + report.removed > 0 && !database.Optimize()) {
        error = "cannot tidy the index: " + database.LastError();
        return std::nullopt;
    }
    return report;
}

}  // namespace tessel::catalogue
