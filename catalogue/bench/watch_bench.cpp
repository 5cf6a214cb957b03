// Benchmark of reading and following a library (not a test): makes a library of tagged MP3 files
// in a temporary folder, times a fresh scan and a restart's scan, then serves it in-process with
// the library watch and times how long a change takes to show in the answers (a song added,
// retagged, moved, removed), and how long a folder of many files moved in takes, with the
// searches answered meanwhile.
//
//   tessel-catalogue-watch-bench [--files N] [--batch B] [--rounds R] [--folder DIR]
//
// Nothing leaves the loopback interface; the folder is removed at the end.

#include <httplib.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "database.h"
#include "demo.h"
#include "http_api.h"
#include "library_watch.h"
#include "scan.h"

namespace {

namespace fs = std::filesystem;
using namespace tessel::catalogue;
using Clock = std::chrono::steady_clock;

struct Settings {
    int files = 20'000;
    int batch = 10'000;
    int rounds = 5;
    fs::path folder;  // where the library is made (default: the temporary folder)
};

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

constexpr const char* kWords[] = {"love", "night", "rain", "city", "dream", "road", "heart",
                                  "月光", "城市",  "夜晚", "故事", "海边",  "星空", "时光"};

SongTags TagsOf(int index) {
    const std::string a = kWords[index % 14];
    const std::string b = kWords[(index / 14) % 14];
    return SongTags{a + " " + b + " " + std::to_string(index),
                    "Singer " + std::to_string(index % 300), "Album " + std::to_string(index / 12)};
}

// `count` tagged copies of one encoded tune, twelve to a folder (an album each).
bool MakeSongs(const fs::path& model, const fs::path& root, const std::string& prefix, int first,
               int count, std::string& error) {
    for (int i = first; i < first + count; ++i) {
        const fs::path file =
            root / (prefix + std::to_string(i / 12)) / (std::to_string(i % 12 + 1) + ".mp3");
        std::error_code ec;
        if (i % 12 == 0 || i == first) fs::create_directories(file.parent_path(), ec);
        fs::copy_file(model, file, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            error = "cannot write " + file.string() + ": " + ec.message();
            return false;
        }
        if (!WriteSongTags(file, TagsOf(i), error)) return false;
    }
    return true;
}

class Client {
  public:
    explicit Client(int port) : client_("127.0.0.1", port) {
        client_.set_read_timeout(10);
        client_.set_keep_alive(true);
    }
    // The body of a search answer, or "" when there was none.
    std::string Search(const std::string& word, int count = 20, int offset = 0) {
        const httplib::Result result =
            client_.Get("/tessel/song/search/?q=" + word + "&count=" + std::to_string(count) +
                        "&offset=" + std::to_string(offset));
        return result && result->status == 200 ? result->body : std::string();
    }
    std::string Get(const std::string& target) {
        const httplib::Result result = client_.Get(target);
        return result && result->status == 200 ? result->body : std::string();
    }

  private:
    httplib::Client client_;
};

// Milliseconds from now until `seen` holds (polled every 2 ms), or -1 after 30 s.
double TimeUntil(const std::function<bool()>& seen) {
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(30)) {
        if (seen()) return Milliseconds(Clock::now() - start);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return -1;
}

void PrintTimes(const char* what, const std::vector<double>& times) {
    std::printf("  %-28s median %6.0f ms, max %6.0f ms (%zu runs)\n", what, Percentile(times, 0.5),
                *std::max_element(times.begin(), times.end()), times.size());
}

bool ParseSettings(int argc, char** argv, Settings& settings) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--files") {
            settings.files = std::atoi(argv[i + 1]);
        } else if (name == "--batch") {
            settings.batch = std::atoi(argv[i + 1]);
        } else if (name == "--rounds") {
            settings.rounds = std::atoi(argv[i + 1]);
        } else if (name == "--folder") {
            settings.folder = argv[i + 1];
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && settings.files > 0 && settings.batch > 0 && settings.rounds > 0;
}

double LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseSettings(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tessel-catalogue-watch-bench [--files N] [--batch B] "
                     "[--rounds R] [--folder DIR]\n");
        return 2;
    }
    std::string pattern = ((settings.folder.empty() ? fs::temp_directory_path() : settings.folder) /
                           "tessel-watch-bench-XXXXXX")
                              .string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a folder in %s\n", pattern.c_str());
        return 1;
    }
    const fs::path root = pattern;
    const fs::path library = root / "library";
    const fs::path scratch = root / "scratch";
    std::string error;
    const fs::path model = root / "model.mp3";
    std::printf("making %d + %d tagged MP3 files in %s...\n", settings.files, settings.batch,
                root.c_str());
    std::fflush(stdout);
    if (!WriteSongFile(model, SongTags{}, 1.0, 5, error) ||
        !MakeSongs(model, library, "Album ", 0, settings.files, error) ||
        !MakeSongs(model, scratch / "Moved In", "Disc ", settings.files, settings.batch, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        fs::remove_all(root);
        return 1;
    }
    for (int i = 0; i < settings.rounds; ++i) {
        const fs::path probe = scratch / ("probe" + std::to_string(i) + ".mp3");
        fs::copy_file(model, probe);
        if (!WriteSongTags(probe, {"pk" + std::to_string(i) + "x", "", ""}, error)) return 1;
    }

    // Scans (the files are in the page cache: they were just written).
    const fs::path index = root / "index.db";
    std::unique_ptr<Database> database = Database::Open(index.string(), error);
    if (!database) return 1;
    Clock::time_point start = Clock::now();
    std::optional<ScanReport> report = UpdateIndex(*database, library, error);
    const double fresh = Milliseconds(Clock::now() - start);
    if (!report) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    database.reset();
    start = Clock::now();
    database = Database::Open(index.string(), error);
    report = UpdateIndex(*database, library, error);
    const double restart = Milliseconds(Clock::now() - start);
    std::printf(
        "fresh scan of %d files: %.2f s (%.0f files/s); restart's scan: %.2f s "
        "(load average %.1f)\n",
        report ? report->unchanged : 0, fresh / 1000, settings.files / (fresh / 1000),
        restart / 1000, LoadAverage());

    // Serving, with the watch.
    LibraryWatch watch(*database, library, ScanOptions{}, WatchOptions{});
    watch.Start(*report);
    CatalogueServer server(*database, library, ServerOptions{});
    const int port = server.Bind("127.0.0.1", 0, error);
    if (port <= 0) return 1;
    std::thread serving([&server] { server.Run(); });
    while (!server.IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Client client(port);
    client.Search("love");  // the common grams read once

    const auto found = [&client](const std::string& word) {
        return client.Search(word).find("\"id_str\"") != std::string::npos;
    };
    std::vector<double> added, changed, moved, removed;
    fs::create_directories(library / "Probes");
    fs::create_directories(library / "Moved");
    for (int i = 0; i < settings.rounds; ++i) {
        const std::string k = std::to_string(i);
        const fs::path file = library / "Probes" / ("probe" + k + ".mp3");
        fs::copy_file(scratch / ("probe" + k + ".mp3"), file);
        added.push_back(TimeUntil([&] { return found("pk" + k + "x"); }));
        if (!WriteSongTags(file, {"pc" + k + "x", "", ""}, error)) return 1;
        changed.push_back(TimeUntil([&] { return found("pc" + k + "x"); }));
        const fs::path to = library / "Moved" / ("probe" + k + ".mp3");
        fs::rename(file, to);
        moved.push_back(TimeUntil([&] {
            for (const CollectionRow& collection : database->Collections()) {
                if (collection.name != "Moved") continue;
                return client
                           .Get("/tessel/music/collections/" + std::to_string(collection.id) +
                                "/songs/?count=100")
                           .find("pc" + k + "x") != std::string::npos;
            }
            return false;
        }));
        fs::remove(to);
        removed.push_back(TimeUntil([&] { return !found("pc" + k + "x"); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::printf("change to answer, %d songs served (polled every 2 ms):\n", settings.files);
    PrintTimes("song added (copied in)", added);
    PrintTimes("song retagged in place", changed);
    PrintTimes("song moved to a folder", moved);
    PrintTimes("song removed", removed);

    // A folder of `batch` files moved in, while a client searches without pause.
    std::atomic<bool> searching{true};
    std::vector<std::pair<double, double>> latencies;  // (since the move, ms)
    Clock::time_point moveTime{};
    std::atomic<bool> movedIn{false};
    std::thread searcher([&] {
        Client own(port);
        const char* words[] = {"love",        "night", "%E6%9C%88%E5%85%89", "city", "rain%20heart",
                               "singer%2042", "zzzz"};
        for (int n = 0; searching; ++n) {
            const Clock::time_point sent = Clock::now();
            own.Search(words[n % 7], 20, (n % 3) * 20);
            const Clock::time_point back = Clock::now();
            latencies.emplace_back(movedIn ? Milliseconds(sent - moveTime) : -1.0,
                                   Milliseconds(back - sent));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    moveTime = Clock::now();
    movedIn = true;
    fs::rename(scratch / "Moved In", library / "Moved In");
    // The last song of the folder found by its number: the batch is committed whole.
    const std::string last = std::to_string(settings.files + settings.batch - 1);
    const double batch = TimeUntil([&] { return found(last); });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    searching = false;
    searcher.join();
    std::vector<double> before, during, after;
    for (const auto& [since, ms] : latencies) {
        (since < 0 ? before : since <= batch ? during : after).push_back(ms);
    }
    std::printf("a folder of %d files moved in: all answered after %.2f s\n", settings.batch,
                batch / 1000);
    for (const auto& [name, set] :
         {std::pair{"before", &before}, std::pair{"while applied", &during},
          std::pair{"after", &after}}) {
        if (set->empty()) continue;
        std::printf("  searches %-14s %5zu, p50 %6.2f ms, p99 %7.2f ms, max %7.2f ms\n", name,
                    set->size(), Percentile(*set, 0.5), Percentile(*set, 0.99),
                    Percentile(*set, 1.0));
    }
    std::printf("load average %.1f\n", LoadAverage());

    watch.Stop();
    server.Stop();
    serving.join();
    database.reset();
    fs::remove_all(root);
    return 0;
}
