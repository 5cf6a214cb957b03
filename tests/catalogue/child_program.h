// The catalogue program run as a child of a test, its output (stdout and stderr together) read
// as the test asks. Every wait is bounded; a child that overstays is killed.
#pragma once

#include <sys/types.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace tessel::catalogue::testing {

class ChildProgram {
  public:
    // Runs the program with `args`; `launcher` comes before it (e.g. a command that changes user).
    explicit ChildProgram(std::vector<std::string> args, std::vector<std::string> launcher = {});
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Reads the child's output until it matches `pattern` or `seconds` pass.
    std::optional<std::smatch> WaitForOutput(const std::regex& pattern, int seconds);
    // Waits up to `seconds` for the child to end (sending `signal` first if non-zero); returns its
    // exit code, or -1 when it had to be killed.
    int Finish(int seconds, int signal = 0);
    void Signal(int signal);
    const std::string& text() const { return text_; }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string text_;
};

}  // namespace tessel::catalogue::testing
