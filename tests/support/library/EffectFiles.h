#pragma once

// Effect module files and device effect lists for the coordinator's effect tests.

#include <cstdint>
#include <string>
#include <vector>

#include "device/formats/LittleEndian.h"
#include "support/device/EffectListMaker.h"
#include "support/library/LibraryFiles.h"

namespace effectfiles {

// An effect module; its category is the type's top byte.
struct Module {
    std::uint32_t type;
    std::string typeName;
    std::string version;
    std::uint8_t units = 1;
};

// A module file whose header carries the given values.
inline Bytes moduleFile(const Module& m)
{
    return library_files::effectModule(m.type, m.typeName, "DELAY", 1, m.units, m.version);
}

struct Record {
    std::string name;
    std::string version;
    std::uint32_t type;
    bool loaded = true;
    bool favourite = false;
};

inline OKVQFXInformation info(const Record& r)
{
    OKVQFXInformation info;
    info.setNameQFX(r.name);
    info.setVersionQFX(r.version);
    info.setFavoriteQFX(r.favourite);
    info.setIsLoadedQFX(r.loaded);
    std::array<std::uint8_t, 4> type{};
    LittleEndian::write32(type.data(), r.type);
    info.setType(type);
    return info;
}

struct Category {
    std::int32_t id;
    std::vector<Record> records;
};

// The list file as the device holds it, laid out by hand: each block its opening marker, records and
// closing marker, then zeros up to `size` bytes.
inline Bytes listFile(const std::vector<Category>& categories, std::size_t size = 0)
{
    Bytes out;
    for (const Category& c : categories) {
        const Bytes open = effectlist::marker(0x3E, std::uint8_t(c.id));
        out.insert(out.end(), open.begin(), open.end());
        for (const Record& r : c.records) {
            const Bytes record = info(r).getByteData();
            out.insert(out.end(), record.begin(), record.end());
        }
        const Bytes close = effectlist::marker(0x3C, std::uint8_t(c.id));
        out.insert(out.end(), close.begin(), close.end());
    }
    if (out.size() < size) out.resize(size, 0);
    return out;
}

}  // namespace effectfiles
