#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/plist/PlistValue.h"

namespace plist_fixtures {

inline void putBigEndian(platform::Bytes& out, std::uint64_t value, unsigned width)
{
    for (int shift = 8 * (static_cast<int>(width) - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

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
    for (std::uint32_t offset : offsets) putBigEndian(out, offset, 4);
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 4, 2});
    for (std::uint64_t value : {std::uint64_t(objects.size()), top, tableStart}) putBigEndian(out, value, 8);
    return out;
}

// An array object (fewer than 15 elements) referring to the given objects.
inline platform::Bytes arrayObject(const std::vector<std::uint16_t>& refs)
{
    platform::Bytes out{static_cast<std::uint8_t>(0xA0 | refs.size())};
    for (std::uint16_t ref : refs) putBigEndian(out, ref, 2);
    return out;
}

// An object of any length: its marker, its length as a four-byte integer, then its contents.
inline platform::Bytes longObject(std::uint8_t type, std::uint32_t length, const platform::Bytes& contents)
{
    platform::Bytes out{static_cast<std::uint8_t>(type << 4 | 0x0F), 0x12};
    putBigEndian(out, length, 4);
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

// Dictionaries nested `depth` deep, each of `entries` entries all under one UTF-16 key of `keyUnits`
// units: the first value of each is the next dictionary, the others one number. The key is object 0, the
// number object 1, the outermost dictionary object 2 and the top.
inline platform::Bytes nestedUnderOneKey(int depth, std::uint16_t entries, std::uint32_t keyUnits)
{
    std::vector<platform::Bytes> objects{longObject(0x6, keyUnits, platform::Bytes(2 * std::size_t(keyUnits), 0x41)),
                                         {0x10, 0x07}};
    for (int level = 0; level < depth; ++level) {
        // The keys' references are all to object 0, so left zero.
        platform::Bytes refs(4 * std::size_t(entries), 0);
        const auto inner = static_cast<std::uint16_t>(level + 1 < depth ? level + 3 : 1);
        for (std::size_t i = 0; i < entries; ++i) {
            const std::uint16_t value = i == 0 ? inner : 1;
            refs[2 * (entries + i)] = static_cast<std::uint8_t>(value >> 8);
            refs[2 * (entries + i) + 1] = static_cast<std::uint8_t>(value);
        }
        objects.push_back(longObject(0xD, entries, refs));
    }
    return binaryPlist(objects, 2);
}

// A keyed archive whose root array holds `objects` objects of one class, whose class list names `names`
// superclasses (one text of 64 characters each time, so a binary list holds it once).
inline platform::PlistValue archiveSharingOneClassList(std::size_t objects, std::size_t names)
{
    platform::PlistArray classes{"Item"};
    classes.resize(names + 1, platform::PlistValue(std::string(64, 'S')));
    platform::PlistArray members;
    for (std::size_t i = 0; i < objects; ++i)
        members.push_back(platform::PlistUid{4 + i});
    platform::PlistArray table{"$null",
                               platform::PlistDictionary{{"$class", platform::PlistUid{2}}, {"NS.objects", std::move(members)}},
                               platform::PlistDictionary{{"$classname", "NSArray"}, {"$classes", platform::PlistArray{"NSArray", "NSObject"}}},
                               platform::PlistDictionary{{"$classname", "Item"}, {"$classes", std::move(classes)}}};
    table.resize(table.size() + objects, platform::PlistValue(platform::PlistDictionary{{"$class", platform::PlistUid{3}}}));
    return platform::PlistDictionary{{"$archiver", "NSKeyedArchiver"},
                                     {"$version", 100000},
                                     {"$objects", std::move(table)},
                                     {"$top", platform::PlistDictionary{{"root", platform::PlistUid{1}}}}};
}

}  // namespace plist_fixtures
