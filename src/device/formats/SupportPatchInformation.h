#pragma once

#include "common/Bytes.h"

// Which patches the device supports: generation (4 bytes), regions (8), unit count (1).
struct SupportPatchInformation {
    Bytes gen;
    Bytes region;
    Bytes useUnitNum;
};
