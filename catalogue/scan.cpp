#include "scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/tag.h>
#include <taglib/tfilestream.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>
#include <vector>

#include "search_text.h"

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLegacyEncodingSetting = "legacy_encoding";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

struct FoundFile {
    std::string path;
    int64_t size = 0;
    int64_t modified = 0;
};

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

// The raw texts of an APEv2 tag at the end of `file` (before an ID3v1 tag, if any), by lower-case
// key. APE texts are UTF-8 by definition, but older Chinese taggers wrote GBK into them, which
// TagLib's UTF-8 reading loses.
std::map<std::string, std::string> RawApeTexts(const fs::path& file) {
    std::map<std::string, std::string> texts;
    std::ifstream in(file, std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto size = static_cast<int64_t>(in.tellg());
    for (const int64_t tail : {int64_t{0}, int64_t{128}}) {
        constexpr int64_t kFooter = 32;
        if (size < tail + kFooter) continue;
        std::string footer(kFooter, '\0');
        in.seekg(size - tail - kFooter);
        in.read(footer.data(), kFooter);
        if (!in || !footer.starts_with("APETAGEX")) continue;
        auto word = [](const std::string& bytes, size_t at) {
            return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
        };
        const int64_t tagSize = word(footer, 12);  // the items and the footer
        if (tagSize < kFooter || tagSize > size - tail || tagSize > (1 << 20)) return texts;
        std::string items(static_cast<size_t>(tagSize - kFooter), '\0');
        in.seekg(size - tail - tagSize);
        in.read(items.data(), static_cast<std::streamsize>(items.size()));
        if (!in) return texts;
        for (size_t at = 0; at + 8 < items.size();) {
            const size_t length = word(items, at);
            const uint32_t flags = word(items, at + 4);
            const size_t keyEnd = items.find('\0', at + 8);
            if (keyEnd == std::string::npos || length > items.size() - keyEnd - 1) break;
            std::string key = items.substr(at + 8, keyEnd - at - 8);
            std::transform(key.begin(), key.end(), key.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if ((flags >> 1 & 3) == 0) texts[key] = items.substr(keyEnd + 1, length);  // text
            at = keyEnd + 1 + length;
        }
        return texts;
    }
    return texts;
}

// A field TagLib found no text for, or lost, taken from the raw APE text when that is not UTF-8:
// read like a field marked ISO-8859-1.
void TakeLegacyApeTexts(const fs::path& file, LegacyEncoding encoding, SongRecord& song) {
    const std::map<std::string, std::string> raw = RawApeTexts(file);
    for (auto [key, field] : {std::pair{"title", &song.title}, std::pair{"artist", &song.artist},
                              std::pair{"album", &song.album}}) {
        const auto found = raw.find(key);
        if (found == raw.end() || IsValidUtf8(found->second)) continue;
        const std::string decoded = Trimmed(DecodeLegacyTagText(found->second, encoding));
        const bool lost = field->empty() || field->find(kReplacement) != std::string::npos;
        if (lost) *field = decoded;
    }
}

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

// A part of the library as it is on disk: its song files by path, and what could not be read.
struct Walk {
    std::vector<FoundFile> files;
    std::vector<Skipped> skipped;
};

// Adds the file at `relative` when it is an MP3 file (a link to one counts, as its target).
void TakeFile(const fs::path& library, const std::string& relative, Walk& walk) {
    if (!IsSongFileName(relative)) return;
    struct stat info {};
    if (::stat((library / relative).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    walk.files.push_back(FoundFile{
        relative, info.st_size,
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec});
}

bool Stopping(const ScanOptions& options) {
    return options.stop != nullptr && options.stop->load();
}

// Walks the folder at `relative` ("" for the library) and every folder below it but hidden ones
// and links to folders; a folder that cannot be read is noted and left out.
void WalkFolder(const fs::path& library, const std::string& relative, Walk& walk,
                const ScanOptions& options) {
    if (Stopping(options)) return;  // what was walked is not written
    const fs::path folder = library / relative;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        walk.skipped.push_back(Skipped{relative, std::strerror(errno)});
        return;
    }
    std::vector<std::string> folders;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (IsHiddenName(name)) continue;  // ".", ".." and hidden names
        const std::string child = ChildPath(relative, name);
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::lstat((library / child).c_str(), &info) != 0) continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_DIR) {
            folders.push_back(child);
        } else if (type == DT_REG || type == DT_LNK) {
            TakeFile(library, child, walk);
        }
    }
    ::closedir(dir);
    for (const std::string& child : folders) WalkFolder(library, child, walk, options);
}

// What is at `relative` now: a folder walked, a song file, or nothing.
void WalkPath(const fs::path& library, const std::string& relative, Walk& walk,
              const ScanOptions& options) {
    if (relative.empty()) return WalkFolder(library, relative, walk, options);
    for (const fs::path& name : fs::path(relative)) {
        if (IsHiddenName(name.string())) return;
    }
    struct stat info {};
    if (::lstat((library / relative).c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) return WalkFolder(library, relative, walk, options);
    TakeFile(library, relative, walk);
}

std::string LibraryName(const fs::path& library, LegacyEncoding encoding) {
    std::error_code ec;
    fs::path absolute = fs::absolute(library, ec).lexically_normal();
    if (!absolute.has_filename()) absolute = absolute.parent_path();
    const std::string name = DecodeFileName(absolute.filename().string(), encoding);
    return name.empty() ? "Library" : name;
}

// The title of a song whose tags give none.
std::string NameTitle(const std::string& relativePath, LegacyEncoding encoding) {
    return DecodeFileName(Trimmed(fs::path(relativePath).stem().string()), encoding);
}

// What the tags of one file say, with the fallbacks for what they leave out; nothing when the
// file cannot be opened (the reason in `why`). The text handlers it gives TagLib for the duration
// are process-wide, so it stays private to the one writing thread.
std::optional<SongRecord> ReadSong(const fs::path& library, const FoundFile& found,
                                   const ScanOptions& options, std::string& why) {
    const LegacyEncoding encoding = options.legacyEncoding;
    SongRecord song;
    song.path = found.path;
    song.size = found.size;
    song.modified = found.modified;
    const fs::path relative(found.path);
    song.folder = relative.parent_path().generic_string();
    song.collectionName =
        song.folder.empty() ? LibraryName(library, encoding) : FolderName(song.folder, encoding);
    const fs::path file = library / relative;
    const LegacyTagDecoding decoding(encoding);
    // Opened for reading only: TagLib would open it for writing too, and every file read would
    // tell the library watch it had been written.
    TagLib::FileStream stream(file.c_str(), true);
    TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Fast);
    if (ref.isNull()) {
        // TagLib says no more than that; a file it cannot open is not a song we can serve.
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            why = std::strerror(errno);
            return std::nullopt;
        }
        ::close(fd);
    }
    if (!ref.isNull() && ref.tag() != nullptr) {
        song.title = TagText(ref.tag()->title());
        song.artist = TagText(ref.tag()->artist());
        song.album = TagText(ref.tag()->album());
    }
    if (encoding != LegacyEncoding::kLatin1) TakeLegacyApeTexts(file, encoding, song);
    if (!ref.isNull() && ref.audioProperties() != nullptr) {
        song.duration = (ref.audioProperties()->lengthInMilliseconds() + 500) / 1000;
    }
    if (song.title.empty()) song.title = NameTitle(found.path, encoding);
    return song;
}

// True when `song`, read from a file that is new to the index, is the indexed song `old` under
// another name: the same tags (a title taken from each file's name counts as the same).
bool SameTags(const SongRecord& song, const SongRecord& old, LegacyEncoding encoding) {
    const bool sameTitle = song.title == old.title || (song.title == NameTitle(song.path, encoding) &&
                                                       old.title == NameTitle(old.path, encoding));
    return sameTitle && song.artist == old.artist && song.album == old.album &&
           song.duration == old.duration;
}

// True when a process has `file` open for writing and has written to it in the last
// kQuietWrite: a read lease is granted only while no one has the file open for writing. The
// lease is let go at once; were it broken meanwhile, the signal saying so is SIGURG, which is
// ignored unless asked for. Where leases cannot be taken (a file of another user, a network
// file system) a file counts as written whole.
bool BeingWritten(const fs::path& file, int64_t modified) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    if (std::chrono::nanoseconds(modified) <= now - kQuietWrite) return false;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    ::fcntl(fd, F_SETSIG, SIGURG);
    const bool written = ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0 && errno == EAGAIN;
    ::close(fd);  // lets the lease go
    return written;
}

using IndexedByPath = std::map<std::string, IndexedFile>;

// Takes the songs in what cannot be read out of `indexed`, so they stay as they are.
size_t KeepSkipped(IndexedByPath& indexed, const std::vector<Skipped>& skipped) {
    size_t kept = 0;
    for (const Skipped& item : skipped) {
        kept += EraseAtOrBelow(indexed, item.path, [](const IndexedFile&) {});
    }
    return kept;
}

// Brings the index's songs `indexed` in line with the files of `walk`, the same part of the
// library: unchanged files are left alone, changed ones read again keeping their ids, new ones
// added unless they are a gone song moved (same size, time and tags: it keeps its id), and the
// rest removed. Songs in a folder or file that cannot be read are kept as they are. False when
// the index could not be written.
bool Reconcile(Database& database, const fs::path& library, const Walk& walk, IndexedByPath indexed,
               bool readAll, const ScanOptions& options, ScanReport& report) {
    report.unchanged += static_cast<int>(KeepSkipped(indexed, walk.skipped));
    report.skipped.insert(report.skipped.end(), walk.skipped.begin(), walk.skipped.end());
    std::vector<SongRecord> fresh;
    for (const FoundFile& file : walk.files) {
        if (Stopping(options)) return false;
        auto known = indexed.find(file.path);
        if (known != indexed.end() && !readAll && known->second.size == file.size &&
            known->second.modified == file.modified) {
            ++report.unchanged;
            indexed.erase(known);
            continue;
        }
        if (BeingWritten(library / file.path, file.modified)) {
            report.writing.push_back(file.path);
            if (known != indexed.end()) indexed.erase(known);
            continue;
        }
        std::string why;
        std::optional<SongRecord> song = ReadSong(library, file, options, why);
        if (!song) {
            report.skipped.push_back(Skipped{file.path, why});
            if (known != indexed.end()) indexed.erase(known);
            continue;
        }
        if (known == indexed.end()) {
            fresh.push_back(std::move(*song));
            continue;
        }
        if (!database.UpdateSong(known->second.id, *song)) return false;
        ++report.changed;
        indexed.erase(known);
    }
    // What is left of `indexed` is gone from where it was; a fresh file that is one of those
    // songs moved keeps its id.
    std::multimap<std::pair<int64_t, int64_t>, int64_t> gone;  // (size, time) to id
    for (const auto& [path, file] : indexed) gone.emplace(std::pair{file.size, file.modified}, file.id);
    std::vector<std::pair<int64_t, const SongRecord*>> moves;
    std::vector<const SongRecord*> additions;
    std::map<std::pair<std::string, std::string>, int64_t> folderMoves;  // songs from, to
    for (const SongRecord& song : fresh) {
        std::optional<int64_t> movedId;
        const auto [first, last] = gone.equal_range({song.size, song.modified});
        for (auto it = first; it != last; ++it) {
            const std::optional<SongRecord> old = database.IndexedSong(it->second);
            if (!old || !SameTags(song, *old, options.legacyEncoding)) continue;
            movedId = it->second;
            indexed.erase(old->path);
            gone.erase(it);
            const std::string from = fs::path(old->path).parent_path().generic_string();
            if (from != song.folder) ++folderMoves[{from, song.folder}];
            break;
        }
        if (movedId) {
            moves.emplace_back(*movedId, &song);
        } else {
            additions.push_back(&song);
        }
    }
    // A folder whose songs all went to a folder new to the index was renamed or moved: its
    // collection goes with them, keeping its id.
    for (const auto& [folders, songs] : folderMoves) {
        if (!database.MoveCollection(folders.first, folders.second, songs)) return false;
    }
    for (const auto& [id, song] : moves) {
        if (!database.MoveSong(id, song->path) || !database.UpdateSong(id, *song)) return false;
        ++report.moved;
    }
    for (const SongRecord* song : additions) {
        if (!database.AddSong(*song)) return false;
        ++report.added;
    }
    for (const auto& [path, file] : indexed) {
        if (!database.RemoveSong(file.id)) return false;
        ++report.removed;
    }
    return true;
}

IndexedByPath ByPath(std::vector<IndexedFile> files) {
    IndexedByPath indexed;
    for (IndexedFile& file : files) indexed.emplace(file.path, std::move(file));
    return indexed;
}

bool Writes(const ScanReport& report) {
    return report.added + report.changed + report.moved + report.removed > 0;
}

// Writes a reconciled part in one transaction; a part that changed nothing is not committed, so
// readers keep what they hold.
bool ApplyInTransaction(Database& database, const fs::path& library, const Walk& walk,
                        IndexedByPath indexed, bool readAll, const ScanOptions& options,
                        bool setDecoding, ScanReport& report, std::string& error) {
    if (!database.Begin()) {
        error = "cannot write the index: " + database.LastError();
        return false;
    }
    const bool ok =
        Reconcile(database, library, walk, std::move(indexed), readAll, options, report) &&
        database.RemoveEmptyCollections() &&
        (!setDecoding || database.SetSetting(kLegacyEncodingSetting,
                                             LegacyEncodingName(options.legacyEncoding)));
    if (Stopping(options)) {
        database.Rollback();
        error = "stopped";
        return false;
    }
    if (ok && !Writes(report) && !setDecoding) {
        database.Rollback();
        return true;
    }
    if (!ok || !database.Commit()) {
        error = "cannot write the index: " + database.LastError();
        database.Rollback();
        return false;
    }
    return true;
}

bool DecodingChanged(Database& database, const ScanOptions& options) {
    // An index from before the setting existed was read as Latin-1.
    return database.Setting(kLegacyEncodingSetting).value_or("latin1") !=
           LegacyEncodingName(options.legacyEncoding);
}

bool LibraryIsFolder(const fs::path& library, std::string& error) {
    std::error_code ec;
    if (fs::is_directory(library, ec)) return true;
    error = "the library " + library.string() + " is not a folder";
    return false;
}

}  // namespace

bool IsSongFileName(std::string_view name) {
    if (name.size() < 4) return false;
    std::string extension(name.substr(name.size() - 4));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".mp3";
}

bool IsHiddenName(std::string_view name) {
    return name.starts_with('.');
}

bool AtOrBelow(const std::string& path, const std::string& folder) {
    return folder.empty() || path == folder ||
           (path.size() > folder.size() && path[folder.size()] == '/' && path.starts_with(folder));
}

std::string ChildPath(const std::string& folder, std::string_view name) {
    return folder.empty() ? std::string(name) : folder + '/' + std::string(name);
}

std::optional<ScanReport> UpdateIndex(Database& database, const fs::path& library,
                                      std::string& error, const ScanOptions& options) {
    if (!LibraryIsFolder(library, error)) return std::nullopt;
    Walk walk;
    WalkFolder(library, "", walk, options);
    if (!walk.skipped.empty() && walk.skipped.front().path.empty()) {
        error = "cannot read the library " + library.string() + ": " + walk.skipped.front().reason;
        return std::nullopt;
    }
    std::sort(walk.files.begin(), walk.files.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
    IndexedByPath indexed = ByPath(database.IndexedFiles());
    // Texts read with another decoding are read again.
    const bool decodingChanged = DecodingChanged(database, options);
    // An index that is up to date is not written at all, so a read-only one serves. Songs in
    // folders that cannot be read are kept as they are.
    const size_t kept = KeepSkipped(indexed, walk.skipped);
    const bool upToDate =
        !decodingChanged && walk.files.size() == indexed.size() &&
        std::all_of(walk.files.begin(), walk.files.end(), [&indexed](const FoundFile& file) {
            const auto known = indexed.find(file.path);
            return known != indexed.end() && known->second.size == file.size &&
                   known->second.modified == file.modified;
        });
    ScanReport report;
    report.unchanged = static_cast<int>(kept);
    if (upToDate) {
        report.unchanged += static_cast<int>(walk.files.size());
        report.skipped = std::move(walk.skipped);
        return report;
    }
    if (database.ReadOnly()) {
        error = "the index " + database.File() + " cannot be written and the library has changed";
        return std::nullopt;
    }
    if (!ApplyInTransaction(database, library, walk, std::move(indexed), decodingChanged, options,
                            true, report, error)) {
        return std::nullopt;
    }
    // Merging the gram index rewrites it whole: worth it after many changes (a first scan, say),
    // not for the few a rescan finds, which the index merges in as it goes.
    const int changes = report.added + report.changed + report.moved + report.removed;
    if (changes > 0 && changes >= std::min(1000, report.unchanged) && !database.Optimize()) {
        error = "cannot tidy the index: " + database.LastError();
        return std::nullopt;
    }
    return report;
}

std::optional<ScanReport> UpdatePaths(Database& database, const fs::path& library,
                                      std::vector<std::string> paths, std::string& error,
                                      const ScanOptions& options) {
    if (!LibraryIsFolder(library, error)) return std::nullopt;
    if (DecodingChanged(database, options) ||
        std::find(paths.begin(), paths.end(), std::string()) != paths.end()) {
        return UpdateIndex(database, library, error, options);
    }
    // A path inside another of the paths is looked at with it.
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    std::vector<std::string> parts;
    for (std::string& path : paths) {
        if (parts.empty() || !AtOrBelow(path, parts.back())) parts.push_back(std::move(path));
    }
    Walk walk;
    IndexedByPath indexed;
    for (const std::string& part : parts) {
        WalkPath(library, part, walk, options);
        for (IndexedFile& file : database.IndexedFilesUnder(part)) {
            indexed.emplace(file.path, std::move(file));
        }
    }
    std::sort(walk.files.begin(), walk.files.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
    if (database.ReadOnly()) {
        error = "the index " + database.File() + " cannot be written";
        return std::nullopt;
    }
    ScanReport report;
    if (!ApplyInTransaction(database, library, walk, std::move(indexed), false, options, false,
                            report, error)) {
        return std::nullopt;
    }
    return report;
}

}  // namespace tessel::catalogue
