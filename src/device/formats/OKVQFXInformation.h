#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/Bytes.h"

// One effect record of the device's effect list: 13 bytes of name, 4 of version, the favourite and
// loaded flags, the 4 type bytes in file order and 3 unused bytes; 26 bytes in all.
class OKVQFXInformation {
public:
    static constexpr size_t kRecordSize = 26;

    OKVQFXInformation() = default;
    // Reads one record from the first kRecordSize bytes; nothing when fewer are given.
    static std::optional<OKVQFXInformation> initWithByteData(const uint8_t* bytes, int64_t sizeData);
    Bytes getByteData() const;
    OKVQFXInformation copy() const { return *this; }

    // Name and version: each stored byte is one character (U+0000 to U+00FF, held here as UTF-8); zero
    // bytes are skipped. Written back as the low 8 bits of each character, cut to 13 and 4 characters.
    const std::string& nameQFX() const { return nameQFX_; }
    void setNameQFX(std::string name) { nameQFX_ = std::move(name); }
    const std::string& versionQFX() const { return versionQFX_; }
    void setVersionQFX(std::string version) { versionQFX_ = std::move(version); }
    bool favoriteQFX() const { return favoriteQFX_; }
    void setFavoriteQFX(bool favorite) { favoriteQFX_ = favorite; }
    bool isLoadedQFX() const { return isLoadedQFX_; }
    void setIsLoadedQFX(bool loaded) { isLoadedQFX_ = loaded; }
    const std::array<uint8_t, 4>& type() const { return type_; }
    void setType(const std::array<uint8_t, 4>& type) { type_ = type; }

private:
    std::string nameQFX_;
    std::string versionQFX_;
    bool favoriteQFX_ = false;
    bool isLoadedQFX_ = false;
    std::array<uint8_t, 4> type_{};
};
