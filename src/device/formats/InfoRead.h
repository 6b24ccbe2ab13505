#pragma once

#include <cstdint>

#include "common/Bytes.h"

// What the device's file system holds, from its information read. The file count's low byte is the
// number of effect slots.
struct InfoRead {
    std::int32_t numOfInfor = 0;
    std::int32_t numOfFiles = 0;
    std::int32_t numOfSectors = 0;
    Bytes version;  // the decoded version field, with its own length
};
