#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/Bytes.h"
#include "device/formats/LittleEndian.h"
#include "device/formats/OKVPatch.h"

// The files of the libraries as the device and the server make them, built by the tests.
namespace library_files {

// An effect module file: generation `gen`, region 0 at level 0, `units` units, and the five chunks.
inline Bytes effectModule(std::uint32_t type, const std::string& typeName, const std::string& category,
                          std::uint32_t gen = 1, std::uint8_t units = 1, const std::string& version = "1.00")
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
    for (const char* id : {"ICON", "TXJ1", "TXE1", "INFO", "DATA"}) {
        file.insert(file.end(), id, id + 4);
        LittleEndian::append32(file, 0);
    }
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
