#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// One model of the model-version (firmware) document.
class ModelDetail {
public:
    ModelDetail() = default;
    static ModelDetail initWithDic(const nlohmann::json& dic);
    ModelDetail copy() const { return *this; }

    int32_t modelIdInt() const { return modelIdInt_; }
    void setModelIdInt(int32_t value) { modelIdInt_ = value; }
    // The newest firmware version of the model.
    const std::string& modelVersion() const { return modelVersion_; }
    void setModelVersion(std::string v) { modelVersion_ = std::move(v); }

    static int32_t intFromHexString(const std::string& text);

private:
    int32_t modelIdInt_ = 0;
    std::string modelVersion_;
};
