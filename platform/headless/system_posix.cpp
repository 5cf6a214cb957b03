// Kernel commands that reach the system, natively, over the POSIX stand-ins. Settings files and
// file tests work on the real file system (names are taken as bytes, with Windows backslashes as
// slashes; a Linux directory stored with a trailing backslash reads with a slash); the message
// box is written to standard error and answered with OK; the clipboard and the sound are kept
// for tests to look at.
#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string>

#include "tessel/headless/headless.h"
#include "tessel/kernel/arguments.h"
#include "tessel/kernel/ini.h"
#include "tessel/posix/standins.h"
#include "tessel/runtime/kernel.h"

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
            *result = platform::NewText(value ? posix::LinuxDirectoryOfEarlierBuilds(*value)
                                              : std::string(ArgText(n, a, 3)));
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
            *result = platform::NewText(posix::ExecutableDirectory());
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
        default:
            return false;
    }
}

}  // namespace tessel::headless
