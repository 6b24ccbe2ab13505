#pragma once

#include <string>

#include <nlohmann/json.hpp>

// One application of the application-version document.
class AppDetail {
public:
    AppDetail() = default;
    static AppDetail initWithDic(const nlohmann::json& dic);
    AppDetail copy() const { return *this; }

    const std::string& appName() const { return appName_; }
    void setAppName(std::string v) { appName_ = std::move(v); }
    const std::string& appVersion() const { return appVersion_; }
    void setAppVersion(std::string v) { appVersion_ = std::move(v); }
    const std::string& appVersionWin() const { return appVersionWin_; }
    void setAppVersionWin(std::string v) { appVersionWin_ = std::move(v); }
    const std::string& appVersionMac() const { return appVersionMac_; }
    void setAppVersionMac(std::string v) { appVersionMac_ = std::move(v); }

private:
    std::string appName_;
    std::string appVersion_;
    std::string appVersionWin_;
    std::string appVersionMac_;
};
