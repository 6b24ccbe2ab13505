#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "server/AppDetail.h"

// The application-version document.
class AppsVersion {
public:
    AppsVersion() = default;
    static AppsVersion initWithDic(const nlohmann::json& dic);
    AppsVersion copy() const { return *this; }

    const std::vector<AppDetail>& appsList() const { return appsList_; }
    void setAppsList(std::vector<AppDetail> list) { appsList_ = std::move(list); }

private:
    std::vector<AppDetail> appsList_;
};
