#pragma once

#include <cstdint>
#include <vector>

#include "device/transport/BankPatch.h"

// The banks of one group, in the tree form of the device's memory.
class GroupPatch {
public:
    GroupPatch() = default;
    static GroupPatch initWithNumberOfBanks(std::int32_t numberOfBanks, std::int32_t numberOfPatchs);

    std::vector<BankPatch> banks;
};
