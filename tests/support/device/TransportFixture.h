#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/transport/CMidiDevice.h"
#include "device/formats/MIDIMessageUtil.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "support/files/TemporaryFolder.h"
#include "platform/midi/VirtualMidiSystem.h"

inline constexpr std::uint8_t kIdentityRequest[] = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};

// Counts plug-ins and removals and whether one came off the main queue, and keeps the patches announced.
struct TransportListener : MidiDeviceDelegate {
    platform::RunLoop* loop = nullptr;
    int added = 0;
    int removed = 0;
    bool offMain = false;
    std::vector<PatchObject> patches;
    void getANewDevicePlugIn() override { ++added, offMain |= !loop->isMainThread(); }
    void notifyRemoveCurrentConnectedDevice() override { ++removed, offMain |= !loop->isMainThread(); }
    void notifyPatchDataChange(const PatchObject& patch) override { patches.push_back(patch); }
};

// A transport over the virtual backend with a test-driven main queue on a fake clock and a scratch data root.
struct TransportFixture {
    explicit TransportFixture(unsigned threadsPerPriority = 2) : dispatch(loop, threadsPerPriority) {}

    // Runs the main queue until the condition holds (replies arrive on other threads).
    template <typename Predicate>
    bool waitFor(Predicate done)
    {
        return loop.runUntil(done, std::chrono::seconds(10));
    }
    std::shared_ptr<TransportListener> listen()
    {
        auto listener = std::make_shared<TransportListener>();
        listener->loop = &loop;
        transport.setMidiDeviceDelegate(listener);
        return listener;
    }
    // Sends the identity request and waits for the answer; the identity bytes, or nothing.
    std::optional<Bytes> askIdentity()
    {
        auto result = std::make_shared<std::optional<Bytes>>();
        auto done = std::make_shared<std::atomic<bool>>(false);
        const auto handler = [result, done](bool, const Bytes& id, const Bytes&) { *result = id, *done = true; };
        if (!transport.registerIndentityReplyMessage(handler, kIdentityRequest, sizeof kIdentityRequest) ||
            !waitFor([&] { return done->load(); }))
            return std::nullopt;
        return *result;
    }

    platform::FakeClock clock;
    platform::RunLoop loop{clock};
    platform::Dispatch dispatch;
    platform::VirtualMidiSystem midi{dispatch};
    platform::LocalFileManager files;
    TemporaryFolder folder;
    std::string root = folder.path();
    CMidiDevice transport{midi, dispatch, files, root};
};

// Replies as the device words them, F0 and F7 stripped (what the recogniser sees).
namespace reply {

inline Bytes maker(std::uint8_t function, const Bytes& body)
{
    Bytes b{0x7D, 0x00, 0x70, function};
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes fiveByte(std::uint32_t value)
{
    Bytes out;
    Convert32to7(value, out);
    return out;
}

inline Bytes stream(const Bytes& bytes) { return MIDIMessageUtil::convert87Type2(bytes.data(), std::int64_t(bytes.size())); }

inline Bytes patchData(std::uint8_t group, std::uint8_t bank, std::uint8_t patch, const Bytes& data,
                       std::optional<std::uint16_t> announced = std::nullopt, bool corruptCrc = false)
{
    Bytes body;
    for (std::uint8_t v : {group, bank, patch}) {
        const Bytes s = stream({v});
        body.insert(body.end(), s.begin(), s.end());
    }
    const std::uint16_t size = announced.value_or(static_cast<std::uint16_t>(data.size()));
    body.push_back(size & 0x7F);
    body.push_back((size >> 7) & 0x7F);
    Convert87(body, data.data(), data.size());
    const std::uint32_t crc = static_cast<std::uint32_t>(CalcCrc32(data.data(), std::int64_t(data.size())));
    Convert32to7(corruptCrc ? crc ^ 1u : crc, body);
    return maker(0x45, body);
}

inline Bytes fileSystem(std::uint8_t sub, const Bytes& body)
{
    Bytes b{0x04, sub, 0, 0, 0, 0};
    b.insert(b.end(), body.begin(), body.end());
    return maker(0x60, b);
}

inline Bytes readData(const Bytes& data, bool corruptCrc = false)
{
    Bytes body;
    Convert87(body, data.data(), data.size());
    const std::uint32_t crc = static_cast<std::uint32_t>(CalcCrc32(data.data(), std::int64_t(data.size())));
    Convert32to7(corruptCrc ? ~crc : crc, body);
    return fileSystem(0x22, body);
}

}  // namespace reply
