#include "device/transport/GroupPatch.h"

GroupPatch GroupPatch::initWithNumberOfBanks(std::int32_t numberOfBanks, std::int32_t numberOfPatchs)
{
    GroupPatch group;
    for (std::int32_t b = 0; b < numberOfBanks; ++b) group.banks.push_back(BankPatch::initWithNumberOfPatchs(numberOfPatchs));
    return group;
}
