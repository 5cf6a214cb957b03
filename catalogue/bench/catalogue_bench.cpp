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

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
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
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
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
    int idle = 1000;
    int stalled = 1000;
    std::string index;
    bool buildOnly = false;
};

constexpr std::array<const char*, 40> kChineseWords = {
    "月光", "城市", "夜晚", "雨天", "海边", "星空", "青春", "梦想", "远方", "故乡",
    "花开", "风吹", "心跳", "回忆", "时光", "秘密", "孤单", "温柔", "晴天", "雪花",
    "中国", "告白", "离别", "旅行", "日记", "森林", "河流", "火车", "灯塔", "黎明",
    "微笑", "眼泪", "春天", "秋天", "夏日", "冬夜", "蓝色", "红色", "故事", "未来"};
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
// Rare words come from the catalogue codes of the albums (one code per 16 songs); common words
// that never meet pair an English word with a Chinese one.
constexpr std::array<const char*, 33> kKeywords = {
    "月",    "光",        "城市",     "月光城市", "中",      "鑫",       "周",     "小雨",
    "love",  "night",     "ni",       "a",        "Dream",   "moon",     "zzzz",   "雨天 海边",
    "夏日",  "青春 love", "梁思远",   "蓝",       "echo",    "旅行日记", "Vol",    "未来",
    "the 的", "love 的",  "rain 故事", "night 月光", "kbcdf", "kzzyx",   "kqrst 7", "的 kbcdf",
    "爱"};

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

// "k" and five letters: a word held by 16 songs, whose letter pairs few songs share.
std::string CatalogueCode(int number) {
    std::string code = "k";
    for (int i = 0; i < 5; ++i, number /= 26) code += static_cast<char>('a' + number % 26);
    return code;
}

SongRecord GeneratedSong(int index, std::mt19937& random) {
    auto pick = [&random](const auto& list) { return list[random() % list.size()]; };
    SongRecord song;
    // Half the titles are English and hold "the", the other half Chinese and hold 的: common
    // terms that never meet.
    const bool latin = index % 2 == 0;
    const int words = 2 + static_cast<int>(random() % 2);
    song.title = latin ? "The" : "";
    for (int w = 0; w < words; ++w) {
        if (latin) {
            song.title += ' ';
            song.title += pick(kLatinWords);
        } else {
            if (w == 1) song.title += "的";
            song.title += pick(kChineseWords);
        }
    }
    song.artist = latin ? std::string(pick(kLatinNames))
                        : std::string(pick(kSurnames)) + pick(kGivenNames);
    const int folder = index % 250;
    song.folder = "folder" + std::to_string(folder);
    song.collectionName = "合集 " + std::to_string(folder);
    song.album = std::string(latin ? pick(kLatinWords) : pick(kChineseWords)) + " Vol. " +
                 std::to_string(folder % 9 + 1) + " " + CatalogueCode(index / 16);
    song.duration = 120 + static_cast<int>(random() % 200);
    song.path = song.folder + "/" + std::to_string(index) + ".mp3";
    return song;
}

// Songs are written in batches of 100,000, each a transaction of its own as the scan writes
// them; the media song comes last, so its id is the number of songs plus one.
bool BuildIndex(Database& database, const fs::path& library, int songs) {
    std::mt19937 random(20261208);
    constexpr int kBatch = 100'000;
    const auto start = Clock::now();
    for (int from = 0; from < songs; from += kBatch) {
        if (!database.Begin()) return false;
        for (int i = from; i < std::min(songs, from + kBatch); ++i) {
            if (!database.AddSong(GeneratedSong(i, random))) return false;
        }
        if (!database.Commit()) return false;
        if ((from + kBatch) % 1'000'000 == 0) {
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            std::printf("  %d songs in %.0f s (%.0f a second)\n", from + kBatch, seconds,
                        (from + kBatch) / seconds);
            std::fflush(stdout);
        }
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
    return database.Begin() && database.AddSong(media) && database.Commit() &&
           database.Optimize();
}

// One kept-alive HTTP/1.1 connection of the load generator: a request is sent whole, the answer
// is read as it comes (Content-Length bodies only), so one thread can drive many connections.
class LoadConnection {
  public:
    // `receiveBuffer` > 0 keeps the receive buffer that small, as a client that stops reading
    // early fills it.
    explicit LoadConnection(int port, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
        host_ = "127.0.0.1:" + std::to_string(port);
    }
    ~LoadConnection() { Close(); }
    LoadConnection(const LoadConnection&) = delete;
    LoadConnection& operator=(const LoadConnection&) = delete;

    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    Clock::time_point sent() const { return sent_; }

    bool Send(const std::string& target) {
        if (fd_ < 0) return false;
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host_ + "\r\n\r\n";
        sent_ = Clock::now();
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            Close();
            return false;
        }
        return true;
    }

    // Reads what has arrived; the status once the answer is complete, 0 while it is not, -1 on
    // failure.
    int Receive() {
        char chunk[16384];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            Close();
            return -1;
        }
        buffer_.append(chunk, static_cast<size_t>(got));
        const size_t headerEnd = buffer_.find("\r\n\r\n");
        if (headerEnd == std::string::npos) return 0;
        const size_t lengthAt = buffer_.find("Content-Length: ");
        if (lengthAt == std::string::npos || lengthAt > headerEnd) {
            Close();
            return -1;
        }
        const size_t total =
            headerEnd + 4 + std::strtoul(buffer_.c_str() + lengthAt + 16, nullptr, 10);
        if (buffer_.size() < total) return 0;
        const int status = std::atoi(buffer_.c_str() + 9);
        answer_ = buffer_.substr(headerEnd + 4, total - headerEnd - 4);
        buffer_.erase(0, total);
        return status;
    }

    // One whole request and answer, waiting as long as the socket's time-out allows.
    int Exchange(const std::string& target) {
        if (!Send(target)) return -1;
        int status = 0;
        while (status == 0) status = Receive();
        return status;
    }

    // Bytes of a request that is not finished yet.
    void SendRaw(const std::string& bytes) {
        if (fd_ >= 0) (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    // The body of the last complete answer.
    const std::string& answer() const { return answer_; }

    void MakeNonBlocking() {
        if (fd_ >= 0) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }

  private:
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    std::string host_;
    std::string buffer_;
    std::string answer_;
    Clock::time_point sent_;
};

double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0.0;
    const auto index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

// One thread drives every connection with poll(), as a load generator should: the server gets
// the machine's cores, not a crowd of client threads.
void SearchPhase(int port, const Settings& settings) {
    std::vector<std::string> targets;
    for (const char* keyword : kKeywords) {
        for (int offset : {0, 20, 40}) {
            targets.push_back("/tessel/song/search/?q=" + PercentEncode(keyword) +
                              "&type=video&count=20&offset=" + std::to_string(offset));
        }
    }
    // Connections are opened and used once, one after the other, before the clock starts: the
    // server accepts from a short queue, and set-up is not what is measured.
    long failures = 0;
    std::vector<std::unique_ptr<LoadConnection>> connections;
    for (int c = 0; c < settings.connections; ++c) {
        connections.push_back(std::make_unique<LoadConnection>(port));
        if (connections.back()->Exchange(targets[0]) != 200) ++failures;
        connections.back()->MakeNonBlocking();
    }
    std::vector<double> latencies;
    latencies.reserve(static_cast<size_t>(std::min(settings.requests, 5'000'000L)));
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(settings.seconds));
    long issued = 0;
    size_t next = 0;
    // Every answer to one request must be the same: the distinct bodies of each.
    std::vector<std::set<size_t>> bodies(targets.size());
    std::vector<double> slowest(targets.size(), 0.0);
    std::unordered_map<const LoadConnection*, size_t> asked;
    auto sendNext = [&](LoadConnection& connection) {
        if (Clock::now() >= deadline || issued >= settings.requests) return false;
        ++issued;
        asked[&connection] = next % targets.size();
        return connection.Send(targets[next++ % targets.size()]);
    };
    std::vector<pollfd> waits;
    for (auto& connection : connections) {
        if (sendNext(*connection)) waits.push_back({connection->fd(), POLLIN, 0});
    }
    std::vector<LoadConnection*> byIndex;
    for (auto& connection : connections) {
        if (connection->open()) byIndex.push_back(connection.get());
    }
    while (!waits.empty()) {
        if (::poll(waits.data(), waits.size(), 5000) <= 0) break;
        for (size_t i = 0; i < waits.size();) {
            LoadConnection& connection = *byIndex[i];
            int status = 0;
            if (waits[i].revents != 0) status = connection.Receive();
            if (status != 0) {
                if (status == 200) {
                    const size_t target = asked[&connection];
                    bodies[target].insert(std::hash<std::string>()(connection.answer()));
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - connection.sent())
                            .count());
                    slowest[target] = std::max(slowest[target], latencies.back());
                } else {
                    ++failures;
                }
                if (status < 0 || !sendNext(connection)) {
                    waits.erase(waits.begin() + static_cast<std::ptrdiff_t>(i));
                    byIndex.erase(byIndex.begin() + static_cast<std::ptrdiff_t>(i));
                    continue;
                }
            }
            waits[i].revents = 0;
            ++i;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(latencies.begin(), latencies.end());
    std::printf("searches: %zu answered, %ld failed in %.1f s from %d connections\n",
                latencies.size(), failures, elapsed, settings.connections);
    std::printf("  %.0f requests/s; latency p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                static_cast<double>(latencies.size()) / elapsed, Percentile(latencies, 0.50),
                Percentile(latencies, 0.90), Percentile(latencies, 0.99),
                latencies.empty() ? 0.0 : latencies.back());
    const auto varied = std::count_if(bodies.begin(), bodies.end(),
                                      [](const std::set<size_t>& b) { return b.size() > 1; });
    std::printf("  %zu requests (%zu keywords x offsets 0, 20, 40), %ld with more than one "
                "distinct answer\n",
                targets.size(), kKeywords.size(), static_cast<long>(varied));
    if (settings.connections > 1) return;
    // One client: which requests take longest.
    std::vector<size_t> order(targets.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&slowest](size_t a, size_t b) { return slowest[a] > slowest[b]; });
    std::printf("  slowest:");
    for (size_t i = 0; i < std::min<size_t>(8, order.size()); ++i) {
        std::printf(" \"%s\"@%zu %.1f ms", kKeywords[order[i] / 3], order[i] % 3 * 20,
                    slowest[order[i]]);
    }
    std::printf("\n");
}

std::string SearchTarget(const std::string& keyword, int count, int offset) {
    return "/tessel/song/search/?q=" + PercentEncode(keyword) +
           "&type=video&count=" + std::to_string(count) + "&offset=" + std::to_string(offset);
}

struct Timings {
    std::vector<double> milliseconds;  // sorted; answers and refusals alike
    long refused = 0;                  // 503: the search needed more checks than allowed
    long failures = 0;
    std::set<std::string> answers;     // distinct bodies: one when every run answered alike
};

// `rounds` searches for `target`, each from a connection opened for it, as a new client sends.
Timings FreshSearches(int port, const std::string& target, int rounds) {
    Timings t;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        LoadConnection connection(port);
        const int status = connection.Exchange(target);
        if (status != 200 && status != 503) {
            ++t.failures;
            continue;
        }
        if (status == 503) ++t.refused;
        t.answers.insert(connection.answer());
        t.milliseconds.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(t.milliseconds.begin(), t.milliseconds.end());
    return t;
}

void PrintTimings(const std::string& what, const Timings& t) {
    std::printf("  %-44s p50 %7.2f ms, max %7.2f ms (%ld answered, %ld refused, %ld failed, "
                "%zu distinct)\n",
                what.c_str(), Percentile(t.milliseconds, 0.5),
                t.milliseconds.empty() ? 0.0 : t.milliseconds.back(),
                static_cast<long>(t.milliseconds.size()) - t.refused, t.refused, t.failures,
                t.answers.size());
}

// The process's memory and threads, as the kernel counts them.
std::string ProcessFigures() {
    std::ifstream status("/proc/self/status");
    std::string line, figures;
    while (std::getline(status, line)) {
        // RssAnon is the process's own memory; VmRSS adds the index's mapped pages, counted
        // once for each reader that maps them.
        if (line.starts_with("VmSize:") || line.starts_with("VmRSS:") ||
            line.starts_with("RssAnon:") || line.starts_with("Threads:")) {
            line.erase(std::remove(line.begin(), line.end(), '\t'), line.end());
            line.erase(std::unique(line.begin(), line.end(),
                                   [](char a, char b) { return a == ' ' && b == ' '; }),
                       line.end());
            figures += (figures.empty() ? "" : ", ") + line;
        }
    }
    return figures;
}

// Connections that a client holds open: half send nothing, half send a request a byte every
// three seconds (as a background thread does while they are held).
class HeldConnections {
  public:
    HeldConnections(int port, int count) {
        for (int i = 0; i < count; ++i) {
            connections_.push_back(std::make_unique<LoadConnection>(port));
            if (i % 2 == 1) connections_.back()->SendRaw("G");
        }
        trickle_ = std::thread([this] {
            const std::string rest = "ET /tessel/song/search/?q=the HTTP/1.1\r\n";
            for (size_t b = 0; !done_; b = (b + 1) % rest.size()) {
                for (size_t i = 1; i < connections_.size(); i += 2) {
                    connections_[i]->SendRaw(rest.substr(b, 1));
                }
                for (int wait = 0; wait < 30 && !done_; ++wait) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            }
        });
    }
    ~HeldConnections() {
        done_ = true;
        trickle_.join();
    }
    HeldConnections(const HeldConnections&) = delete;
    HeldConnections& operator=(const HeldConnections&) = delete;

  private:
    std::vector<std::unique_ptr<LoadConnection>> connections_;
    std::atomic<bool> done_{false};
    std::thread trickle_;
};

// A new client's search while `idle` connections are open, half of them silent and half sending
// their request a byte every three seconds: none of them may keep it waiting.
void IdleConnectionPhase(int port, int idle) {
    const std::string target = SearchTarget("月光", 20, 0);
    std::printf("a fresh connection's search, %d connections silent or slow (goal: under 50 ms):\n",
                idle);
    PrintTimings("with none open", FreshSearches(port, target, 20));
    std::printf("  before: %s\n", ProcessFigures().c_str());
    HeldConnections held(port, idle);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // every one accepted
    PrintTimings("with them open", FreshSearches(port, target, 20));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    PrintTimings("with them open, 3 s later", FreshSearches(port, target, 20));
    std::printf("  with them open: %s\n", ProcessFigures().c_str());
}

// Searches made to cost the most: each is answered, or refused when it needs too many checks, and
// none holds its thread for long.
void AdversarialPhase(int port, int songs) {
    std::string longKeyword;  // the longest allowed: 100 characters of common words
    while (longKeyword.size() < 100 * 3) longKeyword += kChineseWords[longKeyword.size() / 6 % 10];
    std::string manyTerms;  // the longest allowed as 50 one-character terms
    for (int i = 0; i < 50; ++i) {
        if (i > 0) manyTerms += ' ';
        manyTerms += kLatinWords[i % kLatinWords.size()][0];
    }
    struct Search {
        const char* what;
        std::string target;
    };
    const Search searches[] = {
        {"two common terms never together", SearchTarget("月光 love", 100, 0)},
        {"two common terms, deepest page", SearchTarget("城市 night", 100, 1'000'000)},
        {"a term in every song", SearchTarget("Vol", 100, 0)},
        {"a term in every song, last page", SearchTarget("Vol", 100, std::max(0, songs - 100))},
        {"a term in every song, deepest offset", SearchTarget("Vol", 100, 1'000'000)},
        {"a common character, deepest offset", SearchTarget("月", 100, 1'000'000)},
        {"the longest keyword (100 characters)", SearchTarget(longKeyword, 100, 0)},
        {"the longest keyword as 50 terms", SearchTarget(manyTerms, 100, 0)},
    };
    std::printf("searches built to be expensive, %d songs (goal: each under 50 ms):\n", songs);
    for (const Search& s : searches) PrintTimings(s.what, FreshSearches(port, s.target, 5));
    // Half the titles hold "the", the other half 的; the pages the program asks for.
    for (const char* keyword : {"the 的", "love 的", "rain 故事", "the 月光", "night the"}) {
        for (int offset : {0, 20, 40}) {
            PrintTimings(std::string(keyword) + ", offset " + std::to_string(offset),
                         FreshSearches(port, SearchTarget(keyword, 20, offset), 10));
        }
    }
}

// A batch of 10,000 songs added (as a folder copied in), then the same removed, each in one
// transaction on a thread of its own, while a fresh client searches: the searches go on as
// usual, and each sees the batch whole or not at all.
// The ids of the batch's songs in a kept index.
std::vector<int64_t> BatchIds(Database& database) {
    std::vector<int64_t> ids;
    for (const IndexedFile& file : database.IndexedFiles()) {
        if (file.path.starts_with("batch/")) ids.push_back(file.id);
    }
    return ids;
}

void BatchPhase(int port, Database& database, int songs) {
    std::printf("searches while a batch of 10,000 songs is written (goal: as without it):\n");
    const std::string target = SearchTarget("love 的", 20, 0);
    // A batch an interrupted run left is taken out first.
    if (std::vector<int64_t> left = BatchIds(database); !left.empty()) {
        bool removed = database.Begin();
        for (int64_t id : left) removed = removed && database.RemoveSong(id);
        if (!removed || !database.Commit()) database.Rollback();
    }
    for (bool adding : {true, false}) {
        const std::vector<int64_t> added = adding ? std::vector<int64_t>() : BatchIds(database);
        std::atomic<bool> done{false};
        double writeMs = 0;
        double commitMs = 0;
        bool written = false;
        std::thread writer([&] {
            const auto start = Clock::now();
            std::mt19937 random(7);
            written = database.Begin();
            for (int i = 0; i < 10'000 && written; ++i) {
                if (adding) {
                    SongRecord song = GeneratedSong(songs + i, random);
                    song.path = "batch/" + std::to_string(i) + ".mp3";
                    written = database.AddSong(song);
                } else if (static_cast<size_t>(i) < added.size()) {
                    written = database.RemoveSong(added[static_cast<size_t>(i)]);
                }
            }
            const auto commitStart = Clock::now();
            written = written && database.Commit();
            if (!written) database.Rollback();
            commitMs = std::chrono::duration<double, std::milli>(Clock::now() - commitStart).count();
            writeMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            done = true;
        });
        Timings during;
        while (!done) {
            Timings one = FreshSearches(port, target, 1);
            during.milliseconds.insert(during.milliseconds.end(), one.milliseconds.begin(),
                                       one.milliseconds.end());
            during.failures += one.failures;
            during.answers.insert(one.answers.begin(), one.answers.end());
        }
        writer.join();
        std::sort(during.milliseconds.begin(), during.milliseconds.end());
        std::printf("  %s: written in %.0f ms (commit %.0f ms)%s\n",
                    adding ? "10,000 added" : "10,000 removed", writeMs, commitMs,
                    written ? "" : ", FAILED");
        PrintTimings("love 的 meanwhile", during);
    }
}

// Audio downloads whose clients read nothing more once their buffers are full: a fresh client's
// search must be answered as without them.
void StalledDownloadPhase(int port, int64_t mediaId, int stalled) {
    const std::string target = SearchTarget("月光", 20, 0);
    std::printf("a fresh connection's search, %d audio downloads stalled (goal: as without "
                "them):\n",
                stalled);
    PrintTimings("with none stalled", FreshSearches(port, target, 20));
    std::vector<std::unique_ptr<LoadConnection>> downloads;
    for (int i = 0; i < stalled; ++i) {
        downloads.push_back(std::make_unique<LoadConnection>(port, 4096));
        downloads.back()->SendRaw("GET /media/" + std::to_string(mediaId) +
                                  ".mp3 HTTP/1.1\r\nHost: h\r\n\r\n");
    }
    // Each has its answer begun (its first bytes arrived) before the searches.
    const auto sent = Clock::now();
    int begun = 0;
    for (auto& download : downloads) {
        pollfd p{download->fd(), POLLIN, 0};
        if (::poll(&p, 1, 10'000) > 0) ++begun;
    }
    std::printf("  %d of %d downloads answered and stalled %.0f ms after they were sent\n", begun,
                stalled, std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    PrintTimings("with them stalled", FreshSearches(port, target, 20));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    PrintTimings("with them stalled, 3 s later", FreshSearches(port, target, 20));
    std::printf("  with them stalled: %s\n", ProcessFigures().c_str());
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

    std::string error;
    std::unique_ptr<Database> database;
    if (!fs::exists(file)) {
        database = Database::Open(file.string(), error);
        if (!database) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const auto buildStart = Clock::now();
        if (!BuildIndex(*database, library, settings.songs)) {
            std::fprintf(stderr, "cannot build the index: %s\n", database->LastError().c_str());
            return 1;
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
            return 1;
        }
        std::printf("index opened and brought up to date in %.1f s\n",
                    std::chrono::duration<double>(Clock::now() - openStart).count());
        database.reset();
    }
    std::error_code ignored;
    std::printf("index file: %.0f MB\n",
                static_cast<double>(fs::file_size(file) + fs::file_size(fs::path(file.string() + "-wal"), ignored)) /
                    1e6);
    if (settings.buildOnly) return 0;

    // A restart: the index is opened and served, and the first searches are timed from the
    // start (the file is in the system's cache, as after a restart of the service alone).
    const auto restartStart = Clock::now();
    auto sinceRestart = [&restartStart] {
        return std::chrono::duration<double, std::milli>(Clock::now() - restartStart).count();
    };
    database = Database::Open(file.string(), error);
    if (!database) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double openedMs = sinceRestart();
    const int64_t mediaId = settings.songs + 1;

    CatalogueServer server(*database, library);
    std::string bindError;
    const int port = server.Bind("127.0.0.1", 0, bindError);
    if (port < 0) return 1;
    std::thread serving([&server] { server.Run(); });
    for (int i = 0; i < 500 && !server.IsRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    {
        LoadConnection first(port);
        const int status = first.Exchange(SearchTarget("the 的", 20, 0));
        std::printf("restart: index opened in %.0f ms, first search answered (%d) %.0f ms after "
                    "the start\n",
                    openedMs, status, sinceRestart());
    }
    std::printf("the common searches from the first second (one fresh connection each, goal: "
                "under 50 ms):\n");
    for (const char* keyword : {"the 的", "love 的", "rain 故事"}) {
        for (int offset : {0, 20, 40}) {
            const double at = sinceRestart();
            const Timings t = FreshSearches(port, SearchTarget(keyword, 20, offset), 1);
            std::printf("  %-12s offset %2d at %6.0f ms: %7.2f ms%s\n", keyword, offset, at,
                        t.milliseconds.empty() ? -1.0 : t.milliseconds.front(),
                        t.failures ? " (failed)" : "");
        }
    }
    std::printf("catalogue after the restart: %s\n", ProcessFigures().c_str());

    // Other work on the machine skews every figure: say how busy it was.
    std::ifstream loadavg("/proc/loadavg");
    std::string load;
    std::getline(loadavg, load);
    std::printf("machine: %u cores, load average %s\n", std::thread::hardware_concurrency(),
                load.c_str());
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

    // Stopping with connections held, five clients sending and one answer stalled.
    double stopMs = 0;
    {
        HeldConnections held(port, settings.idle);
        std::vector<std::unique_ptr<LoadConnection>> stalled;
        for (int i = 0; i < 5; ++i) {
            stalled.push_back(std::make_unique<LoadConnection>(port));
            stalled.back()->SendRaw("GET /media/" + std::to_string(mediaId) +
                                    ".mp3 HTTP/1.1\r\nHost: h\r\n\r\n");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto stopStart = Clock::now();
        server.Stop();
        serving.join();
        stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stopStart).count();
    }
    std::printf("stop with %d connections held and 5 answers stalled: %.1f ms (goal: under 2 s)\n",
                settings.idle, stopMs);
    database.reset();
    if (!settings.index.empty()) return 0;
    if (std::getenv("TESSEL_BENCH_KEEP") == nullptr)
        fs::remove_all(library, ignored);
    else
        std::printf("kept %s\n", library.c_str());
    return 0;
}
