#include "device/transport/AllPatch.h"

AllPatch AllPatch::initPatchsListWithNumberOfGroups(std::int32_t groups, std::int32_t banks, std::int32_t patchs)
{
    AllPatch all;
    all.numOfGroups = groups;
    all.numOfBanks = banks;
    all.numOfPatchs = patchs;
    if (groups > 0 && banks > 0 && patchs > 0)
        all.patchsList.reserve(static_cast<std::size_t>(groups) * static_cast<std::size_t>(banks) *
                               static_cast<std::size_t>(patchs));
    for (std::int32_t g = 0; g < groups; ++g)
        for (std::int32_t b = 0; b < banks; ++b)
            for (std::int32_t p = 0; p < patchs; ++p) all.patchsList.emplace_back(g, b, p);
    return all;
}

AllPatch AllPatch::initWithPatchList(std::vector<PatchObject> list)
{
    AllPatch all;
    all.patchsList = std::move(list);
    return all;
}

AllPatch AllPatch::initWithNumberOfGroups(std::int32_t groups, std::int32_t banks, std::int32_t patchs)
{
    AllPatch all;
    for (std::int32_t g = 0; g < groups; ++g) all.groups.push_back(GroupPatch::initWithNumberOfBanks(banks, patchs));
    return all;
}
