// Load benchmark of tessel-catalogue (not a test): builds a generated index of 100,000 songs,
// serves it on 127.0.0.1 in this process and measures keyword searches from 50 kept-alive
// connections (requests per second, p50/p99 latency), then media throughput.
//
//   tessel-catalogue-bench [--songs N] [--connections C] [--seconds S] [--requests R]
//
// Every phase is bounded by its time and request count; nothing leaves the loopback interface.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "database.h"
#include "http_api.h"

namespace {

namespace fs = std::filesystem;
using namespace tessel::catalogue;
using Clock = std::chrono::steady_clock;

struct Settings {
    int songs = 100'000;
    int connections = 50;
    double seconds = 10.0;
    long requests = 1'000'000;
    double mediaSeconds = 3.0;
};

constexpr std::array<const char*, 40> kChineseWords = {
    "月光", "城市", "夜晚", "雨天", "海边", "星空", "青春", "梦想", "远方", "故乡",
    "花开", "风吹", "心跳", "回忆", "时光", "秘密", "孤单", "温柔", "晴天", "雪花",
    "中国", "告白", "离别", "旅行", "日记", "森林", "河流", "火车", "灯塔", "黎明",
    "微笑", "眼泪", "春天", "秋天", "夏日", "冬夜", "蓝色", "红色", "少年", "未来"};
constexpr std::array<const char*, 30> kLatinWords = {
    "love",  "night", "dream", "city",   "rain",  "summer", "heart", "light", "road", "home",
    "blue",  "fire",  "ocean", "river",  "star",  "moon",   "dance", "slow",  "wild", "gold",
    "paper", "echo",  "storm", "silver", "train", "winter", "glass", "story", "sky",  "song"};
constexpr std::array<const char*, 24> kSurnames = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵",
                                                   "吴", "周", "徐", "孙", "马", "朱", "胡", "郭",
                                                   "何", "高", "林", "罗", "郑", "梁", "谢", "宋"};
constexpr std::array<const char*, 20> kGivenNames = {
    "小雨", "晓峰", "星辰", "晚晴", "一鸣", "子涵", "浩然", "思远", "雨桐", "梓萱",
    "俊杰", "欣怡", "明轩", "诗涵", "宇航", "佳琪", "鑫",   "博文", "雅静", "天佑"};
constexpr std::array<const char*, 12> kLatinNames = {
    "Anna Lee", "Mira Stone", "Leo Park",  "Nora Vale", "Sam Rivers", "Ivy Chen",
    "Max Hale", "Zoe Grant",  "Eli Moore", "Ada Frost", "Kai Storm",  "Lena Fox"};

// The searches a listing would send: keywords common and rare, one to four characters, Latin and
// Chinese, one and two terms, and some that find nothing.
constexpr std::array<const char*, 24> kKeywords = {
    "月",   "光",        "城市",   "月光城市", "中",    "鑫",       "周",   "小雨",
    "love", "night",     "ni",     "a",        "Dream", "moon",     "zzzz", "雨天 海边",
    "夏日", "青春 love", "梁思远", "蓝",       "echo",  "旅行日记", "Vol",  "未来"};

std::string PercentEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

SongRecord GeneratedSong(int index, std::mt19937& random) {
    auto pick = [&random](const auto& list) { return list[random() % list.size()]; };
    SongRecord song;
    const bool latin = random() % 10 < 3;
    const int words = 2 + static_cast<int>(random() % 2);
    for (int w = 0; w < words; ++w) {
        if (latin) {
            if (w > 0) song.title += ' ';
            std::string word = pick(kLatinWords);
            if (w == 0) word[0] = static_cast<char>(std::toupper(word[0]));
            song.title += word;
        } else {
            song.title += pick(kChineseWords);
        }
    }
    song.artist = random() % 4 == 0 ? std::string(pick(kLatinNames))
                                    : std::string(pick(kSurnames)) + pick(kGivenNames);
    const int folder = index % 250;
    song.folder = "folder" + std::to_string(folder);
    song.collectionName = "合集 " + std::to_string(folder);
    song.album = std::string(pick(kChineseWords)) + " Vol. " + std::to_string(folder % 9 + 1);
    song.duration = 120 + static_cast<int>(random() % 200);
    song.path = song.folder + "/" + std::to_string(index) + ".mp3";
    return song;
}

bool BuildIndex(Database& database, const fs::path& library, int songs, int64_t& mediaId) {
    std::mt19937 random(20261208);
    if (!database.Begin()) return false;
    for (int i = 0; i < songs; ++i) {
        if (!database.AddSong(GeneratedSong(i, random))) return false;
    }
    // One real file for the media phase: 16 MB of noise under an .mp3 name.
    fs::create_directories(library / "media");
    std::ofstream out(library / "media" / "big.mp3", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (char& c : block) c = static_cast<char>(random());
    for (int i = 0; i < 16; ++i)
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    out.close();
    SongRecord media;
    media.path = "media/big.mp3";
    media.folder = "media";
    media.collectionName = "media";
    media.title = "throughput";
    media.size = 16 << 20;
    if (!database.AddSong(media) || !database.Commit()) return false;
    mediaId = database.SongCount();
    return true;
}

// A minimal kept-alive HTTP/1.1 client over a blocking socket, so that the load generator, which
// shares the machine with the server, spends as little of it as it can.
class PlainClient {
  public:
    explicit PlainClient(int port) : port_(port) {}
    ~PlainClient() { Close(); }

    // Sends one GET and reads the answer whole; returns the status, or -1 on failure.
    int Get(const std::string& target) {
        if (fd_ < 0 && !Connect()) return -1;
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n\r\n";
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            Close();
            return -1;
        }
        size_t headerEnd;
        while ((headerEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
            if (!Receive()) return -1;
        }
        const int status = std::atoi(buffer_.c_str() + 9);
        const size_t lengthAt = buffer_.find("Content-Length: ");
        if (lengthAt == std::string::npos || lengthAt > headerEnd) {
            Close();
            return -1;
        }
        const size_t total =
            headerEnd + 4 + std::strtoul(buffer_.c_str() + lengthAt + 16, nullptr, 10);
        while (buffer_.size() < total) {
            if (!Receive()) return -1;
        }
        buffer_.erase(0, total);
        return status;
    }

  private:
    bool Connect() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            Close();
            return false;
        }
        return true;
    }
    bool Receive() {
        char chunk[16384];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            Close();
            return false;
        }
        buffer_.append(chunk, static_cast<size_t>(got));
        return true;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        buffer_.clear();
    }

    int port_;
    int fd_ = -1;
    std::string buffer_;
};

double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0.0;
    const auto index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

void SearchPhase(int port, const Settings& settings) {
    std::atomic<long> issued{0};
    std::atomic<long> failures{0};
    std::vector<std::vector<double>> latencies(static_cast<size_t>(settings.connections));
    Clock::time_point deadline;
    std::vector<std::string> targets;
    for (const char* keyword : kKeywords) {
        for (int offset : {0, 20, 40}) {
            targets.push_back("/tessel/song/search/?q=" + PercentEncode(keyword) +
                              "&type=video&count=20&offset=" + std::to_string(offset));
        }
    }
    // Connections are opened and used once before the clock starts, so connection set-up is not
    // measured (the server accepts from a short queue; a burst of 50 connects can wait a second).
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < settings.connections; ++c) {
        clients.emplace_back([&, c] {
            PlainClient client(port);
            if (client.Get(targets[0]) != 200) ++failures;
            ++ready;
            while (!go.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::vector<double>& mine = latencies[static_cast<size_t>(c)];
            size_t next = static_cast<size_t>(c) * 7;
            while (Clock::now() < deadline && issued.fetch_add(1) < settings.requests) {
                const std::string& target = targets[next++ % targets.size()];
                const auto sent = Clock::now();
                const int status = client.Get(target);
                const auto took = std::chrono::duration<double, std::milli>(Clock::now() - sent);
                if (status != 200) {
                    ++failures;
                    continue;
                }
                mine.push_back(took.count());
            }
        });
    }
    const auto warmDeadline = Clock::now() + std::chrono::seconds(10);
    while (ready.load() < settings.connections && Clock::now() < warmDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto start = Clock::now();
    deadline = start + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(settings.seconds));
    go = true;
    for (std::thread& client : clients) client.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (const auto& mine : latencies) all.insert(all.end(), mine.begin(), mine.end());
    std::sort(all.begin(), all.end());
    std::printf("searches: %zu answered, %ld failed in %.1f s from %d connections\n", all.size(),
                failures.load(), elapsed, settings.connections);
    std::printf("  %.0f requests/s; latency p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                static_cast<double>(all.size()) / elapsed, Percentile(all, 0.50),
                Percentile(all, 0.90), Percentile(all, 0.99), all.empty() ? 0.0 : all.back());
}

void MediaPhase(int port, int64_t mediaId, int connections, double seconds) {
    std::atomic<uint64_t> bytes{0};
    std::atomic<long> failures{0};
    const std::string target = "/media/" + std::to_string(mediaId) + ".mp3";
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < connections; ++c) {
        clients.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_read_timeout(10);
            for (int i = 0; i < 10'000 && Clock::now() < deadline; ++i) {
                uint64_t got = 0;
                const httplib::Result result = client.Get(target, [&](const char*, size_t length) {
                    got += length;
                    return true;
                });
                if (!result || result->status != 200) {
                    ++failures;
                    break;
                }
                bytes += got;
            }
        });
    }
    for (std::thread& client : clients) client.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("media: %d connection(s), %.0f MB in %.1f s = %.0f MB/s (%ld failed)\n",
                connections, static_cast<double>(bytes.load()) / 1e6, elapsed,
                static_cast<double>(bytes.load()) / 1e6 / elapsed, failures.load());
}

bool ParseSettings(int argc, char** argv, Settings& settings) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--songs") {
            settings.songs = std::clamp(std::atoi(value), 1, 10'000'000);
        } else if (name == "--connections") {
            settings.connections = std::clamp(std::atoi(value), 1, 500);
        } else if (name == "--seconds") {
            settings.seconds = std::clamp(std::atof(value), 0.5, 600.0);
        } else if (name == "--requests") {
            settings.requests = std::clamp(std::atol(value), 1L, 100'000'000L);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseSettings(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tessel-catalogue-bench [--songs N] [--connections C] "
                     "[--seconds S] [--requests R]\n");
        return 2;
    }
    std::string folder = (fs::temp_directory_path() / "tessel-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    const fs::path library(folder);

    std::string error;
    std::unique_ptr<Database> database = Database::Open((library / "index.db").string(), error);
    if (!database) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto buildStart = Clock::now();
    int64_t mediaId = 0;
    if (!BuildIndex(*database, library, settings.songs, mediaId)) {
        std::fprintf(stderr, "cannot build the index: %s\n", database->LastError().c_str());
        return 1;
    }
    std::printf("index: %d songs written in %.1f s (%.0f MB)\n", settings.songs,
                std::chrono::duration<double>(Clock::now() - buildStart).count(),
                static_cast<double>(fs::file_size(library / "index.db")) / 1e6);

    CatalogueServer server(*database, library,
                           ServerOptions{std::max(64, settings.connections + 8)});
    const int port = server.Bind("127.0.0.1", 0);
    if (port < 0) return 1;
    std::thread serving([&server] { server.Run(); });
    for (int i = 0; i < 500 && !server.IsRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // Other work on the machine skews every figure: say how busy it was.
    std::ifstream loadavg("/proc/loadavg");
    std::string load;
    std::getline(loadavg, load);
    std::printf("machine: %u cores, load average %s\n", std::thread::hardware_concurrency(),
                load.c_str());
    SearchPhase(port, settings);
    MediaPhase(port, mediaId, 1, settings.mediaSeconds);
    MediaPhase(port, mediaId, 4, settings.mediaSeconds);

    server.Stop();
    serving.join();
    database.reset();
    std::error_code ignored;
    if (std::getenv("TESSEL_BENCH_KEEP") == nullptr)
        fs::remove_all(library, ignored);
    else
        std::printf("kept %s\n", folder.c_str());
    return 0;
}
