#include <atomic>
#include <filesystem>

#include "common/Log.h"
#include "library/CommonUtils.h"
#include "library/CommonUtilsServerDelegate.h"
#include "library/store/OKVLocalFileController.h"
#include "platform/files/FileManager.h"
#include "platform/files/SafeName.h"
#include "server/OKVServerController.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kApplicationName = "Tonvault";

// The last server reachability the interface was told, for the whole process.
std::atomic<bool> g_lastServerReachability{true};

}  // namespace

void CommonUtils::setServerClientFactory(ServerClientFactory factory)
{
    std::lock_guard lock(m_serverMutex);
    m_serverClientFactory = std::move(factory);
}

std::shared_ptr<OKVServerDelegate> CommonUtils::serverDelegate()
{
    return std::make_shared<CommonUtilsServerDelegate>(*this, m_state, m_alive);
}

std::shared_ptr<OKVServerController> CommonUtils::makeServerClient()
{
    ServerClientFactory factory;
    {
        std::lock_guard lock(m_serverMutex);
        factory = m_serverClientFactory;
    }
    auto client = factory ? factory() : OKVServerController::create(m_dispatch, m_rootPath, m_configuration);
    if (client) client->setDelegate(serverDelegate());
    return client;
}

void CommonUtils::requestServerConnected()
{
    m_dispatch.global(platform::Priority::Low).async([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.lock()) return;
        if (auto client = makeServerClient()) client->requestServerConnection();
    });
}

void CommonUtils::syncEffect()
{
    post([this] {
        m_synchronizationCodeServer = createSynchronizationCode();
        tell([code = m_synchronizationCodeServer](CommonUtilsDelegate& d) { d.didDoSynchronizationActionServer(code); });
        m_dispatch.global(platform::Priority::Low).async([this, alive = std::weak_ptr<bool>(m_alive)] {
            if (!alive.lock()) return;
            if (auto client = makeServerClient()) client->internetConnection();
        });
    });
}

void CommonUtils::internetConnectionWithState(bool state)
{
    post([this, state] {
        m_isConnectingInternet = state;
        if (!state) {
            tell([](CommonUtilsDelegate& d) { d.internetNoConnect(); });
            return;
        }
        if (auto client = makeServerClient()) client->getAllQFXFileFromServer();
        m_isRetry = true;
    });
}

void CommonUtils::connectServer(bool state)
{
    post([this, state] {
        if (state == g_lastServerReachability.load() && !m_isRetry) return;
        g_lastServerReachability = state;
        tell([state](CommonUtilsDelegate& d) { d.serverConnectWithState(state); });
    });
}

void CommonUtils::downloadFileSuccess(bool success)
{
    post([this, success] {
        if (!success) return;
        const auto listing = m_localFileController.getAllFileInFolderPath(kStoreEffect, "QF2", true);
        m_effectListFromServer.clear();
        if (const auto* entries = std::get_if<std::vector<MappingObject>>(&listing)) m_effectListFromServer = *entries;
        m_effectStoreListed = true;
        mergeEffectNow();
        if (m_isEjectedDevice) {
            // Cleared first, so the connection handler does not start another synchronisation.
            m_isEjectedDevice = false;
            connectionWithState(1, 1);
        } else {
            connectDevice();
        }
    });
}

void CommonUtils::appVersionFromServer(const std::optional<AppsVersion>& document)
{
    post([this, document] {
        if (!document) return;
        for (const AppDetail& app : document->appsList()) {
            if (app.appName() != kApplicationName) continue;
            if (checkVersionServer(app.appVersionMac(), m_applicationVersion))
                tell([local = m_applicationVersion, server = app.appVersionMac()](CommonUtilsDelegate& d) {
                    d.applicationDidHaveUpdateWithCurentVersion(local, server);
                });
            return;
        }
    });
}

void CommonUtils::modelVersionFromServer(const std::optional<ModelsVersion>& document)
{
    post([this, document] {
        if (!document) return;
        m_modelVersionData = document;
        compareModelVersion();
    });
}

void CommonUtils::compareModelVersion()
{
    post([this] {
        if (!m_modelVersionData || m_deviceID == 0 || !m_isConnectDevice) return;
        const std::string deviceVersion = getDeviceVersion().value_or(std::string());
        for (const ModelDetail& model : m_modelVersionData->modelsList()) {
            if (model.modelIdInt() != m_deviceID) continue;
            if (checkVersionServer(model.modelVersion(), deviceVersion))
                tell([deviceVersion, server = model.modelVersion()](CommonUtilsDelegate& d) {
                    d.deviceDidHaveUpdateWithCurentVersion(deviceVersion, server);
                });
            return;
        }
    });
}

void CommonUtils::downloadImageSuccess(bool success)
{
    // The pictures are fetched anew, their folder emptied first, while the unit may be connecting: the
    // picture read at the connection can be missing, so the interface looks again when one arrives.
    if (!success) return;
    post([this] {
        if (m_isConnectDevice) tell([](CommonUtilsDelegate& d) { d.deviceImageDidArrive(); });
    });
}

void CommonUtils::getImageDevice(std::function<void(std::optional<platform::BitmapImageRep>)> done)
{
    auto hand = [this, done = std::move(done)](std::optional<platform::BitmapImageRep> image) {
        m_dispatch.main().async([alive = std::weak_ptr<bool>(m_alive), done, image = std::move(image)]() mutable {
            if (alive.lock()) done(std::move(image));
        });
    };
    std::optional<AllQFXModels> model;
    {
        std::lock_guard lock(m_publishedMutex);
        if (!m_published.isConnectDevice) return hand(std::nullopt);
        if (m_published.allQFXData && m_published.allQFXData->modelsList())
            for (const AllQFXModels& candidate : *m_published.allQFXData->modelsList())
                if (candidate.modelIdInt() == m_published.deviceID) {
                    model = candidate;
                    break;
                }
    }
    const std::string code = createSynchronizationCode();
    tell([code](CommonUtilsDelegate& d) { d.didDoSynchronizationActionDevice(code); });
    std::string file;
    if (model) {
        post([this, effects = model->effectsList()] { m_effectListOfModelFromAllQFX = effects; });
        // The picture comes from the store the server synchronisation keeps; the interface thread never
        // waits on the network for it, nor decodes what the server sent.
        if (platform::SafeName::check(model->modelIDString() + ".png"))
            file = (fs::path(pathUnderRoot(kStoreImage)) / (model->modelIDString() + ".png")).string();
    }
    m_pictureQueue->async([this, alive = std::weak_ptr<bool>(m_alive), file, code, hand = std::move(hand)] {
        if (!alive.lock()) return;
        std::optional<platform::BitmapImageRep> image;
        if (!file.empty()) {
            const auto bytes = m_files.readFile(file);
            if (bytes && !bytes->empty()) image = platform::BitmapImageRep::imageRepWithData(bytes->data(), bytes->size());
        }
        tell([code](CommonUtilsDelegate& d) { d.didFinishSynchronizationActionDevice(code); });
        hand(std::move(image));
    });
}
