#pragma once

#include <cstdint>
#include <vector>

#include "device/transport/GroupPatch.h"
#include "device/transport/PatchObject.h"

// The device's whole patch memory: a flat list in group, bank, patch order (what transfers use), or the
// tree of groups and banks.
class AllPatch {
public:
    AllPatch() = default;

    // G x B x P slots numbered in order; slot (g, b, p) sits at index (g * B + b) * P + p.
    static AllPatch initPatchsListWithNumberOfGroups(std::int32_t groups, std::int32_t banks, std::int32_t patchs);
    // Wraps a list as it is; the counts stay 0 until the caller sets them.
    static AllPatch initWithPatchList(std::vector<PatchObject> list);
    // The tree form; the counts are not set.
    static AllPatch initWithNumberOfGroups(std::int32_t groups, std::int32_t banks, std::int32_t patchs);

    std::int32_t numOfGroups = 0;
    std::int32_t numOfBanks = 0;
    std::int32_t numOfPatchs = 0;
    std::vector<PatchObject> patchsList;
    std::vector<GroupPatch> groups;
};
