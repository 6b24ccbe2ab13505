#pragma once

#include <cstdint>
#include <vector>

// The byte string every layer passes around: SysEx messages, patch data, file contents.
using Bytes = std::vector<std::uint8_t>;
