// The index file's layout: its tables, opening it (made, rebuilt or upgraded as its layout says)
// and the common grams added to an index made without them.
#include "database_layout.h"

#include <sqlite3.h>

#include <mutex>
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

std::unique_ptr<Database> Database::Open(const std::string& file, std::string& error,
                                         size_t commonGramBytes) {
    // Many request threads allocate at once; SQLite's allocation statistics would serialise them
    // on one global lock. (Only possible before SQLite starts; harmless to try later.)
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    std::unique_ptr<Database> database(new Database(file, commonGramBytes));
    auto failed = [&](const std::string& what) {
        error = what + ": " + (database->writer_ ? sqlite3_errmsg(database->writer_) : "");
        if (database->writer_ && sqlite3_errcode(database->writer_) == SQLITE_CORRUPT) {
            error += "; " + RebuildHint(file);
        }
        return nullptr;
    };
    if (sqlite3_open_v2(file.c_str(), &database->writer_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        return failed("cannot open the index " + file);
    }
    sqlite3_busy_timeout(database->writer_, 5000);
    // A file that cannot be written opens read-only; it serves as long as it is up to date.
    database->readOnly_ = sqlite3_db_readonly(database->writer_, "main") == 1;
    // Only an index of ours, or an empty file, is (re)built: any other database is left alone.
    Statement layout(database->writer_,
                     "SELECT (SELECT application_id FROM pragma_application_id), "
                     "(SELECT user_version FROM pragma_user_version), "
                     "(SELECT count(*) FROM sqlite_master)");
    if (!layout || sqlite3_step(layout.get()) != SQLITE_ROW) {
        return failed("cannot read the index " + file);
    }
    const int application = sqlite3_column_int(layout.get(), 0);
    const int version = sqlite3_column_int(layout.get(), 1);
    const int objects = sqlite3_column_int(layout.get(), 2);
    layout = {};
    if (application != kApplicationId && objects > 0) {
        error = file + " is a database of something else, not a catalogue index";
        return nullptr;
    }
    // Rebuilding an index of a later layout would give its songs new ids, and addresses handed
    // out before would play other songs.
    if (application == kApplicationId && version > kLayoutVersion) {
        error = file + " was made by a newer tessel-catalogue (index layout " +
                std::to_string(version) + ", this one knows " + std::to_string(kLayoutVersion) +
                "): serve it with that one, or " + RebuildHint(file);
        return nullptr;
    }
    auto readCommonGrams = [&]() -> std::unique_ptr<Database> {
        std::shared_ptr<const CommonGrams> read = CommonGrams::Read(database->writer_);
        if (!read) return failed("cannot read the index " + file);
        database->commonGrams_ = std::move(read);
        // A commit that changes nothing chooses the common grams again, under this limit.
        const std::string limit = std::to_string(commonGramBytes);
        if (!database->readOnly_ && database->Setting(kCommonGramBytesSetting) != limit &&
            !(database->Begin() && database->SetSetting(kCommonGramBytesSetting, limit) &&
              database->Commit())) {
            error = "cannot write the index " + file + ": " + database->lastError_;
            database->Rollback();
            return nullptr;
        }
        return std::move(database);
    };
    if (database->readOnly_) {
        if (application == kApplicationId && version == kLayoutVersion) return readCommonGrams();
        error = file + " cannot be written and is not an index of this layout";
        return nullptr;
    }
    // A writer's cache of 128 MB: a large batch touches many pages of the gram index. The log is
    // copied into the index after each commit (see Commit), not by SQLite inside it.
    if (!database->Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                           "PRAGMA cache_size=-131072; PRAGMA wal_autocheckpoint=0;")) {
        return failed("cannot use the index " + file);
    }
    const bool upgrade = application == kApplicationId && version == kLayoutWithoutCommonGrams;
    if (application != kApplicationId || (version != kLayoutVersion && !upgrade)) {
        const std::string create = std::string("BEGIN;") + kDropAll + kSchema + kCommonGramsSchema +
                                   "PRAGMA application_id=" + std::to_string(kApplicationId) +
                                   "; PRAGMA user_version=" + std::to_string(kLayoutVersion) +
                                   "; COMMIT;";
        if (!database->Execute(create.c_str())) return failed("cannot set up the index " + file);
    }
    if (!database->Execute(kSettingsSchema)) return failed("cannot set up the index " + file);
    if (upgrade && !database->AddStoredCommonGrams()) {
        error = "cannot upgrade the index " + file + ": " + database->lastError_;
        database->Rollback();
        return nullptr;
    }
    return readCommonGrams();
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
