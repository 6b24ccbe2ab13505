#pragma once

// Effect module files and device effect lists for the coordinator's effect tests.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

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

struct Category {
    std::int32_t id;
    std::vector<Record> records;
};

// The list file as the device holds it, laid out by hand: each block its opening marker, records and
// closing marker, then zeros up to `size` bytes.
inline Bytes listFile(const std::vector<Category>& categories, std::size_t size = 0)
{
    Bytes out;
    const auto put = [&out](const Bytes& record) { out.insert(out.end(), record.begin(), record.end()); };
    for (const Category& c : categories) {
        put(effectlist::marker('>', std::uint8_t(c.id)));
        for (const Record& r : c.records) put(effectlist::effectOfType(r.name, r.version, r.favourite, r.loaded, r.type));
        put(effectlist::marker('<', std::uint8_t(c.id)));
    }
    out.resize(std::max(out.size(), size), 0);
    return out;
}

}  // namespace effectfiles
