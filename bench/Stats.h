#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

// Order statistics over samples, nearest-rank.
namespace Stats {

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

inline double median(const std::vector<double>& values)
{
    return percentile(values, 50.0);
}

// One figure a line, "name value", as bench/run.sh reads them.
inline void print(const char* name, double value)
{
    std::printf("%s %.3f\n", name, value);
}

// "<prefix>_median_us" and "<prefix>_p99_us".
inline void printSpread(const std::string& prefix, const std::vector<double>& values)
{
    print((prefix + "_median_us").c_str(), median(values));
    print((prefix + "_p99_us").c_str(), percentile(values, 99));
}

} // namespace Stats
