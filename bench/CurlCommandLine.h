#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

// The yardstick of the download benchmarks: the curl command-line tool fetching every URL in parallel
// into the folder, timed per iteration.
inline void timeCurlCommandLine(benchmark::State& state, const std::vector<std::string>& urls,
                                const std::filesystem::path& target, std::int64_t bytesPerFile)
{
    std::string command = "curl --silent --show-error --fail --parallel --parallel-max 50";
    for (std::size_t i = 0; i < urls.size(); ++i)
        command += " -o '" + (target / std::to_string(i)).string() + "' '" + urls[i] + "'";
    command += " 2>/dev/null";
    for (auto _ : state) {
        std::filesystem::remove_all(target);
        std::filesystem::create_directories(target);
        if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(urls.size()) * bytesPerFile);
}
