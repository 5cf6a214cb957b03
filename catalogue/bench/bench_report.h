// How the benchmark reports: latency figures, the process's memory and threads, and how busy the
// machine was.
#pragma once

#include <string>
#include <vector>

#include "load_client.h"

namespace tessel::catalogue::bench {

// The value at `fraction` (0 to 1) of `sorted`; 0 when it is empty.
double Percentile(const std::vector<double>& sorted, double fraction);

// One line: p50 and max of `t` and how its searches were answered.
void PrintTimings(const std::string& what, const Timings& t);

// The process's memory and threads, as the kernel counts them.
std::string ProcessFigures();

// Other work on the machine skews every figure: says how busy it was.
void PrintMachineLoad();

}  // namespace tessel::catalogue::bench
