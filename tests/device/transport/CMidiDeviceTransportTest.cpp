#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "support/device/SimulatedDevice.h"
#include "support/device/TransportFixture.h"

namespace {

// One pool thread per priority, so a task per priority holds every shared pool.
struct Transport : ::testing::Test, TransportFixture {
    Transport() : TransportFixture(1) {}
    std::shared_ptr<TransportListener> listener = listen();
    void run() { loop.runUntilIdle(); }
};

TEST_F(Transport, ScanSkipsUnusableAndOfflineDevicesAndRestartsAfterTheEnd)
{
    auto sourceOnly = midi.addDevice("source only", {{true, false}});
    sim::SimulatedDevice offline(midi, "offline");
    offline.setOffline(true);
    sim::SimulatedDevice good(midi, "good");
    EXPECT_EQ(transport.getCurrentDevice(), CMidiDevice::kNoDevice);
    EXPECT_FALSE(transport.getDeviceName().has_value());

    ASSERT_TRUE(transport.scanDevicesAndConnect());
    EXPECT_EQ(transport.getCurrentDevice(), good.deviceRef());
    EXPECT_EQ(transport.currentDeviceConnect(), 3u);
    EXPECT_EQ(transport.getDeviceName(), "good");
    EXPECT_EQ(midi.integerProperty(good.port().source(), platform::MidiProperty::MaxSysExSpeed), 50000000);
    EXPECT_EQ(askIdentity(), (Bytes{0x00, 0x70, 0x00, 0x01}));

    // The cursor stands after the last device: this scan answers NO without wrapping, the next starts over.
    EXPECT_FALSE(transport.scanDevicesAndConnect());
    EXPECT_EQ(transport.currentDeviceConnect(), 0u);
    EXPECT_TRUE(transport.scanDevicesAndConnect());
    // Restarted, a scan finds the same device again at once.
    transport.restartScan();
    EXPECT_EQ(transport.currentDeviceConnect(), 0u);
    EXPECT_TRUE(transport.scanDevicesAndConnect());
    EXPECT_EQ(transport.getCurrentDevice(), good.deviceRef());
    EXPECT_FALSE(transport.connectDevice(sourceOnly->device()));
}

TEST_F(Transport, RepliesReachTheirHandlerOffTheMainThreadAndPastBusyPools)
{
    sim::SimulatedDevice simulated(midi);
    ASSERT_TRUE(transport.scanDevicesAndConnect());
    const auto ask = [&](CMidiDevice::IDReplyBlock handler) {
        return transport.registerIndentityReplyMessage(std::move(handler), kIdentityRequest, sizeof kIdentityRequest);
    };
    std::atomic<bool> done{false};
    std::thread::id handlerThread;
    ASSERT_TRUE(ask([&](bool received, const Bytes&, const Bytes& version) {
        EXPECT_TRUE(received);
        EXPECT_EQ(version, (Bytes{'1', '.', '2', '0'}));
        handlerThread = std::this_thread::get_id();
        done = true;
    }));
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    EXPECT_NE(handlerThread, std::this_thread::get_id());

    // A silent device leaves the request pending until someone clears it; refused while pending, nothing
    // more is sent (checked here, where no reply can free the kind first).
    simulated.setFaults({{{sim::RequestKey::identity(), 1}}});
    ASSERT_TRUE(ask([](bool, const Bytes&, const Bytes&) { FAIL(); }));
    midi.waitUntilDelivered();
    EXPECT_TRUE(transport.isPending(CMidiDevice::ReplyKind::Identity));
    EXPECT_FALSE(ask([](bool, const Bytes&, const Bytes&) {}));
    midi.waitUntilDelivered();
    EXPECT_EQ(simulated.requestCount(sim::RequestKey::identity()), 2u);
    transport.clearBufferBlockWaiting();
    EXPECT_TRUE(askIdentity().has_value());

    // Every shared pool busy with blocking work (a download, an unpack): replies still get through.
    struct Release {
        std::promise<void> promise;
        ~Release() { promise.set_value(); }  // also when an assertion returns early
    } release;
    const std::shared_future<void> gate = release.promise.get_future().share();
    std::atomic<int> blocked{0};
    for (const auto priority : {platform::Priority::High, platform::Priority::Default, platform::Priority::Low,
                                platform::Priority::Background})
        dispatch.global(priority).async([gate, &blocked] { ++blocked, gate.wait(); });
    ASSERT_TRUE(waitFor([&] { return blocked.load() == 4; }));
    EXPECT_TRUE(askIdentity().has_value());
}

TEST_F(Transport, SendsGoOutWholeAndInOrderAndOverlongOnesNotAtAll)
{
    sim::SimulatedDevice simulated(midi);
    simulated.removeHandler(sim::RequestKey::identity());
    transport.sendSysExMessage(kIdentityRequest, sizeof kIdentityRequest);  // not connected: nothing
    ASSERT_TRUE(transport.scanDevicesAndConnect());
    for (std::uint8_t i = 0; i < 100; ++i) {
        const std::uint8_t message[] = {0xF0, 0x7D, 0x00, 0x70, 0x01, i, 0xF7};
        transport.sendSysExMessage(message, sizeof message);
    }
    Bytes largest(1023, 0x01), tooLarge(1024, 0x02);
    largest.front() = tooLarge.front() = 0xF0;
    largest.back() = tooLarge.back() = 0xF7;
    transport.sendSysExMessage(tooLarge.data(), std::int64_t(tooLarge.size()));
    transport.sendSysExMessage(largest.data(), std::int64_t(largest.size()));
    midi.waitUntilDelivered();
    const auto heard = simulated.requests();
    ASSERT_EQ(heard.size(), 101u);
    for (std::uint8_t i = 0; i < 100; ++i) EXPECT_EQ(heard[i][5], i);
    EXPECT_EQ(heard[100], largest);
}

TEST_F(Transport, ArrivalsAndRemovalsAreAnnouncedOnTheMainQueue)
{
    sim::SimulatedDevice first(midi, "first");
    run();
    EXPECT_EQ(listener->added, 1);
    first.setOffline(true);   // not connected: an offline device that is not current tells nobody
    first.setOffline(false);  // back online: counts as an arrival, but it is the one already announced
    run();
    EXPECT_EQ(listener->added, 1);

    ASSERT_TRUE(transport.connectNewDeviceDetected());
    EXPECT_EQ(transport.getCurrentDevice(), first.deviceRef());
    sim::SimulatedDevice second(midi, "second");
    run();
    EXPECT_EQ(listener->added, 2);
    second.unplug();  // not the current device
    run();
    EXPECT_EQ(listener->removed, 0);

    first.setOffline(true);
    run();
    EXPECT_EQ(listener->removed, 1);
    EXPECT_EQ(transport.newDevicePlugin(), CMidiDevice::kNoDevice);
    EXPECT_FALSE(transport.checkConnectCurrentDevice());
    EXPECT_EQ(transport.getCurrentDevice(), CMidiDevice::kNoDevice);
    EXPECT_FALSE(listener->offMain);
}

// Unplugged devices leave the list here rather than showing as offline; one coming back is announced
// again, whether it was the current device or one that never connected.
TEST_F(Transport, AnUnpluggedDeviceIsGoneAndComesBackAnnounced)
{
    auto unusable = midi.addDevice("no destination", {{true, false}});
    run();
    EXPECT_FALSE(transport.connectNewDeviceDetected());
    unusable->unplug();
    unusable->plugIn();
    run();
    EXPECT_EQ(listener->added, 2);

    sim::SimulatedDevice simulated(midi);
    run();
    ASSERT_TRUE(transport.connectNewDeviceDetected());
    EXPECT_TRUE(transport.checkConnectCurrentDevice());
    simulated.unplug();
    run();
    EXPECT_EQ(listener->removed, 1);
    EXPECT_FALSE(transport.checkConnectCurrentDevice());
    EXPECT_EQ(transport.getCurrentDevice(), CMidiDevice::kNoDevice);
    simulated.plugIn();
    run();
    EXPECT_EQ(listener->added, 4);
}

TEST_F(Transport, ConnectingAnotherDeviceLetsGoOfTheFirstSource)
{
    sim::SimulatedDevice first(midi, "first");
    sim::SimulatedDevice second(midi, "second");
    ASSERT_TRUE(transport.connectDevice(first.deviceRef()));
    ASSERT_TRUE(transport.connectDevice(second.deviceRef()));
    // An open message from the first device must not be finished by bytes of the second.
    first.port().send({0xF0, 0x7D, 0x00, 0x70});
    second.port().send({0x00, 0x05, 0xF7});
    std::atomic<int> code{-1};
    transport.registerRespondenceMessage([&](bool, std::int32_t c) { code = c; });
    second.reply(second.makerMessage(0x00, {0x07}));
    ASSERT_TRUE(waitFor([&] { return code.load() != -1; }));
    EXPECT_EQ(code.load(), 7);

    transport.disconnectCurrentDeviceInMidiDevice();
    EXPECT_EQ(transport.midiIn().source(), platform::kMidiNoRef);
    EXPECT_EQ(transport.midiOut().destination(), platform::kMidiNoRef);
}

}  // namespace
