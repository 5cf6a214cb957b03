// Kernel commands that reach the system, natively. Settings files and file tests work on the
// real file system (names are taken as bytes, with Windows backslashes as slashes; a Linux
// directory stored with a trailing backslash reads with a slash); the message box is written to
// standard error and answered with OK; the clipboard and the sound are kept for tests to look at.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tessel/platform/arguments.h"
#include "tessel/platform/headless.h"
#include "tessel/platform/ini.h"
#include "tessel/platform/standins.h"
#include "tessel/runtime/kernel.h"

namespace tessel::posix {

namespace {
SystemRecord g_record;

bool ReadWholeFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Earlier native builds ended a Linux directory with the Windows "\" ("/home/user/Music\"); such
// a value reads as the Linux directory it names ("/home/user/Music/"). Other values are as stored.
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

// Written beside the target and renamed over it, so a failed write never leaves half a file.
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
}  // namespace

SystemRecord& System() { return g_record; }

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

namespace tessel::headless {

using platform::ArgText;

bool RunSystemCommand(std::uint32_t command, std::uint32_t n, const Value* a, Value* result) {
    auto& record = posix::System();
    switch (command) {
        case kernel::kMessageBox:
            record.messages.emplace_back(ArgText(n, a, 0));
            std::fprintf(stderr, "[message] %s\n", record.messages.back().c_str());
            *result = IntegerValue(1);  // OK
            return true;
        case kernel::kReadIni: {
            std::string content;
            std::optional<std::string> value;
            if (posix::ReadWholeFile(posix::NativePath(ArgText(n, a, 0)), &content)) {
                value = platform::IniLookup(content, ArgText(n, a, 1), ArgText(n, a, 2));
            }
            *result = platform::NewText(
                value ? posix::LinuxDirectoryOfEarlierBuilds(*value) : std::string(ArgText(n, a, 3)));
            return true;
        }
        case kernel::kWriteIni: {
            const std::string path = posix::NativePath(ArgText(n, a, 0));
            std::string content;
            posix::ReadWholeFile(path, &content);
            *result = LogicalValue(posix::ReplaceWholeFile(
                path, platform::IniUpdate(content, ArgText(n, a, 1), ArgText(n, a, 2),
                                          ArgText(n, a, 3))));
            return true;
        }
        case kernel::kFileExists: {
            struct stat st {};
            const std::string path = posix::NativePath(ArgText(n, a, 0));
            *result = LogicalValue(!path.empty() && ::stat(path.c_str(), &st) == 0);
            return true;
        }
        case kernel::kProgramDirectory: {
            if (!record.programDirectory.empty()) {
                *result = platform::NewText(record.programDirectory);
                return true;
            }
            std::string path(4096, '\0');
            const ssize_t len = ::readlink("/proc/self/exe", path.data(), path.size());
            path.resize(len > 0 ? static_cast<std::size_t>(len) : 0);
            const auto slash = path.rfind('/');
            path.resize(slash == std::string::npos ? 0 : slash);
            *result = platform::NewText(path);
            return true;
        }
        case kernel::kSetClipboardText:
            record.clipboard = std::string(ArgText(n, a, 0));
            *result = LogicalValue(true);
            return true;
        case kernel::kPlaySound:
            record.soundsPlayed.emplace_back(platform::ArgBytes(n, a, 0));
            *result = LogicalValue(!record.soundsPlayed.back().empty());
            return true;
        default: return false;
    }
}

}  // namespace tessel::headless
