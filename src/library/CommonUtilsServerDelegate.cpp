#include "library/CommonUtilsServerDelegate.h"

#include "library/CommonUtils.h"

CommonUtilsServerDelegate::CommonUtilsServerDelegate(CommonUtils& utils, std::shared_ptr<platform::SerialQueue> state,
                                                     std::weak_ptr<bool> alive)
    : m_utils(utils), m_state(std::move(state)), m_alive(std::move(alive))
{
}

void CommonUtilsServerDelegate::deliver(std::function<void(CommonUtils&)> report)
{
    // The coordinator's destructor clears `alive` on the state queue, so a report that finds it set there
    // runs before the coordinator goes.
    m_state->async([utils = &m_utils, alive = m_alive, report = std::move(report)] {
        if (alive.lock()) report(*utils);
    });
}

void CommonUtilsServerDelegate::appVersionFromServer(std::optional<AppsVersion> appsVersion)
{
    deliver([appsVersion = std::move(appsVersion)](CommonUtils& u) { u.appVersionFromServer(appsVersion); });
}

void CommonUtilsServerDelegate::modelVersionFromServer(std::optional<ModelsVersion> modelsVersion)
{
    deliver([modelsVersion = std::move(modelsVersion)](CommonUtils& u) { u.modelVersionFromServer(modelsVersion); });
}

void CommonUtilsServerDelegate::dataFromServer(std::optional<AllQFXData> data)
{
    deliver([data = std::move(data)](CommonUtils& u) { u.dataFromServer(data); });
}

void CommonUtilsServerDelegate::downloadFileSuccess(bool success)
{
    deliver([success](CommonUtils& u) { u.downloadFileSuccess(success); });
}

void CommonUtilsServerDelegate::connectServer(bool connected)
{
    deliver([connected](CommonUtils& u) { u.connectServer(connected); });
}

void CommonUtilsServerDelegate::downloadImageSuccess(bool success)
{
    deliver([success](CommonUtils& u) { u.downloadImageSuccess(success); });
}

void CommonUtilsServerDelegate::internetConnectionWithState(bool reachable)
{
    deliver([reachable](CommonUtils& u) { u.internetConnectionWithState(reachable); });
}
