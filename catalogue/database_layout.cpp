// The index file's layout: its tables, opening it (made, rebuilt or upgraded as its layout says)
// and the common grams added to an index made without them.
#include "database_layout.h"

#include <sqlite3.h>

#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "database.h"
#include "database_reader.h"
#include "search_text.h"
#include "sqlite_statement.h"

namespace tessel::catalogue {
namespace {

// Bump when the tables or the grams change: an index of another layout is rebuilt from scratch,
// but for the layouts upgraded in place below.
constexpr int kLayoutVersion = 2;
// Layout 1 had no stored common grams: they are added, keeping every song and its id.
constexpr int kLayoutWithoutCommonGrams = 1;
// The byte limit the stored common grams were chosen under.
constexpr const char* kCommonGramBytesSetting = "common_gram_bytes";
// Marks the file as a catalogue index ("TSLC").
constexpr int kApplicationId = 0x54534C43;

constexpr const char* kSchema = R"sql(
CREATE TABLE collections(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  folder TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL);
CREATE TABLE songs(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  path TEXT NOT NULL UNIQUE,
  collection_id INTEGER NOT NULL REFERENCES collections(id),
  title TEXT NOT NULL,
  artist TEXT NOT NULL,
  album TEXT NOT NULL,
  duration INTEGER NOT NULL,
  size INTEGER NOT NULL,
  modified INTEGER NOT NULL);
CREATE INDEX songs_by_collection ON songs(collection_id, path);
CREATE VIRTUAL TABLE song_grams USING fts5(singles, pairs, content='', columnsize=0);
)sql";

// Added to indexes of this layout that were made without it, so they are kept, not rebuilt.
constexpr const char* kSettingsSchema =
    "CREATE TABLE IF NOT EXISTS index_settings(name TEXT PRIMARY KEY, value TEXT NOT NULL)";

constexpr const char* kDropAll = R"sql(
DROP TABLE IF EXISTS index_settings;
DROP TABLE IF EXISTS common_grams;
DROP TABLE IF EXISTS gram_counts;
DROP TABLE IF EXISTS song_grams;
DROP TABLE IF EXISTS songs;
DROP TABLE IF EXISTS collections;
)sql";

}  // namespace

std::string RebuildHint(const std::string& file) {
    return "delete " + file + " (or name another file with --db) to build the index again";
}

Database::Database(std::string file, size_t commonGramBytes)
    : file_(std::move(file)),
      commonGrams_(std::make_shared<const CommonGrams>()),
      commonGramBytes_(commonGramBytes) {}

Database::~Database() {
    idleReaders_.clear();
    for (auto& [sql, statement] : writerStatements_) sqlite3_finalize(statement);
    if (writer_) sqlite3_close_v2(writer_);
}

// What the file says of itself before anything is changed in it.
struct Database::StoredLayout {
    int application = 0;
    int version = 0;
    int objects = 0;  // tables, indexes and the like already in the file
    bool Ours() const { return application == kApplicationId; }
    bool Current() const { return Ours() && version == kLayoutVersion; }
    bool Upgradable() const { return Ours() && version == kLayoutWithoutCommonGrams; }
};

std::unique_ptr<Database> Database::Open(const std::string& file, std::string& error,
                                         size_t commonGramBytes) {
    // Many request threads allocate at once; SQLite's allocation statistics would serialise them
    // on one global lock. (Only possible before SQLite starts; harmless to try later.)
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    std::unique_ptr<Database> database(new Database(file, commonGramBytes));
    if (!database->OpenFile(error)) return nullptr;
    return database;
}

// Opening in this order: the file, what it says of itself, whether it may be served or written
// here, its tables made, rebuilt or upgraded, and last its common grams.
bool Database::OpenFile(std::string& error) {
    if (sqlite3_open_v2(file_.c_str(), &writer_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        error = SqliteError("cannot open the index " + file_);
        return false;
    }
    sqlite3_busy_timeout(writer_, 5000);
    // A file that cannot be written opens read-only; it serves as long as it is up to date.
    readOnly_ = sqlite3_db_readonly(writer_, "main") == 1;
    const std::optional<StoredLayout> stored = ReadLayout();
    if (!stored) {
        error = SqliteError("cannot read the index " + file_);
        return false;
    }
    return Accepts(*stored, error) && (readOnly_ || PrepareTables(*stored, error)) &&
           LoadCommonGrams(error);
}

std::optional<Database::StoredLayout> Database::ReadLayout() {
    Statement layout(writer_,
                     "SELECT (SELECT application_id FROM pragma_application_id), "
                     "(SELECT user_version FROM pragma_user_version), "
                     "(SELECT count(*) FROM sqlite_master)");
    if (!layout || sqlite3_step(layout.get()) != SQLITE_ROW) return std::nullopt;
    return StoredLayout{sqlite3_column_int(layout.get(), 0), sqlite3_column_int(layout.get(), 1),
                        sqlite3_column_int(layout.get(), 2)};
}

bool Database::Accepts(const StoredLayout& stored, std::string& error) const {
    // Only an index of ours, or an empty file, is (re)built: any other database is left alone.
    if (!stored.Ours() && stored.objects > 0) {
        error = file_ + " is a database of something else, not a catalogue index";
        return false;
    }
    // Rebuilding an index of a later layout would give its songs new ids, and addresses handed
    // out before would play other songs.
    if (stored.Ours() && stored.version > kLayoutVersion) {
        error = file_ + " was made by a newer tessel-catalogue (index layout " +
                std::to_string(stored.version) + ", this one knows " +
                std::to_string(kLayoutVersion) + "): serve it with that one, or " +
                RebuildHint(file_);
        return false;
    }
    if (readOnly_ && !stored.Current()) {
        error = file_ + " cannot be written and is not an index of this layout";
        return false;
    }
    return true;
}

bool Database::PrepareTables(const StoredLayout& stored, std::string& error) {
    // A writer's cache of 128 MB: a large batch touches many pages of the gram index. The log is
    // copied into the index after each commit (see Commit), not by SQLite inside it.
    if (!Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                 "PRAGMA cache_size=-131072; PRAGMA wal_autocheckpoint=0;")) {
        error = SqliteError("cannot use the index " + file_);
        return false;
    }
    if (!stored.Current() && !stored.Upgradable()) {
        const std::string create = std::string("BEGIN;") + kDropAll + kSchema + kCommonGramsSchema +
                                   "PRAGMA application_id=" + std::to_string(kApplicationId) +
                                   "; PRAGMA user_version=" + std::to_string(kLayoutVersion) +
                                   "; COMMIT;";
        if (!Execute(create.c_str())) {
            error = SqliteError("cannot set up the index " + file_);
            return false;
        }
    }
    if (!Execute(kSettingsSchema)) {
        error = SqliteError("cannot set up the index " + file_);
        return false;
    }
    if (stored.Upgradable() && !AddStoredCommonGrams()) {
        error = "cannot upgrade the index " + file_ + ": " + lastError_;
        Rollback();
        return false;
    }
    return true;
}

bool Database::LoadCommonGrams(std::string& error) {
    std::shared_ptr<const CommonGrams> read = CommonGrams::Read(writer_);
    if (!read) {
        error = SqliteError("cannot read the index " + file_);
        return false;
    }
    commonGrams_ = std::move(read);
    // A commit that changes nothing chooses the common grams again, under this limit.
    const std::string limit = std::to_string(commonGramBytes_);
    if (!readOnly_ && Setting(kCommonGramBytesSetting) != limit &&
        !(Begin() && SetSetting(kCommonGramBytesSetting, limit) && Commit())) {
        error = "cannot write the index " + file_ + ": " + lastError_;
        Rollback();
        return false;
    }
    return true;
}

// A failed SQLite call on the writer, said with what was being done; a damaged file is named
// with the way out.
std::string Database::SqliteError(const std::string& what) const {
    std::string error = what + ": " + (writer_ ? sqlite3_errmsg(writer_) : "");
    if (writer_ && sqlite3_errcode(writer_) == SQLITE_CORRUPT) error += "; " + RebuildHint(file_);
    return error;
}

// Counts the grams of every song and stores the common ones' bits, in one transaction with the
// new layout number: an index is upgraded whole or not at all.
bool Database::AddStoredCommonGrams() {
    if (!Begin() || !Execute(kCommonGramsSchema)) return false;
    sqlite3_stmt* s = Ready(Writing("SELECT id, title, artist, album FROM songs"));
    if (s == nullptr) return false;
    int status;
    while ((status = sqlite3_step(s)) == SQLITE_ROW) {
        pending_.Add(sqlite3_column_int64(s, 0),
                     GramsOf(TextColumn(s, 1), TextColumn(s, 2), TextColumn(s, 3)), *commonGrams_);
    }
    sqlite3_reset(s);
    if (status != SQLITE_DONE) return Fail(writer_);
    const std::string layout = "PRAGMA user_version=" + std::to_string(kLayoutVersion);
    return Execute(layout.c_str()) && Commit();
}

}  // namespace tessel::catalogue
