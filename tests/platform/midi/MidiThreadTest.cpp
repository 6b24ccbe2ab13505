#include "platform/midi/MidiThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

using platform::MidiThread;

// Tasks posted from another thread in quick succession (each while the thread spins for it) and after
// pauses longer than the spin (each after it slept) all run, once and in order; a stop while the thread
// spins ends it at once.
TEST(MidiThread, ASpinningThreadRunsEveryTaskInOrderWhetherItSpunOrSleptAndStopsWhileSpinning)
{
    std::mutex mutex;
    std::vector<int> ran;
    std::atomic<bool> onOwnThread{true};
    {
        MidiThread thread("spinning", std::chrono::microseconds(2000));
        const auto post = [&](int n) {
            thread.post([&, n] {
                if (!thread.isCurrent()) onOwnThread = false;
                std::lock_guard lock(mutex);
                ran.push_back(n);
            });
        };
        for (int n = 0; n < 200; ++n) {
            post(n);
            // Now and then a pause past the spin, so the next task finds the thread asleep.
            if (n % 50 == 49) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        thread.waitIdle();
        // A quick task leaves it spinning; the stop must not wait out the spin's remainder, or a task.
        post(200);
        thread.waitIdle();
        const auto before = std::chrono::steady_clock::now();
        thread.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
        post(201);  // dropped: the thread has stopped
    }
    std::vector<int> expected(201);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ran, expected);
    EXPECT_TRUE(onOwnThread);
}
