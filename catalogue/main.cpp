// tessel-catalogue: the music catalogue service that Tessel talks to by default.
//
//   tessel-catalogue [--library DIR] [--db FILE] [--listen HOST:PORT] [--threads N]
//                    [--legacy-encoding auto|gbk|latin1|big5] [--rescan SECONDS] [--share]
//   tessel-catalogue --make-demo DIR
//   tessel-catalogue --make-legacy-demo DIR
//   tessel-catalogue --help | --version

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "announce.h"
#include "database.h"
#include "demo.h"
#include "http_api.h"
#include "legacy_demo.h"
#include "library_watch.h"
#include "scan.h"
#include "tessel/version.h"
#include "user_service.h"

namespace {

using namespace tessel::catalogue;

constexpr const char* kDefaultListen = "127.0.0.1:8765";
constexpr const char* kUsage =
    "usage: tessel-catalogue [--library DIR] [--db FILE] [--listen HOST:PORT] [--threads N]\n"
    "                        [--legacy-encoding auto|gbk|latin1|big5] [--rescan SECONDS]\n"
    "                        [--share]\n"
    "       tessel-catalogue --make-demo DIR\n"
    "       tessel-catalogue --make-legacy-demo DIR\n"
    "       tessel-catalogue --help | --version\n"
    "Indexes the MP3 files under DIR and serves the catalogue on HOST:PORT (default %s).\n"
    "Without --library DIR is the user's music folder (XDG_MUSIC_DIR, else ~/Music), served\n"
    "once it exists. A port in use ends the program with exit status 3.\n"
    "As the user unit tessel-catalogue.service, enabled for every user, it starts at login;\n"
    "systemctl --user mask --now tessel-catalogue stops it for good (unmask undoes it).\n"
    "The index is kept in FILE (default: one file per library in $XDG_CACHE_HOME/tessel/).\n"
    "Tag texts marked Latin-1 and file names that are not UTF-8 are read as GBK when they\n"
    "are valid GBK and read as Chinese (auto, the default), whenever they are valid GBK\n"
    "(gbk), or never (latin1); big5 reads them as Big5 whenever they are valid Big5.\n"
    "Changes to the library are followed as they happen (inotify); where the library cannot\n"
    "be watched, it is scanned again every SECONDS (default %d; 0: never). SIGHUP scans it\n"
    "again at once.\n"
    "--share (or TESSEL_CATALOGUE_SHARE=yes) shares the library with the LAN, read-only: the\n"
    "catalogue listens on every IPv4 interface and is announced as _tessel._tcp (avahi-daemon).\n"
    "--make-demo and --make-legacy-demo make a demo library in DIR instead.\n"
    "--help shows this text, --version the version.\n";

struct Options {
    std::string library;
    std::string database;
    std::string listen = kDefaultListen;
    std::string demo;
    bool legacyDemo = false;
    bool share = false;
    LegacyEncoding legacyEncoding = LegacyEncoding::kAuto;
    int threads = ServerOptions{}.threads;
    int rescanSeconds = kDefaultRescanSeconds;
};

int Usage() {
    std::fprintf(stderr, kUsage, kDefaultListen, kDefaultRescanSeconds);
    return 2;
}

// --help and --version, alone, answer on standard output and end the program well; -1 otherwise.
int AnswerHelpOrVersion(int argc, char** argv) {
    if (argc != 2) return -1;
    const std::string_view option = argv[1];
    if (option == "--help" || option == "-h") {
        std::printf(kUsage, kDefaultListen, kDefaultRescanSeconds);
        return 0;
    }
    if (option == "--version") {
        std::printf("tessel-catalogue %s\n", tessel::kVersion);
        return 0;
    }
    return -1;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--share") {
            options.share = true;
            continue;
        }
        if (i + 1 >= argc) return std::nullopt;
        const char* value = argv[++i];
        if (name == "--library") {
            if (*value == '\0') return std::nullopt;
            options.library = value;
        } else if (name == "--db") {
            options.database = value;
        } else if (name == "--listen") {
            options.listen = value;
        } else if (name == "--make-demo" || name == "--make-legacy-demo") {
            if (!options.demo.empty()) return std::nullopt;
            options.demo = value;
            options.legacyDemo = name == "--make-legacy-demo";
        } else if (name == "--legacy-encoding") {
            const std::optional<LegacyEncoding> encoding = ParseLegacyEncoding(value);
            if (!encoding) return std::nullopt;
            options.legacyEncoding = *encoding;
        } else if (name == "--rescan") {
            const std::string_view text = value;
            if (text.empty() || text.size() > 7 ||
                text.find_first_not_of("0123456789") != std::string_view::npos) {
                return std::nullopt;
            }
            options.rescanSeconds = std::atoi(value);
        } else if (name == "--threads") {
            options.threads = std::atoi(value);
            if (options.threads < 1 || options.threads > 1024) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!options.library.empty() && !options.demo.empty()) return std::nullopt;
    return options;
}

// "host:port" or "[v6 host]:port".
bool SplitListen(const std::string& listen, std::string& host, int& port) {
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = listen.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string portText = listen.substr(colon + 1);
    if (portText.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    port = std::atoi(portText.c_str());
    return port <= 65535;
}

// The index of a library whose index file is not named: in the user's cache folder, one file per
// library, so that a library on a read-only folder can be served. An index that an earlier
// version kept in the library itself stays in use, keeping the ids of its songs.
std::string DefaultIndexFile(const std::filesystem::path& library, std::string& error) {
    namespace fs = std::filesystem;
    const fs::path old = library / ".tessel-catalogue.db";
    std::error_code ec;
    if (fs::exists(old, ec)) return old.string();
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    fs::path folder;
    if (cache != nullptr && cache[0] == '/') {
        folder = fs::path(cache) / "tessel";
    } else if (home != nullptr && home[0] == '/') {
        folder = fs::path(home) / ".cache" / "tessel";
    } else {
        error =
            "no cache folder (neither XDG_CACHE_HOME nor HOME is set): name the index with --db";
        return {};
    }
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot make " + folder.string() + ": " + ec.message();
        return {};
    }
    // FNV-1a of the library's absolute path tells the libraries' indexes apart.
    const std::string path = fs::absolute(library, ec).lexically_normal().string();
    uint64_t hash = 0xcbf29ce484222325;
    for (unsigned char c : path) hash = (hash ^ c) * 0x100000001b3;
    char name[40];
    std::snprintf(name, sizeof name, "catalogue-%016llx.db", static_cast<unsigned long long>(hash));
    return (folder / name).string();
}

// Tests stand in for the system's limit of inotify watches with a smaller one.
int WatchLimit() {
    const char* limit = std::getenv("TESSEL_CATALOGUE_MAX_WATCHES");
    return limit != nullptr ? std::atoi(limit) : 0;
}

int MakeDemo(const std::string& folder, bool legacy) {
    std::string error;
    if (!(legacy ? MakeLegacyDemoLibrary(folder, error) : MakeDemoLibrary(folder, error))) {
        std::fprintf(stderr, "tessel-catalogue: %s\n", error.c_str());
        return 1;
    }
    std::printf("tessel-catalogue: demo library made in %s\n", folder.c_str());
    return 0;
}

// Said plainly: on a computer where two users are logged in, the second one's catalogue finds
// the first one's on the port.
int PortTaken(const std::string& listen) {
    std::fprintf(stderr,
                 "tessel-catalogue: cannot listen on %s: address already in use. The port "
                 "is taken, most likely by the catalogue of another user logged in on this "
                 "computer: this one ends without writing anything, and the other goes on "
                 "answering. To serve here, stop that one or give another address with "
                 "--listen.\n",
                 listen.c_str());
    return kExitPortTaken;
}

int Serve(const Options& options) {
    std::string host;
    int port = 0;
    if (!SplitListen(options.listen, host, port)) {
        std::fprintf(stderr, "tessel-catalogue: --listen wants HOST:PORT, not %s\n",
                     options.listen.c_str());
        return 2;
    }
    bool share = options.share;
    if (const char* setting = std::getenv(kShareVariable); setting != nullptr && !share) {
        const std::optional<bool> wanted = ReadShareSetting(setting);
        if (!wanted) {
            std::fprintf(stderr,
                         "tessel-catalogue: %s=%s is neither yes nor no: the library is "
                         "not shared\n",
                         kShareVariable, setting);
        }
        share = wanted.value_or(false);
    }
    if (share) host = ShareListenHost(host);
    // Nothing is written, not even the index opened, before the port is known to be ours.
    PortHold hold(host, port);
    if (hold.taken()) return PortTaken(options.listen);
    std::string error;
    MusicFolder music{options.library, {}};
    if (options.library.empty()) {
        music = DefaultMusicFolder(error);
        if (music.path.empty()) {
            std::fprintf(stderr, "tessel-catalogue: %s\n", error.c_str());
            return 1;
        }
    }
    const std::filesystem::path& library = music.path;
    // The user's music folder may not be made yet: the catalogue serves, empty, until it is.
    std::error_code missing;
    const bool waiting =
        options.library.empty() && !std::filesystem::is_directory(library, missing);
    if (options.library.empty()) {
        std::fprintf(stderr,
                     waiting ? "tessel-catalogue: the music folder %s (%s) does not exist "
                               "yet: its songs are served once it is made\n"
                             : "tessel-catalogue: serving the music folder %s (%s)\n",
                     library.c_str(), music.source.c_str());
    }
    const std::string file =
        options.database.empty() ? DefaultIndexFile(library, error) : options.database;
    if (file.empty()) {
        std::fprintf(stderr, "tessel-catalogue: %s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<Database> database = Database::Open(file, error);
    if (!database) {
        std::fprintf(stderr, "tessel-catalogue: %s\n", error.c_str());
        return 1;
    }
    // Without a converter the index records Latin-1, so a later start that has one reads again.
    LegacyEncoding legacyEncoding = options.legacyEncoding;
    if (!CanDecode(legacyEncoding)) {
        std::fprintf(stderr, "tessel-catalogue: no %s converter (iconv): texts read as Latin-1\n",
                     LegacyEncodingName(legacyEncoding));
        legacyEncoding = LegacyEncoding::kLatin1;
    }
    std::atomic<bool> stopping{false};
    const ScanOptions scanOptions{legacyEncoding, &stopping};
    // A folder waited for has its watch made on the wait's thread, while SIGHUP may come.
    std::mutex watchLock;
    std::unique_ptr<LibraryWatch> watch;
    // The folders are watched before the first scan, so that nothing changed during it is missed.
    const auto watchLibrary = [&] {
        if (database->ReadOnly()) {
            std::fprintf(stderr,
                         "tessel-catalogue: the index %s cannot be written: changes to the "
                         "library are not followed\n",
                         file.c_str());
            return;
        }
        auto made = std::make_unique<LibraryWatch>(
            *database, library, scanOptions, WatchOptions{options.rescanSeconds, WatchLimit()});
        const std::lock_guard lock(watchLock);
        watch = std::move(made);
    };
    std::set<std::string> skipped;
    const auto firstScan = [&]() -> bool {
        std::string failure;
        const std::optional<ScanReport> report =
            UpdateIndex(*database, library, failure, scanOptions);
        if (!report) {
            if (!stopping) std::fprintf(stderr, "tessel-catalogue: %s\n", failure.c_str());
            return false;
        }
        std::printf(
            "tessel-catalogue: %d songs added, %d changed, %d moved, %d removed, "
            "%d unchanged\n",
            report->added, report->changed, report->moved, report->removed, report->unchanged);
        std::fflush(stdout);
        if (watch) {
            watch->Start(*report);
        } else {
            LogSkipped(report->skipped, skipped);
        }
        return true;
    };
    if (!waiting) watchLibrary();

    // A client that goes away mid-answer must not end the service.
    signal(SIGPIPE, SIG_IGN);
    // Signals are taken by one thread: stop signals stop the server, so the index closes
    // cleanly; SIGHUP has the library scanned again.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // (The server's and the watch's threads start after the mask, which they inherit.)
    CatalogueServer server(*database, library, ServerOptions{options.threads});
    hold.Release();
    const int bound = server.Bind(host, port, error);
    if (bound < 0) {
        if (error == "address already in use") return PortTaken(options.listen);
        std::fprintf(stderr, "tessel-catalogue: cannot listen on %s: %s\n", options.listen.c_str(),
                     error.c_str());
        return 1;
    }
    // The service manager (a Type=notify unit) counts the catalogue started once it listens:
    // what connects from then on is answered (on a first start, once the library is indexed).
    NotifyServiceManager("READY=1\nSTATUS=" + std::string(waiting ? "waiting for " : "serving ") +
                         library.string());
    // A restart answers at once from the index as it was left, while the scan brings it up to
    // date: searches see the scan's changes when it commits them, all together. A first start
    // answers once the library is indexed; a folder waited for, at once.
    bool served = true;
    std::thread early;
    if (waiting || database->HasSongs()) {
        early = std::thread([&server, &served] { served = server.Run(); });
    }
    std::unique_ptr<FolderWait> wait;
    if (waiting) {
        wait = std::make_unique<FolderWait>(library, [&] {
            std::fprintf(stderr, "tessel-catalogue: the music folder %s is here: indexing it\n",
                         library.c_str());
            watchLibrary();
            if (firstScan()) NotifyServiceManager("STATUS=serving " + library.string());
        });
    } else if (!firstScan()) {
        server.Stop();
        if (early.joinable()) early.join();
        return 1;
    }

    std::thread waiter([&server, &watch, &watchLock, stopSignals] {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) == 0 && signal == SIGHUP) {
            const std::lock_guard lock(watchLock);
            if (watch) watch->RescanNow();
        }
        server.Stop();
    });
    // Announced once it answers; withdrawn before the index closes.
    Announcement announcement(bound, [](const std::string& line) {
        std::fprintf(stderr, "tessel-catalogue: %s\n", line.c_str());
    });
    if (share) announcement.Start();
    std::printf("tessel-catalogue: serving %lld songs on http://%s/%s\n",
                static_cast<long long>(database->SongCount()), server.Address().c_str(),
                share ? " (shared with the LAN, read-only)" : "");
    std::fflush(stdout);
    if (early.joinable()) {
        early.join();
    } else {
        served = server.Run();
    }
    // Wake the waiter if the server ended by itself.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    stopping = true;
    if (wait) wait->Stop();
    announcement.Stop();
    if (watch) watch->Stop();
    return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int code = AnswerHelpOrVersion(argc, argv); code >= 0) return code;
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) return Usage();
    if (!options->demo.empty()) return MakeDemo(options->demo, options->legacyDemo);
    return Serve(*options);
}
