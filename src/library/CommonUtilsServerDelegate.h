#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/SerialQueue.h"
#include "server/OKVServerDelegate.h"

class CommonUtils;

// The coordinator as the server client's delegate. A server client may outlive the coordinator it
// reports to, so every report goes onto the coordinator's state queue and reaches it only while it lives.
class CommonUtilsServerDelegate final : public OKVServerDelegate {
public:
    CommonUtilsServerDelegate(CommonUtils& utils, std::shared_ptr<platform::SerialQueue> state,
                              std::weak_ptr<bool> alive);

    void appVersionFromServer(std::optional<AppsVersion> appsVersion) override;
    void modelVersionFromServer(std::optional<ModelsVersion> modelsVersion) override;
    void dataFromServer(std::optional<AllQFXData> data) override;
    void downloadFileSuccess(bool success) override;
    void connectServer(bool connected) override;
    void downloadImageSuccess(bool success) override;
    void internetConnectionWithState(bool reachable) override;

private:
    void deliver(std::function<void(CommonUtils&)> report);

    CommonUtils& m_utils;
    std::shared_ptr<platform::SerialQueue> m_state;
    std::weak_ptr<bool> m_alive;
};
