#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/Bytes.h"
#include "device/formats/LittleEndian.h"
#include "device/formats/OKVPatch.h"
#include "support/device/ModuleFileMaker.h"

// The files of the libraries as the device and the server make them, built by the tests.
namespace library_files {

// What an effect shows in the lists: its grey icon (a PNG), its colour and its note.
struct EffectLooks {
    Bytes icon;
    std::uint8_t red = 0, green = 0, blue = 0;
    std::string note;
};

// An effect module file: generation `gen`, region 0 at level 0, `units` units, and the five chunks, the
// icon and the two texts from `looks`.
inline Bytes effectModule(std::uint32_t type, const std::string& typeName, const std::string& category,
                          std::uint32_t gen = 1, std::uint8_t units = 1, const std::string& version = "1.00",
                          const EffectLooks& looks = {})
{
    constexpr std::uint32_t kHeader = 117;
    Bytes file(8 + kHeader, 0);
    std::memcpy(file.data(), "QFX2", 4);
    LittleEndian::write32(file.data() + 4, kHeader);
    LittleEndian::write32(file.data() + 12, gen);
    LittleEndian::write32(file.data() + 16, 1);
    file[88] = units;
    std::memcpy(file.data() + 89, version.data(), std::min<std::size_t>(version.size(), 4));
    file[95] = static_cast<std::uint8_t>(type >> 24);
    LittleEndian::write32(file.data() + 96, type);
    std::memcpy(file.data() + 100, typeName.data(), std::min<std::size_t>(typeName.size(), 10));
    std::memcpy(file.data() + 111, category.data(), std::min<std::size_t>(category.size(), 10));
    file[122] = looks.red;
    file[123] = looks.green;
    file[124] = looks.blue;
    // The note is plain ASCII, which reads the same in both texts' encodings.
    Bytes note(looks.note.begin(), looks.note.end());
    if (!note.empty()) note.push_back(0);
    const Bytes none;
    const std::pair<const char*, const Bytes*> chunks[] = {
        {"ICON", &looks.icon}, {"TXJ1", &note}, {"TXE1", &note}, {"INFO", &none}, {"DATA", &none}};
    for (const auto& [id, content] : chunks) modulefile::putChunk(file, id, *content);
    return file;
}

// A ".qptc" patch file of generation `gen` with one type per unit.
inline Bytes patchFile(const std::string& name, std::vector<std::uint32_t> effectTypes = {}, std::uint32_t gen = 1)
{
    OKVPatch patch;
    patch.setGen(gen);
    patch.setSupportRegion(1);
    patch.setPatchName(name);
    patch.setEffectTypes(std::move(effectTypes));
    return patch.getByteData();
}

// The server's hex text of a 32-bit value, least significant byte first in memory.
inline std::string hex(std::uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// A catalogue entry of an effect archive.
inline nlohmann::json catalogueEffect(std::uint32_t type) { return {{"type", hex(type)}, {"fileName", hex(type) + ".zip"}, {"version", "1.00"}}; }

}  // namespace library_files
