#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The median and quartiles of a run's samples, so one slow round of a few never decides a figure the
// way a mean does. Quartiles are the nearest samples (no interpolation); an empty run gives zeros.
struct Spread {
    double low = 0;
    double firstQuartile = 0;
    double median = 0;
    double thirdQuartile = 0;
    double high = 0;

    static Spread of(std::vector<double> samples)
    {
        Spread spread;
        if (samples.empty()) return spread;
        std::sort(samples.begin(), samples.end());
        const auto at = [&](double fraction) {
            return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5)];
        };
        spread.low = samples.front();
        spread.firstQuartile = at(0.25);
        spread.median = samples.size() % 2 == 1 ? at(0.5)
                                                : (samples[samples.size() / 2 - 1] + samples[samples.size() / 2]) / 2;
        spread.thirdQuartile = at(0.75);
        spread.high = samples.back();
        return spread;
    }
};
