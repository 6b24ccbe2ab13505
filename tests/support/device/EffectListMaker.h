#pragma once

// Builds records of the device's effect list file, for tests and fuzz seeds.

#include <cstdint>
#include <string>

#include "device/formats/OKVQFXInformation.h"

namespace effectlist {

// A category opening ('>') or closing ('<') record.
inline Bytes marker(std::uint8_t mark, std::uint8_t id)
{
    Bytes r(OKVQFXInformation::kRecordSize, 0);
    r[0] = r[1] = r[2] = mark;
    r[4] = id;
    return r;
}

inline Bytes effect(const std::string& name, const std::string& version, bool favourite, bool loaded, std::uint8_t t0)
{
    OKVQFXInformation info;
    info.setNameQFX(name);
    info.setVersionQFX(version);
    info.setFavoriteQFX(favourite);
    info.setIsLoadedQFX(loaded);
    info.setType({t0, 0x01, 0x00, 0x0B});
    return info.getByteData();
}

}  // namespace effectlist
