#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/formats/AdvencedPatchInformation.h"
#include "device/formats/InfoRead.h"
#include "device/formats/SupportPatchInformation.h"
#include "device/formats/SupportQFXInformation.h"

class OKVEffect;
class OKVPatch;

// What the connection handshake learnt about the connected device: its four records, with the server's
// model values already in place of the device's where the server gives them. Everything here answers
// from these records alone, so an absent record (not connected) gives the negative answer.
class DeviceDescription {
public:
    // Whether the device can run the effect module: a shared generation bit, a shared region at whose
    // level the device is at least the module's, and enough units.
    bool checkEffectCompatible(const OKVEffect& effect) const;
    // Whether the device can take the patch: a shared generation bit and region, and enough units.
    bool checkPatchCompatible(const OKVPatch& patch) const;

    // Labels a patch slot (group, bank and patch counted from 0) the way the device's own display does:
    // one running number, or group, bank and patch places made of digits, letters or the device's
    // group text table. Empty without the advanced patch information.
    std::string getOffsetNameOfPatchWithNumGroup(std::int32_t numGroup, std::int32_t numBank,
                                                 std::int32_t numPatch) const;

    // The binary digits of the value read as unsigned, most significant first; 0 gives "0".
    static std::string toBinary(std::int64_t value);
    // The text of one place of a label: format 1 decimal, 2 upper-case letters, 3 lower-case letters
    // (the tenth letter standing for anything beyond nine); any other format gives nothing.
    static std::string getCharWithOffset(std::int32_t value, std::uint8_t type);

    bool hasAllRecords() const
    {
        return supportQFXInformation && supportPatchInformation && advencedPatchInformation && infoRead;
    }
    void clear() { *this = DeviceDescription(); }

    std::optional<SupportQFXInformation> supportQFXInformation;
    std::optional<SupportPatchInformation> supportPatchInformation;
    std::optional<AdvencedPatchInformation> advencedPatchInformation;
    std::optional<InfoRead> infoRead;
};
