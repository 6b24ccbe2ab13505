#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/AllQFXEffects.h"

// One device model of the effect catalogue: its identity, what it supports, and the effects it may load.
// The "qfx" fields describe effect modules, the "ptc" fields patches. A byte table the server did not give
// is absent (std::nullopt) and the compatibility checks then use the device's own report.
class AllQFXModels {
public:
    using Bytes4 = std::array<uint8_t, 4>;
    using Bytes8 = std::array<uint8_t, 8>;
    using RegionLevels = std::array<uint8_t, 64>;

    AllQFXModels() = default;
    static AllQFXModels initWithDic(const nlohmann::json& dic);
    AllQFXModels copy() const { return *this; }

    int32_t modelIdInt() const { return modelIdInt_; }
    void setModelIdInt(int32_t value) { modelIdInt_ = value; }
    const std::string& modelIDString() const { return modelIDString_; }
    void setModelIDString(std::string text) { modelIDString_ = std::move(text); }
    const std::string& modelName() const { return modelName_; }
    void setModelName(std::string name) { modelName_ = std::move(name); }
    const std::string& jpegImage() const { return jpegImage_; }
    void setJpegImage(std::string url) { jpegImage_ = std::move(url); }

    const std::optional<Bytes4>& qfxGenerationModel() const { return qfxGenerationModel_; }
    void setQfxGenerationModel(std::optional<Bytes4> bytes) { qfxGenerationModel_ = bytes; }
    const std::optional<Bytes8>& qfxSupportRegionsModel() const { return qfxSupportRegionsModel_; }
    void setQfxSupportRegionsModel(std::optional<Bytes8> bytes) { qfxSupportRegionsModel_ = bytes; }
    const std::optional<Bytes4>& ptcGenerationModel() const { return ptcGenerationModel_; }
    void setPtcGenerationModel(std::optional<Bytes4> bytes) { ptcGenerationModel_ = bytes; }
    const std::optional<Bytes8>& ptcSupportRegionsModel() const { return ptcSupportRegionsModel_; }
    void setPtcSupportRegionsModel(std::optional<Bytes8> bytes) { ptcSupportRegionsModel_ = bytes; }
    // Positions the server did not give hold 0.
    const std::optional<RegionLevels>& qfxRegionLevelsModel() const { return qfxRegionLevelsModel_; }
    void setQfxRegionLevelsModel(std::optional<RegionLevels> table) { qfxRegionLevelsModel_ = table; }

    int64_t qfxMaxNumOfUnit() const { return qfxMaxNumOfUnit_; }
    void setQfxMaxNumOfUnit(int64_t value) { qfxMaxNumOfUnit_ = value; }
    int64_t ptcMaxNumOfUnit() const { return ptcMaxNumOfUnit_; }
    void setPtcMaxNumOfUnit(int64_t value) { ptcMaxNumOfUnit_ = value; }

    const std::vector<AllQFXEffects>& effectsList() const { return effectsList_; }
    std::vector<AllQFXEffects>& effectsList() { return effectsList_; }
    void setEffectsList(std::vector<AllQFXEffects> list) { effectsList_ = std::move(list); }

    // A known key of the model or of one of its effects held something of another kind.
    bool hasWrongKinds() const { return wrongKinds_; }

    static int32_t getIntFromString(const std::string& text);
    static Bytes4 byteDataFromHexString(const std::string& text);
    static Bytes8 byteDataLongFromHexString(const std::string& text);
    // Element i of the array, cut to its low 8 bits, for the first 64 elements; non-numbers give 0.
    static RegionLevels convertToByteArrayWithArray(const nlohmann::json& array);

private:
    bool wrongKinds_ = false;
    int32_t modelIdInt_ = 0;
    std::string modelIDString_;
    std::string modelName_;
    std::string jpegImage_;
    std::optional<Bytes4> qfxGenerationModel_;
    std::optional<Bytes8> qfxSupportRegionsModel_;
    std::optional<Bytes4> ptcGenerationModel_;
    std::optional<Bytes8> ptcSupportRegionsModel_;
    std::optional<RegionLevels> qfxRegionLevelsModel_;
    int64_t qfxMaxNumOfUnit_ = 0;
    int64_t ptcMaxNumOfUnit_ = 0;
    std::vector<AllQFXEffects> effectsList_;
};
