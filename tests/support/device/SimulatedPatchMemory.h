#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "common/Bytes.h"
#include "support/Locked.h"

// The simulated device's patch memory: groups of banks of patch slots, each holding one patch record of
// at most the maximum patch size. It answers the patch dump request with the slot's patch, stores the
// patch data the host writes, takes the edit buffer, and keeps the audio switch the host turns off and
// on around writes and dumps. Fault knobs change what it answers; the test sets them.
class SimulatedPatchMemory : private support::Locked {
public:
    using Send = std::function<void(Bytes message)>;

    struct Layout {
        std::int32_t groups = 25;
        std::int32_t banks = 1;
        std::int32_t patchs = 4;
        std::int32_t maxPatchSize = 512;
    };
    struct Faults {
        // Function code -> how many more times it is answered with `code` instead of 0 (for 0x46: a code
        // reply instead of the patch).
        std::map<std::uint8_t, int> failCount;
        std::uint8_t code = 1;
        int wrongSlotAnswers = 0;  // dump answers for the next slot instead of the one asked for
        int corruptPatchCrc = 0;   // dump answers with a wrong CRC
    };

    // A patch record of the device's format with a name, a comment and some parameter bytes.
    static Bytes makePatchRecord(const std::string& name, const std::string& comment, std::size_t parameterBytes,
                                 std::uint8_t seed);

    SimulatedPatchMemory() : SimulatedPatchMemory(Layout()) {}
    explicit SimulatedPatchMemory(Layout layout);
    // Fills every slot with a distinct record well under the maximum size.
    void fillDefault();
    Layout layout() const { return locked([&] { return m_layout; }); }
    void setPatch(std::int32_t group, std::int32_t bank, std::int32_t patch, Bytes record)
    {
        locked([&] {
            if (validSlot(group, bank, patch)) m_slots[index(group, bank, patch)] = std::move(record);
        });
    }
    std::optional<Bytes> patch(std::int32_t group, std::int32_t bank, std::int32_t patch) const
    {
        return locked([&] {
            return validSlot(group, bank, patch) ? std::optional(m_slots[index(group, bank, patch)]) : std::nullopt;
        });
    }
    std::optional<Bytes> selected() const { return locked([&] { return m_selected; }); }
    bool audioEnabled() const { return locked([&] { return m_audio; }); }
    void changeFaults(const std::function<void(Faults&)>& change) { locked([&] { change(m_faults); }); }

    // The patch data message for a slot, as the device sends it on a dump or by itself.
    std::optional<Bytes> patchMessage(std::uint8_t deviceID, std::int32_t group, std::int32_t bank,
                                      std::int32_t patch) const;
    // One host message whose function code is 0x46, 0x45, 0x28, 0x56, 0x57, 0x05 or 0x04.
    void handle(const Bytes& message, std::uint8_t deviceID, const Send& send);

private:
    std::size_t index(std::int32_t group, std::int32_t bank, std::int32_t patch) const
    {
        return static_cast<std::size_t>((group * m_layout.banks + bank) * m_layout.patchs + patch);
    }
    bool validSlot(std::int32_t group, std::int32_t bank, std::int32_t patch) const
    {
        return group >= 0 && bank >= 0 && patch >= 0 && group < m_layout.groups && bank < m_layout.banks &&
               patch < m_layout.patchs;
    }
    std::uint8_t nextCode(std::uint8_t function);
    Bytes patchMessageLocked(std::uint8_t deviceID, std::int32_t group, std::int32_t bank, std::int32_t patch,
                             bool corrupt) const;

    Layout m_layout;
    std::vector<Bytes> m_slots;
    std::optional<Bytes> m_selected;
    bool m_audio = true;
    Faults m_faults;
};
