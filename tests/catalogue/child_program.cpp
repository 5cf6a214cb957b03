#include "child_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace tessel::catalogue::testing {

using Clock = std::chrono::steady_clock;

ChildProgram::ChildProgram(std::vector<std::string> args, std::vector<std::string> launcher) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    args.insert(args.begin(), TESSEL_CATALOGUE_PROGRAM);
    args.insert(args.begin(), launcher.begin(), launcher.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    output_ = out[0];
}

ChildProgram::~ChildProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
}

std::optional<std::smatch> ChildProgram::WaitForOutput(const std::regex& pattern, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        std::smatch match;
        if (std::regex_search(text_, match, pattern)) return match;
        pollfd wait{output_, POLLIN, 0};
        if (::poll(&wait, 1, 100) > 0) {
            char chunk[4096];
            const ssize_t got = ::read(output_, chunk, sizeof chunk);
            if (got <= 0) return std::nullopt;
            text_.append(chunk, static_cast<size_t>(got));
        }
    }
    return std::nullopt;
}

int ChildProgram::Finish(int seconds, int signal) {
    if (pid_ <= 0) return -1;
    if (signal != 0) ::kill(pid_, signal);
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (Clock::now() < deadline) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

void ChildProgram::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

}  // namespace tessel::catalogue::testing
