#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/url/NetworkThread.h"

// The program halts the network thread as its queues go: a transfer or task that ran after that would
// report into freed queues. Halting from the thread itself must not wait for itself.
TEST(NetworkThread, AHaltedThreadRunsNothingMoreAndStillEnds)
{
    std::atomic<int> ran{0};
    {
        platform::NetworkThread thread("test-halt");
        std::promise<void> first;
        thread.perform([&] {
            ++ran;
            first.set_value();
        });
        first.get_future().wait();
        thread.halt();
        thread.perform([&] { ++ran; });
        thread.halt();
    }
    EXPECT_EQ(ran.load(), 1);

    {
        platform::NetworkThread thread("test-halt-self");
        std::promise<void> halted;
        thread.perform([&] {
            thread.halt();
            halted.set_value();
        });
        halted.get_future().wait();
        thread.perform([&] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 1);
}
