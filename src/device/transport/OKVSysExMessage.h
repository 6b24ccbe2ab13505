#pragma once

#include <cstdint>

#include "common/Bytes.h"

// One complete incoming SysEx message without its F0 and F7. It owns its bytes: the reassembly buffer is
// reused as soon as the next message opens.
class OKVSysExMessage {
public:
    OKVSysExMessage() = default;
    OKVSysExMessage(const std::uint8_t* bytes, std::int64_t count);

    Bytes byteData;
    std::int64_t size = 0;
};
