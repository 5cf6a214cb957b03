// Load benchmark of tessel-catalogue (not a test): builds a generated index of 100,000 songs,
// reopens it as a restart does and times the first searches, serves it on 127.0.0.1 in this
// process and measures keyword searches from 50 kept-alive connections (requests per second,
// p50/p99 latency, distinct answers per request); a fresh client's search with and without 1,000
// silent and slow connections open; searches built to be expensive; media throughput; searches
// while 1,000 clients stall audio downloads; and the time a stop takes with connections held and
// answers stalled.
//
//   tessel-catalogue-bench [--songs N] [--connections C] [--seconds S] [--requests R]
//                          [--media-seconds S] [--idle I] [--stalled D]
//                          [--index FILE [--build-only]]
//
// With --index the index is kept in FILE (its folder holds the media file): built when FILE does
// not exist, else only reopened, so a large index is built once (--build-only stops there).
//
// Every phase is bounded by its time and request count; nothing leaves the loopback interface.

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "bench_phases.h"
#include "bench_report.h"
#include "database.h"
#include "generated_library.h"
#include "http_api.h"

namespace {

namespace fs = std::filesystem;
using namespace tessel::catalogue;
using namespace tessel::catalogue::bench;

bool ParseSettings(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--build-only") {
            settings.buildOnly = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[i + 1];
        if (name == "--songs") {
            settings.songs = std::clamp(std::atoi(value), 1, 10'000'000);
        } else if (name == "--connections") {
            settings.connections = std::clamp(std::atoi(value), 1, 500);
        } else if (name == "--seconds") {
            settings.seconds = std::clamp(std::atof(value), 0.5, 600.0);
        } else if (name == "--media-seconds") {
            settings.mediaSeconds = std::clamp(std::atof(value), 0.0, 600.0);
        } else if (name == "--idle") {
            settings.idle = std::clamp(std::atoi(value), 0, 4000);
        } else if (name == "--stalled") {
            settings.stalled = std::clamp(std::atoi(value), 0, 4000);
        } else if (name == "--index") {
            settings.index = value;
        } else if (name == "--requests") {
            settings.requests = std::clamp(std::atol(value), 1L, 100'000'000L);
        } else {
            return false;
        }
    }
    return !settings.buildOnly || !settings.index.empty();
}

// Builds the index at `file` when there is none, or with --build-only brings the one there up to
// date, and says how large it is; false, having said why, when it cannot.
bool PrepareIndex(const Settings& settings, const fs::path& library, const fs::path& file) {
    std::string error;
    std::unique_ptr<Database> database;
    if (!fs::exists(file)) {
        database = Database::Open(file.string(), error);
        if (!database) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        const auto buildStart = Clock::now();
        if (!BuildIndex(*database, library, settings.songs)) {
            std::fprintf(stderr, "cannot build the index: %s\n", database->LastError().c_str());
            return false;
        }
        std::printf("index: %d songs written in %.1f s\n", settings.songs,
                    std::chrono::duration<double>(Clock::now() - buildStart).count());
        database.reset();
    } else if (settings.buildOnly) {
        // An index of an earlier layout or byte limit is brought to this one's.
        const auto openStart = Clock::now();
        database = Database::Open(file.string(), error);
        if (!database) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        std::printf("index opened and brought up to date in %.1f s\n",
                    std::chrono::duration<double>(Clock::now() - openStart).count());
        database.reset();
    }
    std::error_code ignored;
    std::printf("index file: %.0f MB\n",
                static_cast<double>(fs::file_size(file) +
                                    fs::file_size(fs::path(file.string() + "-wal"), ignored)) /
                    1e6);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseSettings(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tessel-catalogue-bench [--songs N] [--connections C] "
                     "[--seconds S] [--requests R] [--media-seconds S] [--idle I] "
                     "[--stalled D] [--index FILE [--build-only]]\n");
        return 2;
    }
    fs::path library;
    fs::path file;
    if (settings.index.empty()) {
        std::string folder = (fs::temp_directory_path() / "tessel-bench-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) return 1;
        library = folder;
        file = library / "index.db";
    } else {
        file = fs::absolute(settings.index);
        library = file.parent_path();
    }
    if (!PrepareIndex(settings, library, file)) return 1;
    if (settings.buildOnly) return 0;

    // A restart: the index is opened and served, and the first searches are timed from the
    // start (the file is in the system's cache, as after a restart of the service alone).
    const auto restartStart = Clock::now();
    std::string error;
    std::unique_ptr<Database> database = Database::Open(file.string(), error);
    if (!database) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double openedMs =
        std::chrono::duration<double, std::milli>(Clock::now() - restartStart).count();
    const int64_t mediaId = settings.songs + 1;

    CatalogueServer server(*database, library);
    std::string bindError;
    const int port = server.Bind("127.0.0.1", 0, bindError);
    if (port < 0) return 1;
    std::thread serving([&server] { server.Run(); });
    for (int i = 0; i < 500 && !server.IsRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    RestartPhase(port, restartStart, openedMs);
    PrintMachineLoad();
    SearchPhase(port, settings);
    // The same searches one at a time: the latency of a single client such as Tessel itself.
    Settings single = settings;
    single.connections = 1;
    single.seconds = std::min(settings.seconds, 3.0);
    SearchPhase(port, single);
    IdleConnectionPhase(port, settings.idle);
    AdversarialPhase(port, settings.songs);
    if (settings.mediaSeconds > 0) {
        MediaPhase(port, mediaId, 1, settings.mediaSeconds);
        MediaPhase(port, mediaId, 4, settings.mediaSeconds);
    }
    if (settings.stalled > 0) StalledDownloadPhase(port, mediaId, settings.stalled);
    BatchPhase(port, *database, settings.songs);

    StopPhase(server, serving, port, mediaId, settings.idle);
    database.reset();
    if (!settings.index.empty()) return 0;
    std::error_code ignored;
    if (std::getenv("TESSEL_BENCH_KEEP") == nullptr)
        fs::remove_all(library, ignored);
    else
        std::printf("kept %s\n", library.c_str());
    return 0;
}
