// The system natively: whole files, Windows paths as Linux ones, the program's directory, and the
// record of what the message box, the clipboard and the sound were given.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tessel/posix/standins.h"
#include "tessel/runtime/text.h"

namespace tessel::posix {

namespace {
SystemRecord g_record;
}  // namespace

bool ReadWholeFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string LinuxDirectoryOfEarlierBuilds(std::string value) {
    if (value.empty() || value.front() != '/') return value;
    std::size_t last = 0;  // where the last character begins
    for (std::size_t i = 0; i < value.size(); ++i) {
        last = i;
        if (IsGbkLeadByte(static_cast<unsigned char>(value[i])) && i + 1 < value.size()) ++i;
    }
    if (value[last] != '\\' || last + 1 != value.size()) return value;
    value.pop_back();
    if (value.back() != '/') value.push_back('/');
    return value;
}

bool ReplaceWholeFile(const std::string& path, const std::string& bytes) {
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

std::string ExecutableDirectory() {
    std::string path(4096, '\0');
    const ssize_t len = ::readlink("/proc/self/exe", path.data(), path.size());
    path.resize(len > 0 ? static_cast<std::size_t>(len) : 0);
    const auto slash = path.rfind('/');
    path.resize(slash == std::string::npos ? 0 : slash);
    return path;
}

SystemRecord& System() {
    return g_record;
}

std::string NativePath(std::string_view path) {
    std::string native(path);
    for (std::size_t i = 0; i < native.size(); ++i) {
        const auto c = static_cast<unsigned char>(native[i]);
        if (IsGbkLeadByte(c) && i + 1 < native.size()) {
            ++i;  // the trail byte of a double-byte character
        } else if (c == '\\') {
            native[i] = '/';
        }
    }
    return ConvertWhole("UTF-8", "CP936", native).value_or(native);
}

}  // namespace tessel::posix
