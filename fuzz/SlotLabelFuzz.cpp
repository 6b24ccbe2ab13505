// The device describes its own patch numbering; whatever it sends, labelling any slot must stay within
// the group text table and give only the characters a label may hold.
#include <cstdlib>
#include <cstring>

#include "device/sequencer/DeviceDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first twelve bytes choose the slot; the rest is the device's reply.
    if (size < 12) return 0;
    std::int32_t slot[3];
    std::memcpy(slot, data, sizeof slot);
    auto info = AdvencedPatchInformation::fromAdvancedPatchReply(data + 12, size - 12);
    if (!info) return 0;
    DeviceDescription description;
    description.advencedPatchInformation = *info;
    for (std::int32_t mode : {0, 1, 2}) {
        description.advencedPatchInformation->patchDisplayMode = mode;
        const std::string label = description.getOffsetNameOfPatchWithNumGroup(slot[0], slot[1], slot[2]);
        if (label.size() > 256) std::abort();
    }
    return 0;
}
