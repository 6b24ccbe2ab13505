#pragma once

#include <gtest/gtest.h>
#include <atomic>
#include <future>
#include <thread>

#include "support/device/TransportFixture.h"
#include "support/device/SimulatedDevice.h"

// A transport fixture whose delegate counts plug-ins and removals and the thread they came on, with
// the identity request asked and waited for.
namespace support::connectedtransport {

struct Listener : MidiDeviceDelegate {
    platform::RunLoop* loop = nullptr;
    int added = 0;
    int removed = 0;
    bool offMain = false;
    void getANewDevicePlugIn() override
    {
        ++added;
        offMain = offMain || !loop->isMainThread();
    }
    void notifyRemoveCurrentConnectedDevice() override
    {
        ++removed;
        offMain = offMain || !loop->isMainThread();
    }
    void notifyPatchDataChange(const PatchObject&) override {}
};

inline constexpr std::uint8_t kIdentityRequest[] = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};

struct Connected : TransportFixture {
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
    Connected()
    {
        listener->loop = &loop;
        device->setMidiDeviceDelegate(listener);
    }
    // Sends the identity request and waits for the answer; the identity bytes, or nothing.
    std::optional<Bytes> askIdentity()
    {
        auto result = std::make_shared<std::optional<Bytes>>();
        auto done = std::make_shared<std::atomic<bool>>(false);
        if (!device->registerIndentityReplyMessage([result, done](bool, const Bytes& id, const Bytes&) {
                *result = id;
                *done = true;
            }, kIdentityRequest, sizeof kIdentityRequest))
            return std::nullopt;
        if (!waitFor([&] { return done->load(); })) return std::nullopt;
        return *result;
    }
};

}  // namespace support::connectedtransport
