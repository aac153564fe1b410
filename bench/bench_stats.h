// Figures of repeated runs and the command-line flags the FTP and engine
// benchmarks share.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double Smallest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

inline double Largest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// True when an argument begins with `prefix`.
inline bool HasFlag(int argc, char** argv, const char* prefix) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind(prefix, 0) == 0) return true;
    return false;
}
