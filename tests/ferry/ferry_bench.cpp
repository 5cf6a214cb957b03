// Throughput of ferry for one large file, to disk, and how much the process's memory grows over
// its idle figure while the file streams; then WebRequest's throughput for the same address
// (it keeps the body in memory). Not a test: tests/ferry/ferry_bench.sh runs it under Wine
// against the catalogue beside the curl command.
//   ferry_bench URL FOLDER
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tessel/ferry/commands.h"
#include "tessel/headless/headless.h"
#include "tessel/http/web_request.h"
#include "tessel/runtime/library_commands.h"

#ifdef _WIN32
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>
#else
#include <unistd.h>

#include <fstream>
#endif

namespace {

using namespace tessel;
using Clock = std::chrono::steady_clock;

// Resident memory of this process, in bytes.
std::uint64_t ResidentBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
#else
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
#endif
}

void Report(const char* who, std::uint64_t bytes, double seconds) {
    std::printf("%-24s %9.1f MB in %6.2f s = %7.1f MB/s\n", who, bytes / 1048576.0, seconds,
                bytes / 1048576.0 / seconds);
    std::fflush(stdout);
}

// One transfer to its end; its outcome.
TransferOutcome Transfer(Word* holder, const std::string& url, const std::string& path,
                         std::uint64_t* peak) {
    TransferSettings record{};
    record.field(2) = reinterpret_cast<Word>(url.c_str());
    record.field(3) = reinterpret_cast<Word>(path.c_str());
    const std::int32_t number = StartTransfer(holder, &record);
    while (NextFinishedTransfer() != number) {
        *peak = std::max(*peak, ResidentBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return OutcomeOfTransfer(number);
}

void TimeFerry(const std::string& url, const std::string& folder) {
    const std::string path = folder + "/ferry_bench.mp3";
    Word holder = 0;
    // WinInet's first request of a process sets itself up (settings, proxy detection), which
    // the curl command does not count either: a small transfer first.
    std::uint64_t ignored = 0;
    const std::string base = url.substr(0, url.find('/', url.find("//") + 2));
    Transfer(&holder, base + "/tessel/music/collections/", folder + "/warm_up.json", &ignored);

    const std::uint64_t idle = ResidentBytes();
    std::uint64_t peak = idle;
    const auto start = Clock::now();
    const TransferOutcome outcome = Transfer(&holder, url, path, &peak);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (outcome != TransferOutcome::kCompleted || ec) {
        std::printf("ferry: the transfer did not complete (outcome %d)\n",
                    static_cast<int>(outcome));
    } else {
        Report("ferry (to disk)", size, seconds);
    }
    std::printf("%-24s %9.1f MB idle, %.1f MB at most while it ran: grew %.1f MB\n", "ferry memory",
                idle / 1048576.0, peak / 1048576.0, (peak - idle) / 1048576.0);
    std::fflush(stdout);
    ReleaseTransfers(&holder);
    std::filesystem::remove(path, ec);
    std::filesystem::remove(folder + "/warm_up.json", ec);
}

void TimeWebRequest(const std::string& url) {
    const auto start = Clock::now();
    const ByteArray body = WebRequest(url.c_str());
    Report("WebRequest (in memory)", body.size(),
           std::chrono::duration<double>(Clock::now() - start).count());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: ferry_bench URL FOLDER\n");
        return 2;
    }
    headless::Install();
    headless::RegisterLibrary(row::kFerry, &ferry::RunCommand);
    TimeFerry(argv[1], argv[2]);
    TimeWebRequest(argv[1]);
    return 0;
}
