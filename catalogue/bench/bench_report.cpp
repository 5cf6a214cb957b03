#include "bench_report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

namespace tessel::catalogue::bench {

double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0.0;
    const auto index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

void PrintTimings(const std::string& what, const Timings& t) {
    std::printf(
        "  %-44s p50 %7.2f ms, max %7.2f ms (%ld answered, %ld refused, %ld failed, "
        "%zu distinct)\n",
        what.c_str(), Percentile(t.milliseconds, 0.5),
        t.milliseconds.empty() ? 0.0 : t.milliseconds.back(),
        static_cast<long>(t.milliseconds.size()) - t.refused, t.refused, t.failures,
        t.answers.size());
}

std::string ProcessFigures() {
    std::ifstream status("/proc/self/status");
    std::string line, figures;
    while (std::getline(status, line)) {
        // RssAnon is the process's own memory; VmRSS adds the index's mapped pages, counted
        // once for each reader that maps them.
        if (line.starts_with("VmSize:") || line.starts_with("VmRSS:") ||
            line.starts_with("RssAnon:") || line.starts_with("Threads:")) {
            line.erase(std::remove(line.begin(), line.end(), '\t'), line.end());
            line.erase(std::unique(line.begin(), line.end(),
                                   [](char a, char b) { return a == ' ' && b == ' '; }),
                       line.end());
            figures += (figures.empty() ? "" : ", ") + line;
        }
    }
    return figures;
}

void PrintMachineLoad() {
    std::ifstream loadavg("/proc/loadavg");
    std::string load;
    std::getline(loadavg, load);
    std::printf("machine: %u cores, load average %s\n", std::thread::hardware_concurrency(),
                load.c_str());
}

}  // namespace tessel::catalogue::bench
