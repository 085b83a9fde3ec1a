#pragma once

#include <algorithm>
#include <cmath>
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

} // namespace Stats
