// The benchmark's generated library: songs of Chinese and English words whose common terms are
// known, and the keywords a listing would send over them.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <random>
#include <vector>

#include "database.h"

namespace tessel::catalogue::bench {

inline constexpr std::array<const char*, 40> kChineseWords = {
    "月光", "城市", "夜晚", "雨天", "海边", "星空", "青春", "梦想", "远方", "故乡",
    "花开", "风吹", "心跳", "回忆", "时光", "秘密", "孤单", "温柔", "晴天", "雪花",
    "中国", "告白", "离别", "旅行", "日记", "森林", "河流", "火车", "灯塔", "黎明",
    "微笑", "眼泪", "春天", "秋天", "夏日", "冬夜", "蓝色", "红色", "故事", "未来"};
inline constexpr std::array<const char*, 30> kLatinWords = {
    "love",  "night", "dream", "city",   "rain",  "summer", "heart", "light", "road", "home",
    "blue",  "fire",  "ocean", "river",  "star",  "moon",   "dance", "slow",  "wild", "gold",
    "paper", "echo",  "storm", "silver", "train", "winter", "glass", "story", "sky",  "song"};
// The searches a listing would send: keywords common and rare, one to four characters, Latin and
// Chinese, one and two terms, and some that find nothing.
// Rare words come from the catalogue codes of the albums (one code per 16 songs); common words
// that never meet pair an English word with a Chinese one.
inline constexpr std::array<const char*, 33> kKeywords = {
    "月",       "光",        "城市",    "月光城市",  "中",      "鑫",        "周",
    "小雨",     "love",      "night",   "ni",        "a",       "Dream",     "moon",
    "zzzz",     "雨天 海边", "夏日",    "青春 love", "梁思远",  "蓝",        "echo",
    "旅行日记", "Vol",       "未来",    "the 的",    "love 的", "rain 故事", "night 月光",
    "kbcdf",    "kzzyx",     "kqrst 7", "的 kbcdf",  "爱"};

// The song of number `index`: half the titles English and holding "the", half Chinese and
// holding 的; 250 folders; an album code held by 16 songs.
SongRecord GeneratedSong(int index, std::mt19937& random);

// Writes `songs` generated songs and one real media file to serve, whose id is `songs` + 1.
bool BuildIndex(Database& database, const std::filesystem::path& library, int songs);

// The ids of the songs a batch phase added to a kept index.
std::vector<int64_t> BatchIds(Database& database);

}  // namespace tessel::catalogue::bench
