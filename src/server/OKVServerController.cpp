#include "server/OKVServerController.h"

#include <atomic>
#include <filesystem>

#include "common/Log.h"
#include "platform/files/LocalFileManager.h"
#include "server/AppsVersion.h"
#include "server/DownloadAPIController.h"
#include "server/DownloadTempFolder.h"
#include "server/ModelsVersion.h"
#include "server/NetworkingService.h"
#include "server/ServerJSON.h"

namespace fs = std::filesystem;
using platform::Configuration;

namespace {

// Characters a URL cannot hold, escaped as UTF-8 bytes; "%" and "#" are left as they are.
std::string addingPercentEscapes(const std::string& text)
{
    static const std::string unsafe = " \"<>\\^`{|}";
    std::string escaped;
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7F || unsafe.find(static_cast<char>(c)) != std::string::npos) {
            static const char hex[] = "0123456789ABCDEF";
            escaped += '%';
            escaped += hex[c >> 4];
            escaped += hex[c & 0xF];
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

std::optional<nlohmann::json> readStoredDocument(const std::string& path)
{
    platform::LocalFileManager files;
    auto bytes = files.readFile(path);
    if (!bytes) return std::nullopt;
    return ServerJSON::objectFromData(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

}  // namespace

std::shared_ptr<OKVServerController> OKVServerController::create(platform::Dispatch& dispatch, std::string rootFolder,
                                                                  Configuration configuration,
                                                                  NetworkReachabilityManager* reachability)
{
    return std::make_shared<OKVServerController>(dispatch, std::move(rootFolder), std::move(configuration), reachability);
}

OKVServerController::OKVServerController(platform::Dispatch& dispatch, std::string rootFolder,
                                         Configuration configuration, NetworkReachabilityManager* reachability)
    : m_dispatch(dispatch),
      m_root(std::move(rootFolder)),
      m_configuration(std::move(configuration)),
      m_reachability(reachability),
      m_resourcePath((fs::path(m_root) / kDataFolder).string()),
      m_resourceEffectPath((fs::path(m_root) / DownloadAPIController::kEffectFolder).string())
{
}

void OKVServerController::setDelegate(std::shared_ptr<OKVServerDelegate> delegate)
{
    std::lock_guard lock(m_mutex);
    m_delegate = std::move(delegate);
}

std::shared_ptr<OKVServerDelegate> OKVServerController::delegate() const
{
    std::lock_guard lock(m_mutex);
    // A controller without a delegate still runs; its reports go nowhere.
    return m_delegate ? m_delegate : std::make_shared<OKVServerDelegate>();
}

std::optional<AllQFXData> OKVServerController::allQFXDataServer() const
{
    std::lock_guard lock(m_mutex);
    return m_allQFXDataServer;
}

void OKVServerController::setAllQFXDataServer(const AllQFXData& data)
{
    std::lock_guard lock(m_mutex);
    m_allQFXDataServer = data;
}

std::string OKVServerController::storedPath(const char* name) const
{
    return (fs::path(m_resourcePath) / name).string();
}

void OKVServerController::later(std::function<void()> work)
{
    m_dispatch.global(platform::Priority::Background).async(std::move(work));
}

void OKVServerController::offMain(std::function<void()> work)
{
    if (m_dispatch.main().isCurrent()) later(std::move(work));
    else work();
}

bool OKVServerController::copyFileWithSourcePath(const std::string& sourcePath, const std::string& destinationPath)
{
    platform::LocalFileManager files;
    platform::Error error;
    if (!files.createDirectory(m_resourcePath, true, &error)) return false;
    auto bytes = files.readFile(sourcePath, &error);
    if (!bytes || !files.writeAtomically(destinationPath, *bytes, &error)) {
        RIG_LOG("storing %s failed: %s", destinationPath.c_str(), error.describe().c_str());
        return false;
    }
    return true;
}

void OKVServerController::internetConnection()
{
    auto self = shared_from_this();
    auto first = std::make_shared<std::atomic<bool>>(false);
    auto service = std::make_shared<NetworkingService>(m_dispatch, m_reachability);
    service->requestInternetConnectWithBlock([self, first](bool reachable) {
        if (first->exchange(true)) return;
        if (reachable) self->delegate()->internetConnectionWithState(true);
        else self->offlineBranch();
    });
}

void OKVServerController::offlineBranch()
{
    const std::string stored = storedPath(kStoredCatalogue);
    std::error_code error;
    if (fs::exists(stored, error)) {
        readAllQFXLocalWithPath(stored);
        return;
    }
    const std::string component =
        DownloadAPIController::lastComponentOfLink(m_configuration.string(Configuration::kServerURLAllQFX));
    const auto left = DownloadTempFolder::latest((fs::path(m_root) / DownloadAPIController::kTempFolder).string(), component);
    if (left) {
        if (readAllQFXLocalWithPath(*left)) copyFileWithSourcePath(*left, stored);
        return;
    }
    delegate()->internetConnectionWithState(false);
}

bool OKVServerController::readAllQFXLocalWithPath(const std::string& path)
{
    platform::LocalFileManager files;
    if (!files.readFile(path)) {
        delegate()->dataFromServer(std::nullopt);
        delegate()->connectServer(false);
        return false;
    }
    auto document = readStoredDocument(path);
    const AllQFXData data = document ? AllQFXData::initWithDic(*document) : AllQFXData();
    // An error document stored by an earlier run is as useless as an unreadable file.
    if (!document || data.isError()) {
        delegate()->dataFromServer(std::nullopt);
        return false;
    }
    setAllQFXDataServer(data);
    delegate()->dataFromServer(data);
    delegate()->downloadFileSuccess(true);
    return true;
}

void OKVServerController::getAllQFXFileFromServer()
{
    auto self = shared_from_this();
    offMain([self] {
        DownloadTempFolder::wipe((fs::path(self->m_root) / DownloadAPIController::kTempFolder).string());
        self->downloadAllQFXWithURLString(self->m_configuration.string(Configuration::kServerURLAllQFX),
                                          self->storedPath(kStoredCatalogue));
    });
}

void OKVServerController::downloadAllQFXWithURLString(const std::string& urlString, const std::string& fileLocalPath)
{
    auto self = shared_from_this();
    DownloadAPIController::create(m_dispatch, m_root, m_configuration)
        ->requestGetAPI(
            [self, fileLocalPath](bool success, std::optional<nlohmann::json> document, std::optional<std::string> path,
                                  std::optional<platform::Error>) {
                self->later([self] { self->getAppVersionFromServer(); });
                const AllQFXData data =
                    success && document && path ? AllQFXData::initWithDic(*document) : AllQFXData();
                // A failed transfer, an empty or unreadable reply and an error document all leave the
                // stored catalogue as it is and use it.
                if (!success || !document || !path || data.isError()) {
                    self->getFileServerInLocal();
                    return;
                }
                self->setAllQFXDataServer(data);
                // The diff compares with the stored catalogue, so it runs before the new one is stored. Every
                // report comes once the document is stored: whatever acts on it (quitting, the next run's
                // diff) finds the new copy, not the old one or none.
                const auto list = self->getEffectNew();
                self->copyFileWithSourcePath(*path, fileLocalPath);
                self->delegate()->dataFromServer(data);
                self->later([self, list, data] {
                    if (list.empty()) {
                        self->delegate()->downloadFileSuccess(true);
                        self->downloadImageWithData(data.copy());
                    } else {
                        self->downloadEffectServerWithList(list);
                    }
                });
            },
            urlString);
}

void OKVServerController::fetchVersionDocument(const std::string& url, const std::string& storedPath,
                                               std::function<void(const nlohmann::json*)> deliver,
                                               std::function<void()> next)
{
    auto self = shared_from_this();
    DownloadAPIController::create(m_dispatch, m_root, m_configuration)
        ->requestGetAPI(
            [self, storedPath, deliver, next](bool success, std::optional<nlohmann::json> document,
                                              std::optional<std::string> path, std::optional<platform::Error>) {
                if (next) self->later(next);
                if (success && document && document->is_object()) {
                    // Stored before it is reported, as the catalogue is.
                    if (path) self->copyFileWithSourcePath(*path, storedPath);
                    deliver(&*document);
                    return;
                }
                std::error_code error;
                if (!fs::exists(storedPath, error)) {
                    deliver(nullptr);
                    return;
                }
                if (auto stored = readStoredDocument(storedPath)) deliver(&*stored);
            },
            url);
}

void OKVServerController::getAppVersionFromServer()
{
    auto self = shared_from_this();
    fetchVersionDocument(
        addingPercentEscapes(m_configuration.string(Configuration::kServerURLAppVersion)), storedPath(kStoredAppsVersion),
        [self](const nlohmann::json* document) {
            self->delegate()->appVersionFromServer(document ? std::optional(AppsVersion::initWithDic(*document))
                                                            : std::nullopt);
        },
        [self] { self->getModelVersionFromServer(); });
}

void OKVServerController::getModelVersionFromServer()
{
    auto self = shared_from_this();
    fetchVersionDocument(
        m_configuration.string(Configuration::kServerURLModelVersion), storedPath(kStoredModelsVersion),
        [self](const nlohmann::json* document) {
            self->delegate()->modelVersionFromServer(document ? std::optional(ModelsVersion::initWithDic(*document))
                                                              : std::nullopt);
        },
        nullptr);
}

void OKVServerController::requestServerConnection()
{
    auto self = shared_from_this();
    offMain([self] {
        auto requests = DownloadAPIController::create(self->m_dispatch, self->m_root, self->m_configuration);
        self->delegate()->connectServer(
            requests->checkServerConnectWithURLString(self->m_configuration.string(Configuration::kServerURLAllQFX)));
    });
}

void OKVServerController::getFileServerInLocal()
{
    // readAllQFXLocalWithPath reports the catalogue and the ready store; here the store is checked first.
    const std::string stored = storedPath(kStoredCatalogue);
    std::error_code error;
    auto document = fs::exists(stored, error) ? readStoredDocument(stored) : std::nullopt;
    const AllQFXData data = document ? AllQFXData::initWithDic(*document) : AllQFXData();
    if (!document || data.isError()) {
        delegate()->dataFromServer(std::nullopt);
        delegate()->connectServer(false);
        return;
    }
    setAllQFXDataServer(data);
    delegate()->dataFromServer(data);
    if (checkEffectFolderInLocal()) {
        delegate()->downloadFileSuccess(true);
        return;
    }
    std::error_code ignored;
    fs::remove(storedPath(kEffectDownloadFail), ignored);
    auto self = shared_from_this();
    later([self, data] { self->downloadEffectWithData(data); });
}

void OKVServerController::downloadImageWithData(const AllQFXData& data)
{
    // Each picture replaces its model's old one only when a good one arrives, so a failed request keeps the
    // old one; the pictures of models the catalogue no longer lists go now, as nothing would replace them.
    const auto& models = data.modelsList() ? *data.modelsList() : std::vector<AllQFXModels>{};
    std::set<std::string> listed;
    for (const auto& model : models) listed.insert(model.modelIDString() + ".png");
    const fs::path folder = fs::path(m_root) / DownloadAPIController::kImageFolder;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (listed.count(it->path().filename().string())) continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
    auto self = shared_from_this();
    auto requests = DownloadAPIController::create(m_dispatch, m_root, m_configuration);
    for (const auto& model : models)
        requests->requestImage(
            [self](bool success, std::optional<std::string>, std::optional<platform::Error>) {
                self->delegate()->downloadImageSuccess(success);
            },
            model.jpegImage(), model.modelIDString());
}
