#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

// Runs work(0) .. work(count - 1) on a few threads, the caller's among them, one for each `perThread` items
// up to four: reading and linking many small files waits on the disk's metadata as much as it computes,
// and each item stands alone.
inline void inParallel(std::size_t count, const std::function<void(std::size_t)>& work, std::size_t perThread = 1)
{
    const std::size_t threads = std::min<std::size_t>(
        {(count + perThread - 1) / perThread, 4, std::max<std::size_t>(1, std::thread::hardware_concurrency())});
    std::atomic<std::size_t> next{0};
    const auto run = [&] {
        for (std::size_t i = next++; i < count; i = next++) work(i);
    };
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(run);
    run();
    for (auto& helper : helpers) helper.join();
}
