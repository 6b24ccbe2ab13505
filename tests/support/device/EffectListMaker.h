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

// An effect record of any type, kept in the file's little-endian order.
inline Bytes effectOfType(const std::string& name, const std::string& version, bool favourite, bool loaded,
                          std::uint32_t type)
{
    OKVQFXInformation info;
    info.setNameQFX(name);
    info.setVersionQFX(version);
    info.setFavoriteQFX(favourite);
    info.setIsLoadedQFX(loaded);
    info.setType({static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8),
                  static_cast<std::uint8_t>(type >> 16), static_cast<std::uint8_t>(type >> 24)});
    return info.getByteData();
}

inline Bytes effect(const std::string& name, const std::string& version, bool favourite, bool loaded, std::uint8_t t0)
{
    return effectOfType(name, version, favourite, loaded, 0x0B000100U | t0);
}

}  // namespace effectlist
