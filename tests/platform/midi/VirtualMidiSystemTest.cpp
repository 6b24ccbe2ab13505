#include "platform/midi/VirtualMidiSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "platform/dispatch/RunLoop.h"

using namespace platform;

namespace {

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

TEST(VirtualMidiSystem, ListsDevicesWithEntitiesAndAnnouncesChangesOnTheMainQueue)
{
    Host host;
    auto a = host.system.addDevice("A");
    auto b = host.system.addDevice("B", {{true, false}, {true, true}});
    ASSERT_EQ(host.system.numberOfDevices(), 2u);
    EXPECT_EQ(host.system.device(0), a->device());
    EXPECT_EQ(host.system.device(1), b->device());
    EXPECT_EQ(host.system.device(2), kMidiNoRef);
    ASSERT_EQ(host.system.numberOfEntities(b->device()), 2u);
    const MidiRef first = host.system.entity(b->device(), 0);
    EXPECT_NE(host.system.entitySource(first, 0), kMidiNoRef);
    EXPECT_EQ(host.system.entityDestination(first, 0), kMidiNoRef);
    EXPECT_EQ(host.system.entityDestination(host.system.entity(b->device(), 1), 0), b->destination(1));
    EXPECT_EQ(host.system.stringProperty(a->device(), MidiProperty::Name), "A");
    EXPECT_EQ(host.system.integerProperty(a->device(), MidiProperty::Offline), 0);

    // Unplugged devices leave the list; offline ones stay, flagged.
    a->setOffline(true);
    EXPECT_EQ(host.system.numberOfDevices(), 2u);
    EXPECT_EQ(host.system.integerProperty(a->device(), MidiProperty::Offline), 1);
    b->unplug();
    EXPECT_EQ(host.system.numberOfDevices(), 1u);
    EXPECT_FALSE(host.system.integerProperty(b->device(), MidiProperty::Offline).has_value());
    b->plugIn();
    EXPECT_EQ(host.system.device(1), b->device());  // same references when it returns

    EXPECT_TRUE(host.notifications.empty());  // nothing runs before the main queue does
    host.loop.runUntilIdle();
    ASSERT_EQ(host.notifications.size(), 5u);
    EXPECT_EQ(host.notifications[0].kind, MidiNotificationKind::ObjectAdded);
    EXPECT_EQ(host.notifications[0].child, a->device());
    EXPECT_EQ(host.notifications[0].childType, MidiObjectType::Device);
    EXPECT_EQ(host.notifications[2].kind, MidiNotificationKind::PropertyChanged);
    EXPECT_EQ(host.notifications[2].object, a->device());
    EXPECT_EQ(host.notifications[3].kind, MidiNotificationKind::ObjectRemoved);
    EXPECT_EQ(host.notifications[4].kind, MidiNotificationKind::ObjectAdded);
    for (bool main : host.onMain) EXPECT_TRUE(main);
}

TEST(VirtualMidiSystem, SendsReachTheDeviceSideWholeAndInOrder)
{
    Host host;
    auto device = host.system.addDevice("D");
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> heard;
    device->setReceiver([&](const std::vector<std::uint8_t>& message) {
        std::lock_guard lock(mutex);
        heard.push_back(message);
    });
    std::atomic<int> completions{0};
    for (std::uint8_t i = 0; i < 200; ++i) {
        const std::uint8_t message[] = {0xF0, 0x7D, i, 0xF7};
        ASSERT_TRUE(host.system.sendSysex(host.out, device->destination(), message, sizeof message,
                                          [&] { ++completions; }));
    }
    host.system.waitUntilDelivered();
    ASSERT_EQ(heard.size(), 200u);
    for (std::uint8_t i = 0; i < 200; ++i) EXPECT_EQ(heard[i][2], i);
    EXPECT_EQ(completions, 200);

    const std::uint8_t message[] = {0xF0, 0xF7};
    EXPECT_FALSE(host.system.sendSysex(host.out, device->source(), message, 2, nullptr));
    EXPECT_FALSE(host.system.sendSysex(host.in, device->destination(), message, 2, nullptr));
    device->unplug();
    host.system.sendSysex(host.out, device->destination(), message, 2, nullptr);
    host.system.waitUntilDelivered();
    EXPECT_EQ(heard.size(), 200u);
}

TEST(VirtualMidiSystem, DeviceBytesArriveSplitAsAskedOnTheInputThreadOnlyWhileConnected)
{
    Host host;
    auto device = host.system.addDevice("D");
    device->send({0xF0, 1, 2, 3, 0xF7});
    EXPECT_TRUE(host.takeReceived().empty());  // no port connected yet

    ASSERT_TRUE(host.system.connectSource(host.in, device->source()));
    device->send({0xF0, 1, 2, 3, 4, 0xF7}, {2, 5});
    device->sendPacketLists({{{0xF0, 9}, {0xF7}}});
    auto lists = host.takeReceived();
    ASSERT_EQ(lists.size(), 4u);
    EXPECT_EQ(lists[0], (MidiPacketList{{0xF0, 1}}));
    EXPECT_EQ(lists[1], (MidiPacketList{{2, 3, 4}}));
    EXPECT_EQ(lists[2], (MidiPacketList{{0xF7}}));
    EXPECT_EQ(lists[3], (MidiPacketList{{0xF0, 9}, {0xF7}}));
    EXPECT_NE(host.readerThread, std::this_thread::get_id());

    device->setOffline(true);
    device->send({0xF0, 0xF7});
    EXPECT_TRUE(host.takeReceived().empty());
    device->setOffline(false);
    device->unplug();
    device->plugIn();  // unplugging broke the connection; nothing reconnects by itself
    device->send({0xF0, 0xF7});
    EXPECT_TRUE(host.takeReceived().empty());
    ASSERT_TRUE(host.system.connectSource(host.in, device->source()));
    ASSERT_TRUE(host.system.disconnectSource(host.in, device->source()));
    device->send({0xF0, 0xF7});
    EXPECT_TRUE(host.takeReceived().empty());
}

TEST(VirtualMidiSystem, PacingStillDeliversEverythingInOrder)
{
    Host host;
    auto device = host.system.addDevice("D");
    host.system.connectSource(host.in, device->source());
    device->setPacing({1'000'000.0, std::chrono::microseconds(100)});
    for (std::uint8_t i = 0; i < 20; ++i) device->send({0xF0, i, 0xF7}, {1});
    const auto lists = host.takeReceived();
    ASSERT_EQ(lists.size(), 40u);
    for (std::uint8_t i = 0; i < 20; ++i) EXPECT_EQ(lists[2 * i + 1][0][0], i);
}

TEST(VirtualMidiSystem, DisposingAnInputPortWaitsForAReadUnderWay)
{
    Host host;
    auto device = host.system.addDevice("D");
    std::promise<void> entered, release;
    auto enteredFuture = entered.get_future();
    auto releaseFuture = release.get_future();
    const MidiRef slow = host.system.createInputPort(host.client, "slow", [&](const MidiPacketList&) {
        entered.set_value();
        releaseFuture.wait();
    });
    ASSERT_TRUE(host.system.connectSource(slow, device->source()));
    device->send({0xF0, 0xF7});
    enteredFuture.wait();
    std::atomic<bool> disposed{false};
    std::thread owner([&] {
        host.system.disposePort(slow);
        disposed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The read procedure is still running: whatever it uses must outlive the port.
    EXPECT_FALSE(disposed.load());
    release.set_value();
    owner.join();
    EXPECT_TRUE(disposed.load());
    device->send({0xF0, 0xF7});
    host.system.waitUntilDelivered();
}

TEST(VirtualMidiSystem, TearingDownWhileTheDeviceSideIsBusyStopsItBeforeTheInputThread)
{
    FakeClock clock;
    RunLoop loop{clock};
    Dispatch dispatch{loop, 1};
    auto system = std::make_unique<VirtualMidiSystem>(dispatch);
    const MidiRef client = system->createClient("test", [](const MidiNotification&) {});
    const MidiRef out = system->createOutputPort(client, "out");
    auto device = system->addDevice("D");
    std::promise<void> entered, release;
    auto releaseFuture = release.get_future();
    device->setReceiver([&](const std::vector<std::uint8_t>&) {
        // Posts an answer to the input thread and is still busy when the teardown begins: the input
        // thread must outlive every task that can post to it.
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
