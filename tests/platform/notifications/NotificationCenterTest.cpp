#include "platform/notifications/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using platform::Notification;
using platform::NotificationCenter;

TEST(NotificationCenterTest, DeliversToMatchingObserversInOrderWithUserInfoAndIsSafeAcrossThreads)
{
    NotificationCenter center;
    int device = 0, other = 0;
    std::vector<std::string> heard;
    center.addObserver("Plugged", nullptr, [&](const Notification& n) { heard.push_back("any:" + std::any_cast<std::string>(n.userInfo.at("model"))); });
    center.addObserver("Plugged", &device, [&](const Notification&) { heard.push_back("device"); });
    center.addObserver("", nullptr, [&](const Notification& n) { heard.push_back("all:" + n.name); });
    center.addObserver("Unplugged", nullptr, [&](const Notification&) { heard.push_back("unplugged"); });

    center.post("Plugged", &device, {{"model", std::string("R1")}});
    center.post("Plugged", &other, {{"model", std::string("R2")}});
    EXPECT_EQ(heard, (std::vector<std::string>{"any:R1", "device", "all:Plugged", "any:R2", "all:Plugged"}));
    // Concurrent posts, adds and removes are safe.
    NotificationCenter shared;
    std::atomic<int> calls{0};
    shared.addObserver("tick", nullptr, [&](const Notification&) { ++calls; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                auto token = shared.addObserver("tick", nullptr, [](const Notification&) {});
                shared.post("tick");
                shared.removeObserver(token);
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(calls.load(), 2000);
}

TEST(NotificationCenterTest, ObserversMayChangeTheCentreFromInsideACallback)
{
    NotificationCenter center;
    std::vector<std::string> heard;
    NotificationCenter::Token second = 0, self = 0, late = 0;
    self = center.addObserver("n", nullptr, [&](const Notification&) {
        heard.push_back("first");
        center.removeObserver(self);
        center.removeObserver(second);
        late = center.addObserver("n", nullptr, [&](const Notification&) { heard.push_back("late"); });
    });
    second = center.addObserver("n", nullptr, [&](const Notification&) { heard.push_back("second"); });
    center.addObserver("n", nullptr, [&](const Notification&) {
        heard.push_back("third");
        center.post("inner");  // re-entrant posting must not deadlock
    });

    center.post("n");
    EXPECT_EQ(heard, (std::vector<std::string>{"first", "third"}));
    heard.clear();
    center.post("n");
    EXPECT_EQ(heard, (std::vector<std::string>{"third", "late"}));
    center.removeObserver(late);
    center.removeObserver(late);  // twice is harmless
    center.removeObserver(12345);
}

