#pragma once

#include <cstdint>
#include <string>

// One patch slot of the device (group, bank and patch, each from 0) and the local file holding its data.
class PatchObject {
public:
    PatchObject() = default;
    PatchObject(std::int32_t groupNum, std::int32_t bankNum, std::int32_t patchNum, std::string path = {});

    PatchObject copy() const { return *this; }

    std::int32_t groupNum = 0;
    std::int32_t bankNum = 0;
    std::int32_t patchNum = 0;
    std::string path;  // empty until the slot's file is known
};
