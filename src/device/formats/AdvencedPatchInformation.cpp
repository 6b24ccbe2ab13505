#include "device/formats/AdvencedPatchInformation.h"

#include "device/formats/MIDIMessageUtil.h"

namespace {

// A 16-bit field sent as two stream bytes, so it carries 14 bits.
std::int32_t streamField(const std::uint8_t* pair)
{
    const Bytes decoded = MIDIMessageUtil::convert78Type2(pair, 2);
    return decoded[0] | decoded[1] << 8;
}

}  // namespace

std::optional<AdvencedPatchInformation> AdvencedPatchInformation::fromAdvancedPatchReply(const std::uint8_t* reply,
                                                                                         std::size_t size)
{
    if (reply == nullptr || size < kGroupDisplayTextOffset) return std::nullopt;
    const std::uint8_t* b = reply;
    AdvencedPatchInformation info;
    info.totalNumberOfPatch = streamField(b + 4);
    info.patchDataSize = streamField(b + 6);
    info.numberOfPatchInGroup = streamField(b + 8);
    info.numberOfPatchInBank = streamField(b + 10);
    info.patchDisplayMode = b[12];
    info.patchNumberOffset = b[13];
    info.patchDisplayFormat0001 = b[14];
    info.patchDisplayFormat0010 = b[15];
    info.patchDisplayFormat0100 = b[16];
    info.patchDisplayFormat1000 = b[17];
    info.bankNumberOffset = b[18];
    info.bankDisplayFormat0001 = b[19];
    info.bankDisplayFormat0010 = b[20];
    info.bankDisplayFormat0100 = b[21];
    info.bankDisplayFormat1000 = b[22];
    info.groupNumberOffset = b[23];
    info.groupDisplayFormat0001 = b[24];
    info.groupDisplayFormat0010 = b[25];
    info.groupDisplayFormat0100 = b[26];
    info.groupDisplayFormat1000 = b[27];
    info.groupDisplayText.assign(b + kGroupDisplayTextOffset, b + size);
    return info;
}
