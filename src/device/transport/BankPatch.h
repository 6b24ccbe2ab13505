#pragma once

#include <cstdint>
#include <vector>

#include "device/transport/PatchObject.h"

// The patch slots of one bank, in the tree form of the device's memory.
class BankPatch {
public:
    BankPatch() = default;
    // numberOfPatchs slots, every one numbered 0 and without a path.
    static BankPatch initWithNumberOfPatchs(std::int32_t numberOfPatchs);

    std::vector<PatchObject> patchs;
};
