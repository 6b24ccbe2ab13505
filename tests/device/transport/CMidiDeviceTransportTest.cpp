#include <gtest/gtest.h>

#include "support/device/ConnectedTransport.h"

using namespace support::connectedtransport;

TEST(Transport, ScanSkipsUnusableAndOfflineDevicesAndRestartsAfterTheEnd)
{
    Connected f;
    auto sourceOnly = f.system.addDevice("source only", {{true, false}});
    sim::SimulatedDevice offline(f.system, "offline");
    offline.setOffline(true);
    sim::SimulatedDevice good(f.system, "good");
    EXPECT_EQ(f.device->getCurrentDevice(), CMidiDevice::kNoDevice);
    EXPECT_FALSE(f.device->getDeviceName().has_value());

    ASSERT_TRUE(f.device->scanDevicesAndConnect());
    EXPECT_EQ(f.device->getCurrentDevice(), good.deviceRef());
    EXPECT_EQ(f.device->currentDeviceConnect(), 3u);
    EXPECT_EQ(f.device->getDeviceName(), "good");
    EXPECT_EQ(f.system.integerProperty(good.port().source(), platform::MidiProperty::MaxSysExSpeed), 50000000);
    EXPECT_EQ(f.askIdentity(), (Bytes{0x00, 0x70, 0x00, 0x01}));

    // The cursor stands after the last device: this scan answers NO without wrapping, the next starts over.
    EXPECT_FALSE(f.device->scanDevicesAndConnect());
    EXPECT_EQ(f.device->currentDeviceConnect(), 0u);
    EXPECT_TRUE(f.device->scanDevicesAndConnect());
    // Restarted, a scan finds the same device again at once.
    f.device->restartScan();
    EXPECT_EQ(f.device->currentDeviceConnect(), 0u);
    EXPECT_TRUE(f.device->scanDevicesAndConnect());
    EXPECT_EQ(f.device->getCurrentDevice(), good.deviceRef());
    EXPECT_FALSE(f.device->connectDevice(sourceOnly->device()));
}

TEST(Transport, RepliesReachTheirHandlerOffTheMainThreadAndPastBusyPools)
{
    Connected f;
    sim::SimulatedDevice simulated(f.system);
    sim::SimulatedDevice::Faults faults;
    ASSERT_TRUE(f.device->scanDevicesAndConnect());

    std::atomic<bool> done{false};
    std::thread::id handlerThread;
    ASSERT_TRUE(f.device->registerIndentityReplyMessage([&](bool received, const Bytes&, const Bytes& version) {
        EXPECT_TRUE(received);
        EXPECT_EQ(version, (Bytes{'1', '.', '2', '0'}));
        handlerThread = std::this_thread::get_id();
        done = true;
    }, kIdentityRequest, sizeof kIdentityRequest));
    ASSERT_TRUE(f.waitFor([&] { return done.load(); }));
    EXPECT_NE(handlerThread, std::this_thread::get_id());
    f.system.waitUntilDelivered();
    EXPECT_EQ(simulated.requestCount(sim::RequestKey::identity()), 1u);

    // A silent device leaves the request pending until someone clears it.
    faults.silentFor[sim::RequestKey::identity()] = 1;
    simulated.setFaults(faults);
    ASSERT_TRUE(f.device->registerIndentityReplyMessage([](bool, const Bytes&, const Bytes&) { FAIL(); },
                                                        kIdentityRequest, sizeof kIdentityRequest));
    f.system.waitUntilDelivered();
    EXPECT_TRUE(f.device->isPending(CMidiDevice::ReplyKind::Identity));
    // Refused while pending: nothing more is sent. (Checked here, where no reply can free the kind first.)
    EXPECT_FALSE(f.device->registerIndentityReplyMessage([](bool, const Bytes&, const Bytes&) {}, kIdentityRequest,
                                                         sizeof kIdentityRequest));
    f.system.waitUntilDelivered();
    EXPECT_EQ(simulated.requestCount(sim::RequestKey::identity()), 2u);
    f.device->clearBufferBlockWaiting();
    EXPECT_TRUE(f.askIdentity().has_value());

    // Every shared pool busy with blocking work (a download, an unpack): replies still get through.
    struct Release {
        std::promise<void> promise;
        ~Release() { promise.set_value(); }  // also when an assertion returns early
    } release;
    const std::shared_future<void> gate = release.promise.get_future().share();
    std::atomic<int> blocked{0};
    const auto priorities = {platform::Priority::High, platform::Priority::Default, platform::Priority::Low,
                             platform::Priority::Background};
    for (const platform::Priority priority : priorities)
        f.dispatch.global(priority).async([gate, &blocked] {
            ++blocked;
            gate.wait();
        });
    ASSERT_TRUE(f.waitFor([&] { return blocked.load() == 4; }));
    EXPECT_TRUE(f.askIdentity().has_value());
}

TEST(Transport, SendsGoOutWholeAndInOrderAndOverlongOnesNotAtAll)
{
    Connected f;
    sim::SimulatedDevice simulated(f.system);
    simulated.removeHandler(sim::RequestKey::identity());
    f.device->sendSysExMessage(kIdentityRequest, sizeof kIdentityRequest);  // not connected: nothing
    ASSERT_TRUE(f.device->scanDevicesAndConnect());
    for (std::uint8_t i = 0; i < 100; ++i) {
        const std::uint8_t message[] = {0xF0, 0x7D, 0x00, 0x70, 0x01, i, 0xF7};
        f.device->sendSysExMessage(message, sizeof message);
    }
    Bytes largest(1023, 0x01), tooLarge(1024, 0x02);
    largest.front() = tooLarge.front() = 0xF0;
    largest.back() = tooLarge.back() = 0xF7;
    f.device->sendSysExMessage(tooLarge.data(), std::int64_t(tooLarge.size()));
    f.device->sendSysExMessage(largest.data(), std::int64_t(largest.size()));
    f.system.waitUntilDelivered();
    const auto heard = simulated.requests();
    ASSERT_EQ(heard.size(), 101u);
    for (std::uint8_t i = 0; i < 100; ++i) EXPECT_EQ(heard[i][5], i);
    EXPECT_EQ(heard[100], largest);
}

TEST(Transport, ArrivalsAndRemovalsAreAnnouncedOnTheMainQueue)
{
    Connected f;
    sim::SimulatedDevice first(f.system, "first");
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->added, 1);
    first.setOffline(true);  // not connected: an offline device that is not current tells nobody
    first.setOffline(false); // back online: counts as an arrival, but it is the one already announced
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->added, 1);

    ASSERT_TRUE(f.device->connectNewDeviceDetected());
    EXPECT_EQ(f.device->getCurrentDevice(), first.deviceRef());
    sim::SimulatedDevice second(f.system, "second");
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->added, 2);
    second.unplug();  // not the current device
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->removed, 0);

    first.setOffline(true);
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->removed, 1);
    EXPECT_EQ(f.device->newDevicePlugin(), CMidiDevice::kNoDevice);
    EXPECT_FALSE(f.device->checkConnectCurrentDevice());
    EXPECT_EQ(f.device->getCurrentDevice(), CMidiDevice::kNoDevice);
    EXPECT_FALSE(f.listener->offMain);
}

TEST(Transport, AnUnpluggedCurrentDeviceIsGoneAndComesBackAnnounced)
{
    Connected f;
    sim::SimulatedDevice simulated(f.system);
    f.loop.runUntilIdle();
    ASSERT_TRUE(f.device->connectNewDeviceDetected());
    EXPECT_TRUE(f.device->checkConnectCurrentDevice());
    simulated.unplug();
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->removed, 1);
    // Unplugged devices leave the list here rather than showing as offline.
    EXPECT_FALSE(f.device->checkConnectCurrentDevice());
    EXPECT_EQ(f.device->getCurrentDevice(), CMidiDevice::kNoDevice);
    simulated.plugIn();
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->added, 2);
}

TEST(Transport, ADeviceThatNeverConnectedIsAnnouncedAgainWhenItReturns)
{
    Connected f;
    auto unusable = f.system.addDevice("no destination", {{true, false}});
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->added, 1);
    EXPECT_FALSE(f.device->connectNewDeviceDetected());
    unusable->unplug();
    unusable->plugIn();
    f.loop.runUntilIdle();
    EXPECT_EQ(f.listener->added, 2);
}

TEST(Transport, ConnectingAnotherDeviceLetsGoOfTheFirstSource)
{
    Connected f;
    sim::SimulatedDevice first(f.system, "first");
    sim::SimulatedDevice second(f.system, "second");
    ASSERT_TRUE(f.device->connectDevice(first.deviceRef()));
    ASSERT_TRUE(f.device->connectDevice(second.deviceRef()));
    // An open message from the first device must not be finished by bytes of the second.
    first.port().send({0xF0, 0x7D, 0x00, 0x70});
    second.port().send({0x00, 0x05, 0xF7});
    std::atomic<int> code{-1};
    f.device->registerRespondenceMessage([&](bool, std::int32_t c) { code = c; });
    second.reply(second.makerMessage(0x00, {0x07}));
    ASSERT_TRUE(f.waitFor([&] { return code.load() != -1; }));
    EXPECT_EQ(code.load(), 7);

    f.device->disconnectCurrentDeviceInMidiDevice();
    EXPECT_EQ(f.device->midiIn().source(), platform::kMidiNoRef);
    EXPECT_EQ(f.device->midiOut().destination(), platform::kMidiNoRef);
}

