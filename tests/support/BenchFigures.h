#pragma once

// The summary figures the benchmarks print of their timed runs.

#include <algorithm>
#include <vector>

// The middle value; for an even count the mean of the two middle values.
inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return (values[values.size() / 2] + values[(values.size() - 1) / 2]) / 2;
}

// The value that 90 % of the runs do not exceed.
inline double p90(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() * 9 / 10];
}
