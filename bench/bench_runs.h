// What the benchmarks that time whole runs share: starting a child process
// and waiting for it, and summarising the times of many runs.
#pragma once

#include <string>
#include <vector>

// Runs args (args[0] looked up on PATH) with standard output thrown away and
// standard error written to errorFile, or thrown away too when errorFile is
// empty. environment null keeps this process's environment. Returns the
// exit status, or -1 when the child could not start or did not exit
// normally.
int RunProcess(const std::vector<std::string>& args,
               const std::vector<std::string>* environment = nullptr,
               const std::string& errorFile = {});

// The nearest-rank percentile: the smallest sample with at least fraction
// of all samples at or below it (0.5 the median, 1.0 the largest); 0 for
// no samples.
double Percentile(std::vector<double> samples, double fraction);
