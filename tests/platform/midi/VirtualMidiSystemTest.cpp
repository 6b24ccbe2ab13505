#include "platform/midi/MidiThread.h"
#include "platform/midi/VirtualMidiSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/dispatch/RunLoop.h"

using namespace platform;

namespace {

using Message = std::vector<std::uint8_t>;

struct Host {
    FakeClock clock;
    RunLoop loop{clock};
    Dispatch dispatch{loop, 1};
    VirtualMidiSystem system{dispatch};
    std::vector<MidiNotification> notifications;
    std::vector<bool> onMain;
    MidiRef client = system.createClient("test", [this](const MidiNotification& n) {
        notifications.push_back(n);
        onMain.push_back(loop.isMainThread());
    });
    std::mutex mutex;
    std::vector<MidiPacketList> received;
    std::thread::id readerThread;
    MidiRef in = system.createInputPort(client, "in", [this](const MidiPacketList& list) {
        std::lock_guard lock(mutex);
        received.push_back(list);
        readerThread = std::this_thread::get_id();
    });
    MidiRef out = system.createOutputPort(client, "out");

    std::vector<MidiPacketList> takeReceived()
    {
        system.waitUntilDelivered();
        std::lock_guard lock(mutex);
        return std::exchange(received, {});
    }
};

}  // namespace

TEST(VirtualMidiSystem, ListsDevicesAnnouncesChangesOnTheMainQueueAndSendsReachTheDeviceWhole)
{
    Host host;
    VirtualMidiSystem& system = host.system;
    auto a = system.addDevice("A");
    auto b = system.addDevice("B", {{true, false}, {true, true}});
    ASSERT_EQ(system.numberOfDevices(), 2u);
    EXPECT_EQ((std::vector<MidiRef>{system.device(0), system.device(1), system.device(2)}), (std::vector<MidiRef>{a->device(), b->device(), kMidiNoRef}));
    ASSERT_EQ(system.numberOfEntities(b->device()), 2u);
    const MidiRef first = system.entity(b->device(), 0);
    EXPECT_NE(system.entitySource(first, 0), kMidiNoRef);
    EXPECT_EQ(std::pair(system.entityDestination(first, 0), system.entityDestination(system.entity(b->device(), 1), 0)),
              std::pair(kMidiNoRef, b->destination(1)));
    EXPECT_EQ(std::pair(system.stringProperty(a->device(), MidiProperty::Name), system.integerProperty(a->device(), MidiProperty::Offline)),
              std::pair(std::optional<std::string>("A"), std::optional<std::int64_t>(0)));
    // Unplugged devices leave the list; offline ones stay, flagged.
    a->setOffline(true);
    EXPECT_EQ(system.numberOfDevices(), 2u);
    EXPECT_EQ(system.integerProperty(a->device(), MidiProperty::Offline), 1);
    b->unplug();
    EXPECT_EQ(system.numberOfDevices(), 1u);
    EXPECT_FALSE(system.integerProperty(b->device(), MidiProperty::Offline).has_value());
    b->plugIn();
    EXPECT_EQ(system.device(1), b->device());  // same references when it returns

    EXPECT_TRUE(host.notifications.empty());  // nothing runs before the main queue does
    host.loop.runUntilIdle();
    const auto& heard = host.notifications;
    ASSERT_EQ(heard.size(), 5u);
    using Kind = MidiNotificationKind;
    EXPECT_EQ((std::vector<Kind>{heard[0].kind, heard[2].kind, heard[3].kind, heard[4].kind}),
              (std::vector<Kind>{Kind::ObjectAdded, Kind::PropertyChanged, Kind::ObjectRemoved, Kind::ObjectAdded}));
    EXPECT_EQ(std::tuple(heard[0].child, heard[0].childType, heard[2].object), std::tuple(a->device(), MidiObjectType::Device, a->device()));
    EXPECT_EQ(host.onMain, std::vector<bool>(5, true));
    // Sends reach the device side whole and in order, each completion told; a send from an input port or to
    // a source is refused, and one to an unplugged device goes nowhere.
    auto device = host.system.addDevice("D");
    std::vector<Message> got;
    device->setReceiver([&](const Message& message) {
        std::lock_guard lock(host.mutex);
        got.push_back(message);
    });
    std::atomic<int> completions{0};
    std::vector<Message> sent;
    for (std::uint8_t i = 0; i < 200; ++i) {
        sent.push_back({0xF0, 0x7D, i, 0xF7});
        ASSERT_TRUE(host.system.sendSysex(host.out, device->destination(), sent.back().data(), 4, [&] { ++completions; }));
    }
    host.system.waitUntilDelivered();
    EXPECT_EQ(got, sent);
    EXPECT_EQ(completions, 200);
    const std::uint8_t message[] = {0xF0, 0xF7};
    EXPECT_FALSE(host.system.sendSysex(host.out, device->source(), message, 2, nullptr));
    EXPECT_FALSE(host.system.sendSysex(host.in, device->destination(), message, 2, nullptr));
    device->unplug();
    host.system.sendSysex(host.out, device->destination(), message, 2, nullptr);
    host.system.waitUntilDelivered();
    EXPECT_EQ(got.size(), 200u);
}

// Device bytes arrive split as asked, on the input thread, only while a port is connected to the device's
// source: not before, not while offline, not after an unplug broke the connection, not after a disconnect.
// Paced, they still all arrive in order.
TEST(VirtualMidiSystem, DeviceBytesArriveSplitAsAskedOnTheInputThreadOnlyWhileConnected)
{
    Host host;
    auto device = host.system.addDevice("D");
    device->send({0xF0, 1, 2, 3, 0xF7});
    EXPECT_TRUE(host.takeReceived().empty());
    ASSERT_TRUE(host.system.connectSource(host.in, device->source()));
    device->send({0xF0, 1, 2, 3, 4, 0xF7}, {2, 5});
    device->sendPacketLists({{{0xF0, 9}, {0xF7}}});
    EXPECT_EQ(host.takeReceived(), (std::vector<MidiPacketList>{{{0xF0, 1}}, {{2, 3, 4}}, {{0xF7}}, {{0xF0, 9}, {0xF7}}}));
    EXPECT_NE(host.readerThread, std::this_thread::get_id());
    device->setOffline(true);
    device->send({0xF0, 0xF7});
    EXPECT_TRUE(host.takeReceived().empty());
    device->setOffline(false);
    device->unplug();
    device->plugIn();  // nothing reconnects by itself
    device->send({0xF0, 0xF7});
    EXPECT_TRUE(host.takeReceived().empty());
    ASSERT_TRUE(host.system.connectSource(host.in, device->source()));
    device->setPacing({1'000'000.0, std::chrono::microseconds(100)});
    for (std::uint8_t i = 0; i < 20; ++i) device->send({0xF0, i, 0xF7}, {1});
    const auto lists = host.takeReceived();
    ASSERT_EQ(lists.size(), 40u);
    for (std::uint8_t i = 0; i < 20; ++i) EXPECT_EQ(lists[2 * i + 1][0][0], i);
    ASSERT_TRUE(host.system.disconnectSource(host.in, device->source()));
    device->send({0xF0, 0xF7});
    EXPECT_TRUE(host.takeReceived().empty());
}

// While a port's read procedure still runs, whatever it uses must outlive the port: disposing of it waits.
TEST(VirtualMidiSystem, DisposingAnInputPortWaitsForAReadUnderWay)
{
    Host host;
    auto device = host.system.addDevice("D");
    std::promise<void> entered, release;
    auto releaseFuture = release.get_future();
    const MidiRef slow = host.system.createInputPort(host.client, "slow", [&](const MidiPacketList&) {
        entered.set_value();
        releaseFuture.wait();
    });
    ASSERT_TRUE(host.system.connectSource(slow, device->source()));
    device->send({0xF0, 0xF7});
    entered.get_future().wait();
    std::atomic<bool> disposed{false};
    std::thread owner([&] { host.system.disposePort(slow), disposed = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(disposed.load());
    release.set_value();
    owner.join();
    EXPECT_TRUE(disposed.load());
    device->send({0xF0, 0xF7});
    host.system.waitUntilDelivered();
}

// A device side that posts an answer to the input thread and is still busy when the teardown begins: the
// input thread must outlive every task that can post to it.
TEST(VirtualMidiSystem, TearingDownWhileTheDeviceSideIsBusyStopsItBeforeTheInputThread)
{
    FakeClock clock;
    RunLoop loop{clock};
    Dispatch dispatch{loop, 1};
    auto system = std::make_unique<VirtualMidiSystem>(dispatch);
    const MidiRef out = system->createOutputPort(system->createClient("test", [](const MidiNotification&) {}), "out");
    auto device = system->addDevice("D");
    std::promise<void> entered, release;
    auto releaseFuture = release.get_future();
    device->setReceiver([&](const Message&) {
        entered.set_value();
        device->send({0xF0, 0x01, 0xF7});
        releaseFuture.wait();
    });
    const std::uint8_t request[] = {0xF0, 0x02, 0xF7};
    ASSERT_TRUE(system->sendSysex(out, device->destination(), request, sizeof request, nullptr));
    entered.get_future().wait();
    std::thread owner([&] { system.reset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release.set_value();
    owner.join();
    EXPECT_EQ(system, nullptr);
}

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
