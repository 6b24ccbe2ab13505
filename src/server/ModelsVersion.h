#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "server/ModelDetail.h"

// The model-version (firmware) document.
class ModelsVersion {
public:
    ModelsVersion() = default;
    static ModelsVersion initWithDic(const nlohmann::json& dic);
    ModelsVersion copy() const { return *this; }

    const std::vector<ModelDetail>& modelsList() const { return modelsList_; }
    void setModelsList(std::vector<ModelDetail> list) { modelsList_ = std::move(list); }

private:
    std::vector<ModelDetail> modelsList_;
};
