#pragma once

#include <memory>

#include "device/transport/CMidiDevice.h"
#include "device/formats/MIDIMessageUtil.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "support/files/TemporaryFolder.h"
#include "platform/midi/VirtualMidiSystem.h"

// A transport over the virtual backend with a test-driven main queue and a scratch data root.
struct TransportFixture {
    platform::FakeClock clock;
    platform::RunLoop loop{clock};
    platform::Dispatch dispatch{loop, 1};
    platform::VirtualMidiSystem system{dispatch};
    platform::LocalFileManager files;
    TemporaryFolder root;
    std::unique_ptr<CMidiDevice> device = std::make_unique<CMidiDevice>(system, dispatch, files, root.path());

    // Runs the main queue until the condition holds (replies arrive on other threads).
    template <typename Predicate>
    bool waitFor(Predicate done)
    {
        return loop.runUntil(done, std::chrono::seconds(10));
    }
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
    const Bytes c = fiveByte(corruptCrc ? crc ^ 1u : crc);
    body.insert(body.end(), c.begin(), c.end());
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
    const Bytes c = fiveByte(corruptCrc ? ~crc : crc);
    body.insert(body.end(), c.begin(), c.end());
    return fileSystem(0x22, body);
}

}  // namespace reply
