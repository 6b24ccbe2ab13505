#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "common/Bytes.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "support/Locked.h"
#include "support/device/RequestKey.h"
#include "support/device/SimulatedDevice.h"
#include "support/device/SimulatedFileSystem.h"
#include "support/device/SimulatedPatchMemory.h"

namespace sim {

// A whole unit on the virtual backend: the simulated device's dispatcher with every exchange of the
// protocol installed: editor mode, the four description records, patch memory (dump, write one, group
// and all, select, audio switch, unsolicited notices) and the file system holding the effect list and
// effect module files. Layout and contents are set by the test; the default is like a real unit's: a
// hundred patches in banks of four, patch data well under the largest size a message can carry.
class DeviceUnit : private support::Locked {
public:
    struct Descriptions {
        std::array<std::uint8_t, 4> qfxGeneration{0x01, 0, 0, 0};
        std::array<std::uint8_t, 8> qfxRegions{0x03, 0, 0, 0, 0, 0, 0, 0};
        std::array<std::uint8_t, 64> qfxRegionLevels{};
        std::uint8_t qfxUnits = 4;
        std::array<std::uint8_t, 4> patchGeneration{0x01, 0, 0, 0};
        std::array<std::uint8_t, 8> patchRegions{0x03, 0, 0, 0, 0, 0, 0, 0};
        std::uint8_t patchUnits = 4;
        // Display mode, offsets and formats of patch, bank and group numbers (16 raw bytes) and the group text.
        std::array<std::uint8_t, 16> display{0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0};
        Bytes groupDisplayText;
    };

    explicit DeviceUnit(platform::VirtualMidiSystem& system, SimulatedPatchMemory::Layout layout = defaultLayout(),
                        const std::string& name = "PEXO QFX");
    // Lets go of held replies and waits out a request still being answered, which reaches every member.
    ~DeviceUnit();

    static SimulatedPatchMemory::Layout defaultLayout() { return {25, 1, 4, 640}; }
    static constexpr const char* kEffectList = "FLST_SEQ.QT2";

    SimulatedDevice& device() { return m_device; }
    SimulatedPatchMemory& patches() { return m_patches; }
    SimulatedFileSystem& files() { return m_files; }
    void setDescriptions(const Descriptions& descriptions) { locked([&] { m_descriptions = descriptions; }); }

    // The next `times` requests of the key are answered with `code` instead of success (editor mode,
    // audio switch, patch and file-system steps alike).
    void failFunction(const RequestKey& key, int times, std::int32_t code = 1);
    // The next reply to the key is cut to `length` bytes (F7 kept).
    void shortenNextReply(const RequestKey& key, std::size_t length);
    // What the unit does to one request a test picks.
    enum class Fault {
        Unplug,         // the cable is pulled as the request arrives
        SilentOnce,     // that request gets no answer
        SilentForGood,  // neither it nor any later request gets one, until the faults are cleared
        Cut,            // its reply is cut to half its length (F7 kept)
        Grown,          // its reply carries sixteen zero bytes more before F7
        ErrorCode,      // it and every later request of its key are answered with code 1, until cleared
    };
    // The `nth` request of `key` from now on (1: the next one) meets `fault`; one such fault at a time, so
    // a test reaches any step of an operation, the second module write or the list's own rewrite alike.
    void faultAt(const RequestKey& key, int nth, Fault fault);
    // The reply to the `nth` request of `key` from now on is held back, and handed in just before the reply
    // to the `handedInAt`-th request of the key from now on: a stale answer the host must not take for the
    // one it waits for. One at a time.
    void lateReplyAt(const RequestKey& key, int nth, int handedInAt);
    // The reply lateReplyAt holds is handed in instead just after the unit's reply to the `afterAt`-th
    // request of `afterKey` from now on: it lands as the host moves on to its next message.
    void handInLateReplyAfter(const RequestKey& afterKey, int afterAt, bool after = true);
    // Lifts the picked fault, its silence, and every error code and cut or grown reply still pending: the
    // unit switched off and on.
    void clearFaults();
    // Answers of the key wait this long first (the device-side thread stalls, as a busy unit would).
    void delayReplies(const RequestKey& key, std::chrono::milliseconds delay)
    {
        locked([&] { m_delays[key] = delay; });
    }
    // Answers of the key wait on the device side until released, so a test can line up what the host
    // does before they land; the first `answered` still go out, to hold a transfer in its middle.
    // Everything held must be released before the unit goes.
    void holdReplies(const RequestKey& key, std::size_t answered = 0) { locked([&] { m_held[key] = answered; }); }
    void releaseReplies();
    // A wire rate both ways and a latency before every reply; zero switches pacing off.
    void setPacing(double bytesPerSecond, std::chrono::microseconds latencyPerReply)
    {
        m_device.setPacing({bytesPerSecond, latencyPerReply});
    }
    // The device sends a slot's patch by itself, as after an edit on the unit.
    void sendPatchNotice(std::int32_t group, std::int32_t bank, std::int32_t patch);
    // What crossed the cable so far, both ways: the floor of any transfer.
    SimulatedDevice::Traffic traffic() const { return m_device.traffic(); }

private:
    void install();
    void send(const RequestKey& key, Bytes message);
    std::uint8_t deviceID() { return m_device.state().identity.familyLow; }
    // The gate's side of faultAt: false leaves the request unanswered.
    bool admit(const RequestKey& key, std::size_t countOfKey);

    SimulatedDevice m_device;
    SimulatedPatchMemory m_patches;
    SimulatedFileSystem m_files;
    Descriptions m_descriptions;
    std::map<RequestKey, std::pair<int, std::int32_t>> m_codes;
    // What the next reply to a key goes through: cut, halved or grown.
    std::map<RequestKey, std::function<void(Bytes&)>> m_reshape;
    struct Target {
        RequestKey key;
        std::size_t count = 0;
        Fault fault = Fault::SilentOnce;
    };
    std::optional<Target> m_target;
    struct Late {
        RequestKey key;
        std::size_t heldAt = 0;
        std::size_t handedInAt = 0;
        RequestKey handKey;
        bool afterReply = false;
        bool holding = false;
        bool handingIn = false;
        std::optional<Bytes> reply;
    };
    std::optional<Late> m_late;
    bool m_silentForGood = false;
    std::map<RequestKey, std::chrono::milliseconds> m_delays;
    // Held keys, each with the answers still let through.
    std::map<RequestKey, std::size_t> m_held;
    std::condition_variable m_released;
};

}  // namespace sim
