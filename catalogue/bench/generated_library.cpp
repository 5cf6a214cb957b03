#include "generated_library.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace tessel::catalogue::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::array<const char*, 24> kSurnames = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵",
                                                   "吴", "周", "徐", "孙", "马", "朱", "胡", "郭",
                                                   "何", "高", "林", "罗", "郑", "梁", "谢", "宋"};
constexpr std::array<const char*, 20> kGivenNames = {
    "小雨", "晓峰", "星辰", "晚晴", "一鸣", "子涵", "浩然", "思远", "雨桐", "梓萱",
    "俊杰", "欣怡", "明轩", "诗涵", "宇航", "佳琪", "鑫",   "博文", "雅静", "天佑"};
constexpr std::array<const char*, 12> kLatinNames = {
    "Anna Lee", "Mira Stone", "Leo Park",  "Nora Vale", "Sam Rivers", "Ivy Chen",
    "Max Hale", "Zoe Grant",  "Eli Moore", "Ada Frost", "Kai Storm",  "Lena Fox"};

// "k" and five letters: a word held by 16 songs, whose letter pairs few songs share.
std::string CatalogueCode(int number) {
    std::string code = "k";
    for (int i = 0; i < 5; ++i, number /= 26) code += static_cast<char>('a' + number % 26);
    return code;
}

}  // namespace

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
    song.artist =
        latin ? std::string(pick(kLatinNames)) : std::string(pick(kSurnames)) + pick(kGivenNames);
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
    return database.Begin() && database.AddSong(media) && database.Commit() && database.Optimize();
}

std::vector<int64_t> BatchIds(Database& database) {
    std::vector<int64_t> ids;
    for (const IndexedFile& file : database.IndexedFiles()) {
        if (file.path.starts_with("batch/")) ids.push_back(file.id);
    }
    return ids;
}

}  // namespace tessel::catalogue::bench
