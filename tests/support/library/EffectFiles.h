#pragma once

// Effect module files and device effect lists for the coordinator's effect tests.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/formats/LittleEndian.h"
#include "support/device/EffectListMaker.h"
#include "support/device/ModuleFileMaker.h"

namespace effectfiles {

struct Module {
    std::uint32_t type;
    std::uint8_t category;
    std::string typeName;
    std::string version;
    std::uint8_t units = 1;
};

// A module file whose header carries the given values (names cut to their fields).
inline Bytes moduleFile(const Module& m)
{
    Bytes file = modulefile::moduleFile();
    std::memset(file.data() + 89, 0, 4);
    std::memcpy(file.data() + 89, m.version.data(), std::min<std::size_t>(m.version.size(), 4));
    file[88] = m.units;
    file[95] = m.category;
    LittleEndian::write32(file.data() + 96, m.type);
    std::memset(file.data() + 100, 0, 11);
    std::memcpy(file.data() + 100, m.typeName.data(), std::min<std::size_t>(m.typeName.size(), 11));
    return file;
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
