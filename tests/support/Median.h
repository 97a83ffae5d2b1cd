// The median of a benchmark's samples: a single run on a shared machine scatters.
#pragma once
#include <algorithm>
#include <vector>

inline double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}
