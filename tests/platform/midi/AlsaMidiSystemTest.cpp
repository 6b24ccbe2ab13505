#include "platform/midi/AlsaMidiSystem.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "platform/dispatch/RunLoop.h"

using namespace platform;

namespace {

bool haveSequencer() { return access("/dev/snd/seq", R_OK | W_OK) == 0; }

struct Fixture { RunLoop loop; Dispatch dispatch{loop, 1}; };

}  // namespace

TEST(AlsaMidiSystem, WithoutSequencerListsNothingAndRefusesToSend)
{
    if (haveSequencer()) GTEST_SKIP() << "a sequencer exists here";
    Fixture fixture;
    const std::uint8_t message[] = {0xF0, 0xF7};
    for (int copy = 0; copy < 2; ++copy) {  // the second logs nothing more, and is as harmless
        AlsaMidiSystem system(fixture.dispatch);
        EXPECT_FALSE(system.isAvailable());
        const MidiRef client = system.createClient("c", [](const MidiNotification&) {});
        EXPECT_EQ(client, kMidiNoRef);
        EXPECT_EQ(system.createInputPort(client, "in", [](const MidiPacketList&) {}), kMidiNoRef);
        EXPECT_EQ(system.numberOfDevices(), 0u);
        EXPECT_EQ(system.device(0), kMidiNoRef);
        EXPECT_FALSE(system.sendSysex(1, 2, message, 2, nullptr));
    }
}

// With a sequencer: a second client plays the device, so listing, hot-plug, sending in chunks and
// receiving are exercised against the kernel.
TEST(AlsaMidiSystem, TalksToAnotherSequencerClient)
{
    if (!haveSequencer()) GTEST_SKIP() << "no /dev/snd/seq on this machine";
    Fixture fixture;
    AlsaMidiSystem system(fixture.dispatch);
    ASSERT_TRUE(system.isAvailable());
    std::vector<MidiNotification> notifications;
    const MidiRef client = system.createClient("host", [&](const MidiNotification& n) { notifications.push_back(n); });
    std::mutex mutex;
    std::vector<std::uint8_t> hostHeard;
    const MidiRef in = system.createInputPort(client, "in", [&](const MidiPacketList& list) {
        std::lock_guard lock(mutex);
        for (const auto& packet : list) hostHeard.insert(hostHeard.end(), packet.begin(), packet.end());
    });
    const MidiRef out = system.createOutputPort(client, "out");

    snd_seq_t* peer = nullptr;
    ASSERT_GE(snd_seq_open(&peer, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
    snd_seq_set_client_name(peer, "rig-test-device");
    const int peerPort = snd_seq_create_simple_port(
        peer, "io", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC);
    ASSERT_GE(peerPort, 0);
    ASSERT_TRUE(fixture.loop.runUntil([&] { return !notifications.empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(notifications[0].kind, MidiNotificationKind::ObjectAdded);
    const MidiRef device = notifications[0].child;
    std::vector<MidiRef> listed;
    for (std::size_t i = 0; i < system.numberOfDevices(); ++i) listed.push_back(system.device(i));
    ASSERT_NE(std::find(listed.begin(), listed.end(), device), listed.end());
    EXPECT_EQ(system.stringProperty(device, MidiProperty::Name), "rig-test-device");
    ASSERT_EQ(system.numberOfEntities(device), 1u);
    const MidiRef entity = system.entity(device, 0);
    const MidiRef source = system.entitySource(entity, 0);
    const MidiRef destination = system.entityDestination(entity, 0);
    ASSERT_NE(source, kMidiNoRef);
    ASSERT_NE(destination, kMidiNoRef);
    // Host to device: a full-size message leaves in chunks and arrives whole.
    std::vector<std::uint8_t> message(1023, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;
    ASSERT_TRUE(system.sendSysex(out, destination, message.data(), message.size(), nullptr));
    std::vector<std::uint8_t> peerHeard;
    snd_seq_nonblock(peer, 1);
    for (int tries = 0; tries < 500 && peerHeard.size() < message.size(); ++tries) {
        snd_seq_event_t* event = nullptr;
        if (snd_seq_event_input(peer, &event) < 0 || event == nullptr) {
            usleep(10000);
            continue;
        }
        if (event->type != SND_SEQ_EVENT_SYSEX) continue;
        const auto* data = static_cast<const std::uint8_t*>(event->data.ext.ptr);
        peerHeard.insert(peerHeard.end(), data, data + event->data.ext.len);
    }
    EXPECT_EQ(peerHeard, message);
    // Device to host.
    ASSERT_TRUE(system.connectSource(in, source));
    std::uint8_t reply[] = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0xF7};
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_source(&event, peerPort);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    snd_seq_ev_set_sysex(&event, sizeof reply, reply);
    snd_seq_event_output_direct(peer, &event);
    ASSERT_TRUE(fixture.loop.runUntil([&] {
        std::lock_guard lock(mutex);
        return hostHeard.size() >= sizeof reply;
    }, std::chrono::seconds(5)));
    EXPECT_EQ(hostHeard, std::vector<std::uint8_t>(reply, reply + sizeof reply));
    snd_seq_close(peer);
    ASSERT_TRUE(fixture.loop.runUntil([&] {
        return notifications.back().kind == MidiNotificationKind::ObjectRemoved && notifications.back().child == device;
    }, std::chrono::seconds(5)));
}
