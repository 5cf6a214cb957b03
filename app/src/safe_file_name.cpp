#include "tessel/app/safe_file_name.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "tessel/runtime/text.h"

namespace tessel {

namespace {

bool IsRefused(unsigned char b) {
    constexpr std::string_view kRefused = "\\/:*?\"<>|";
    return b < 0x20 || b == 0x7F || kRefused.find(static_cast<char>(b)) != std::string_view::npos;
}

// The stem as whole characters (one or two bytes each), refused ones replaced.
std::vector<std::string> CleanCharacters(std::string_view stem) {
    std::vector<std::string> characters;
    for (std::size_t i = 0; i < stem.size(); ++i) {
        const auto b = static_cast<unsigned char>(stem[i]);
        if (IsGbkLeadByte(b) && i + 1 < stem.size() &&
            IsGbkTrailByte(static_cast<unsigned char>(stem[i + 1]))) {
            characters.emplace_back(stem.substr(i, 2));
            ++i;
        } else if (b >= 0x80 || IsRefused(b)) {
            characters.emplace_back("_");  // refused, or half of a broken double-byte character
        } else {
            characters.emplace_back(1, static_cast<char>(b));
        }
    }
    while (!characters.empty() && (characters.back() == "." || characters.back() == " ")) {
        characters.pop_back();
    }
    return characters;
}

bool IsDeviceName(std::string_view name) {
    std::string base(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end()) return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

std::string SafeFileName(std::string_view directory, std::string_view stem,
                         std::string_view extension) {
    std::vector<std::string> characters = CleanCharacters(stem);
    if (characters.empty()) characters.emplace_back("_");

    std::string name;
    for (const auto& c : characters) name += c;
    if (IsDeviceName(name + std::string(extension))) {
        characters.insert(characters.begin(), "_");
        name.insert(0, "_");
    }

    // Cut whole characters from the end until the whole path fits (at least one stays).
    const std::size_t fixed = directory.size() + extension.size();
    while (characters.size() > 1 && fixed + name.size() > kLongestPath) {
        name.resize(name.size() - characters.back().size());
        characters.pop_back();
    }
    // A cut can leave a dot or blank at the end of the stem again.
    while (characters.size() > 1 && (characters.back() == "." || characters.back() == " ")) {
        name.pop_back();
        characters.pop_back();
    }
    return name + std::string(extension);
}

char DirectorySeparator(std::string_view path) {
    return !path.empty() && path.front() == '/' ? '/' : '\\';
}

bool EndsWithSeparator(std::string_view path) {
    const char separator = DirectorySeparator(path);
    bool lastIsSeparator = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto b = static_cast<unsigned char>(path[i]);
        lastIsSeparator = b == static_cast<unsigned char>(separator);
        if (IsGbkLeadByte(b) && i + 1 < path.size()) ++i;
    }
    return lastIsSeparator;
}

}  // namespace tessel
