#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// One effect archive of a model in the effect catalogue.
class AllQFXEffects {
public:
    AllQFXEffects() = default;
    static AllQFXEffects initWithDic(const nlohmann::json& dic);
    AllQFXEffects copy() const { return *this; }

    // The type's 4 bytes, least significant first; byte 3 is the effect's category ID.
    const std::array<uint8_t, 4>& typeEffect() const { return typeEffect_; }
    void setTypeEffect(const std::array<uint8_t, 4>& bytes) { typeEffect_ = bytes; }
    // The type text exactly as the server wrote it; it also names the effect's folder in the store.
    const std::string& typeEffectString() const { return typeEffectString_; }
    void setTypeEffectString(std::string text) { typeEffectString_ = std::move(text); }
    const std::string& fileName() const { return fileName_; }
    void setFileName(std::string name) { fileName_ = std::move(name); }
    const std::string& version() const { return version_; }
    void setVersion(std::string version) { version_ = std::move(version); }

    static std::array<uint8_t, 4> byteDataFromHexString(const std::string& text);

    // A known key held something of another kind, or "type" cannot name a folder of the store.
    bool hasWrongKinds() const { return wrongKinds_; }

private:
    bool wrongKinds_ = false;
    std::array<uint8_t, 4> typeEffect_{};
    std::string typeEffectString_;
    std::string fileName_;
    std::string version_;
};
