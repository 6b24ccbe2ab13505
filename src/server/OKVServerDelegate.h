#pragma once

#include <optional>

#include "server/AllQFXData.h"
#include "server/AppsVersion.h"
#include "server/ModelsVersion.h"

// What the server client reports to the coordinator. Every call comes on a background thread, never the
// main thread; the adopter moves to the main thread itself.
class OKVServerDelegate {
public:
    virtual ~OKVServerDelegate() = default;

    // The fresh document, else the stored copy's; nothing when there is no stored copy.
    virtual void appVersionFromServer(std::optional<AppsVersion> /*appsVersion*/) {}
    virtual void modelVersionFromServer(std::optional<ModelsVersion> /*modelsVersion*/) {}
    // A usable catalogue; nothing when neither the server nor the stored copy gave one.
    virtual void dataFromServer(std::optional<AllQFXData> /*data*/) {}
    // The effect store is as up to date as this run gets it.
    virtual void downloadFileSuccess(bool /*success*/) {}
    virtual void connectServer(bool /*connected*/) {}
    virtual void downloadImageSuccess(bool /*success*/) {}
    // The first reachability report: reachable, or unreachable with no stored catalogue at all.
    virtual void internetConnectionWithState(bool /*reachable*/) {}
};
