#pragma once
// The process that a part file's name names: prefix, the process id, '-', anything, suffix.
// Shared by the POSIX and Win32 part files, whose names differ only in prefix and characters.
#include <cstdint>
#include <string_view>

namespace tessel::ferry {

// The process id, or 0 when the name is not a part file's.
template <typename Char>
std::uint32_t PartFileOwner(std::basic_string_view<Char> name, std::basic_string_view<Char> prefix,
                            std::basic_string_view<Char> suffix) {
    if (name.substr(0, prefix.size()) != prefix || name.size() < prefix.size() + suffix.size() ||
        name.substr(name.size() - suffix.size()) != suffix) {
        return 0;
    }
    std::uint32_t pid = 0;
    std::size_t i = prefix.size();
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && pid < 100000000; ++i) {
        pid = pid * 10 + static_cast<std::uint32_t>(name[i] - '0');
    }
    return i < name.size() && name[i] == '-' ? pid : 0;
}

}  // namespace tessel::ferry
