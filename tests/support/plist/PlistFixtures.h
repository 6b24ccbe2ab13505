#pragma once

#include <cstdint>
#include <vector>

#include "platform/plist/PlistValue.h"

namespace plist_fixtures {

// A binary property list laid out by hand from raw objects (marker bytes included), with two-byte object
// references and four-byte offsets, so tests can build layouts a writer would never produce.
inline platform::Bytes binaryPlist(const std::vector<platform::Bytes>& objects, std::uint64_t top = 0)
{
    platform::Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint32_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(static_cast<std::uint32_t>(out.size()));
        out.insert(out.end(), object.begin(), object.end());
    }
    const auto tableStart = static_cast<std::uint64_t>(out.size());
    for (std::uint32_t offset : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(offset >> shift));
    }
    auto put64 = [&](std::uint64_t value) {
        for (int shift = 56; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(value >> shift));
    };
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 4, 2});
    put64(objects.size());
    put64(top);
    put64(tableStart);
    return out;
}

// An array object (fewer than 15 elements) referring to the given objects.
inline platform::Bytes arrayObject(const std::vector<std::uint16_t>& refs)
{
    platform::Bytes out{static_cast<std::uint8_t>(0xA0 | refs.size())};
    for (std::uint16_t ref : refs) {
        out.push_back(static_cast<std::uint8_t>(ref >> 8));
        out.push_back(static_cast<std::uint8_t>(ref));
    }
    return out;
}

}  // namespace plist_fixtures
