#include "demo.h"

#include <spawn.h>
#include <sys/wait.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>
#include <system_error>
#include <vector>

extern char** environ;

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

constexpr int kSampleRate = 22050;

// A melody on a pentatonic scale: a random walk of notes of one or two beats, each a soft tone
// with a few harmonics and a plucked envelope, over a quiet bass on every fourth beat.
std::vector<int16_t> SynthesiseTune(double seconds, unsigned seed) {
    static constexpr std::array<int, 5> kScale = {0, 2, 4, 7, 9};
    std::mt19937 random(seed);
    const double root = 196.0 * std::pow(2.0, static_cast<double>(random() % 7) / 12.0);
    const double beat = 0.18 + static_cast<double>(random() % 5) * 0.03;
    const auto total = static_cast<size_t>(seconds * kSampleRate);
    std::vector<double> mix(total, 0.0);
    auto addTone = [&](double start, double length, double frequency, double loudness) {
        const auto first = static_cast<size_t>(start * kSampleRate);
        const auto count = static_cast<size_t>(length * kSampleRate);
        for (size_t i = 0; i < count && first + i < total; ++i) {
            const double t = static_cast<double>(i) / kSampleRate;
            const double attack = std::min(1.0, t / 0.01);
            const double envelope = attack * std::exp(-3.0 * t / length);
            const double phase = 2.0 * std::numbers::pi * frequency * t;
            mix[first + i] +=
                loudness * envelope *
                (std::sin(phase) + 0.3 * std::sin(2 * phase) + 0.12 * std::sin(3 * phase));
        }
    };
    int step = static_cast<int>(random() % 10);
    int beatIndex = 0;
    for (double at = 0.0; at < seconds; ++beatIndex) {
        step = std::clamp(step + static_cast<int>(random() % 5) - 2, 0, 11);
        const int semitones = kScale[step % 5] + 12 * (step / 5);
        const double length = beat * (random() % 4 == 0 ? 2 : 1);
        addTone(at, length * 1.4, root * std::pow(2.0, semitones / 12.0), 0.22);
        if (beatIndex % 4 == 0) addTone(at, beat * 4, root / 2, 0.12);
        at += length;
    }
    std::vector<int16_t> samples(total);
    for (size_t i = 0; i < total; ++i) {
        // Fade the last tenth of a second so the tune does not end in a click.
        const double fade = std::min(1.0, static_cast<double>(total - i) / (0.1 * kSampleRate));
        samples[i] = static_cast<int16_t>(std::clamp(mix[i] * fade, -1.0, 1.0) * 30000.0);
    }
    return samples;
}

void AppendLittleEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A RIFF WAVE file of 16-bit mono samples.
bool WriteWave(const std::vector<int16_t>& samples, const fs::path& file) {
    const auto dataBytes = static_cast<uint32_t>(samples.size() * sizeof(int16_t));
    std::string header = "RIFF";
    AppendLittleEndian(header, 36 + dataBytes, 4);
    header += "WAVEfmt ";
    AppendLittleEndian(header, 16, 4);
    AppendLittleEndian(header, 1, 2);  // PCM
    AppendLittleEndian(header, 1, 2);  // mono
    AppendLittleEndian(header, kSampleRate, 4);
    AppendLittleEndian(header, kSampleRate * 2, 4);
    AppendLittleEndian(header, 2, 2);
    AppendLittleEndian(header, 16, 2);
    header += "data";
    AppendLittleEndian(header, dataBytes, 4);
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
    ok = ok && std::fwrite(samples.data(), sizeof(int16_t), samples.size(), out) == samples.size();
    return std::fclose(out) == 0 && ok;
}

// Encodes a wave file with the `lame` command.
bool EncodeMp3(const fs::path& wave, const fs::path& file, std::string& error) {
    const std::string input = wave.string();
    const std::string output = file.string();
    std::vector<const char*> args = {"lame", "--quiet",     "-m",           "m",    "-b",
                                     "48",   input.c_str(), output.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "lame", nullptr, nullptr, const_cast<char* const*>(args.data()),
                     environ) != 0) {
        error = "cannot run lame (is it installed?)";
        return false;
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "lame could not encode " + output;
        return false;
    }
    return true;
}

struct DemoFolder {
    const char* name;
    int songs;
    std::array<const char*, 2> singers;
};

}  // namespace

bool WriteSongTags(const fs::path& file, const SongTags& tags, std::string& error) {
    if (tags.title.empty() && tags.artist.empty() && tags.album.empty()) return true;
    TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::UTF8);
    TagLib::MPEG::File mp3(file.c_str(), false);
    TagLib::ID3v2::Tag* tag = mp3.isValid() ? mp3.ID3v2Tag(true) : nullptr;
    if (tag == nullptr) {
        error = "cannot tag " + file.string();
        return false;
    }
    tag->setTitle(TagLib::String(tags.title, TagLib::String::UTF8));
    tag->setArtist(TagLib::String(tags.artist, TagLib::String::UTF8));
    tag->setAlbum(TagLib::String(tags.album, TagLib::String::UTF8));
    if (!mp3.save(TagLib::MPEG::File::ID3v2)) {
        error = "cannot write the tags of " + file.string();
        return false;
    }
    return true;
}

bool WriteSongFile(const fs::path& file, const SongTags& tags, double seconds, unsigned seed,
                   std::string& error) {
    // Written beside its final name and moved there whole, so a stopped run leaves no half file.
    fs::path partial = file;
    partial += ".part";
    fs::path wave = file;
    wave += ".wav";
    bool ok = WriteWave(SynthesiseTune(seconds, seed), wave);
    if (!ok) error = "cannot write " + wave.string();
    ok = ok && EncodeMp3(wave, partial, error) && WriteSongTags(partial, tags, error);
    std::error_code ignored;
    fs::remove(wave, ignored);
    if (!ok) {
        fs::remove(partial, ignored);
        return false;
    }
    std::error_code ec;
    fs::rename(partial, file, ec);
    if (ec) {
        error = "cannot write " + file.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool MakeDemoLibrary(const fs::path& given, std::string& error) {
    const fs::path target = given.has_filename() ? given : given.parent_path();
    static constexpr std::array<const char*, 8> kScenes = {"雨", "风", "雪", "梦",
                                                           "夜", "海", "雾", "光"};
    static constexpr std::array<const char*, 8> kThings = {"歌", "信", "花", "灯",
                                                           "船", "猫", "路", "钟"};
    static constexpr std::array<const char*, 16> kLatinTitles = {
        "Midnight Highway", "Neon Rain",       "City Lights", "Late Night Radio",
        "Open Road",        "Night Drive",     "Silver Moon", "Slow Motion",
        "Morning Coffee",   "Sunday Pancakes", "Golden Hour", "Window Seat",
        "First Light",      "Paper Planes",    "Soft Focus",  "Untagged Sketch"};
    static constexpr std::array<DemoFolder, 5> kFolders = {{
        {"华语流行", 22, {"林小雨", "周晓峰"}},
        {"民谣小站", 21, {"陈星辰", "北风乐队"}},
        {"夜色钢琴", 21, {"苏晚晴", "Anna Lee"}},
        {"Night Drive", 8, {"Mira Stone", "Leo Park"}},
        {"Morning Coffee", 8, {"The Paper Lanterns", "王一鸣"}},
    }};
    // A new library is made beside its final name and moved there when complete, so a stopped run
    // never leaves a half library that looks made.
    std::error_code ec;
    const bool fresh = !fs::exists(target, ec);
    fs::path folder = target;
    if (fresh) {
        folder += ".making";
        fs::remove_all(folder, ec);
    }
    int chinese = 0;
    int latin = 0;
    unsigned seed = 1;
    for (const DemoFolder& demoFolder : kFolders) {
        const fs::path dir = folder / demoFolder.name;
        fs::create_directories(dir, ec);
        if (ec) {
            error = "cannot make " + dir.string() + ": " + ec.message();
            return false;
        }
        for (int i = 0; i < demoFolder.songs; ++i, ++seed) {
            SongTags tags;
            const bool chineseTitle = chinese < static_cast<int>(kScenes.size() * kThings.size()) &&
                                      (demoFolder.name[0] & 0x80) != 0;
            if (chineseTitle) {
                tags.title = std::string(kScenes[chinese / 8]) + "中的" + kThings[chinese % 8];
                ++chinese;
            } else {
                tags.title = kLatinTitles[latin++ % kLatinTitles.size()];
            }
            tags.artist = demoFolder.singers[static_cast<size_t>(i) % 2];
            tags.album = demoFolder.name;
            std::string name =
                (i < 9 ? "0" : "") + std::to_string(i + 1) + " " + tags.title + ".mp3";
            if (tags.title == "Untagged Sketch") {
                // One file without tags shows the fall-back to the file name.
                name = tags.title + ".mp3";
                tags = {};
            }
            const double seconds = 3.0 + static_cast<double>(seed % 4);
            if (!WriteSongFile(dir / name, tags, seconds, seed, error)) return false;
        }
    }
    if (fresh) {
        fs::rename(folder, target, ec);
        if (ec) {
            error = "cannot move the demo library to " + target.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

}  // namespace tessel::catalogue
