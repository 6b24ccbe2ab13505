#include "device/transport/BankPatch.h"

BankPatch BankPatch::initWithNumberOfPatchs(std::int32_t numberOfPatchs)
{
    BankPatch bank;
    if (numberOfPatchs > 0) bank.patchs.resize(static_cast<std::size_t>(numberOfPatchs));
    return bank;
}
