#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/bundle/Configuration.h"
#include "platform/dispatch/Dispatch.h"
#include "server/AllQFXData.h"
#include "server/OKVServerDelegate.h"

class NetworkReachabilityManager;

// The client of the maker's server. The first reachability report decides between a run against the
// server and one against the stored copies; a run fetches the effect catalogue and then, in a chain, the
// application-version and model-version documents, keeps the last good copy of each under
// "QFXMacApplication", and hands the parsed documents to the delegate. A catalogue that is missing,
// unreadable or an error document never replaces the stored one: the run falls back to the stored copy.
//
// Short-lived: one instance per entry point, kept alive by its own requests until the last one ends.
class OKVServerController : public std::enable_shared_from_this<OKVServerController> {
public:
    static constexpr const char* kDataFolder = "QFXMacApplication";
    static constexpr const char* kStoredCatalogue = "ALLQFXServer";
    static constexpr const char* kStoredAppsVersion = "AppsVersion";
    static constexpr const char* kStoredModelsVersion = "ModelsVersion";

    // Without a manager, reachability comes from the process-wide one.
    static std::shared_ptr<OKVServerController> create(platform::Dispatch& dispatch, std::string rootFolder,
                                                       platform::Configuration configuration,
                                                       NetworkReachabilityManager* reachability = nullptr);
    OKVServerController(platform::Dispatch& dispatch, std::string rootFolder, platform::Configuration configuration,
                        NetworkReachabilityManager* reachability);

    void setDelegate(std::shared_ptr<OKVServerDelegate> delegate);
    std::shared_ptr<OKVServerDelegate> delegate() const;

    // The entry points return at once; called on the main thread, their work moves to the background.
    void internetConnection();
    void getAllQFXFileFromServer();
    // The HEAD check of the catalogue address; answers connectServer.
    void requestServerConnection();

    std::optional<AllQFXData> allQFXDataServer() const;
    const std::string& resourcePath() const { return m_resourcePath; }
    const std::string& resourceEffectPath() const { return m_resourceEffectPath; }

    // Replaces the destination whole with the source's bytes; false when either step fails.
    bool copyFileWithSourcePath(const std::string& sourcePath, const std::string& destinationPath);
    // Delivers a stored catalogue; false (and dataFromServer with nothing) when it is missing, unreadable
    // or an error document.
    bool readAllQFXLocalWithPath(const std::string& path);

    // The seam to the catalogue diff and the effect downloads, which stand in here as "nothing to fetch":
    // the list of effects to download (empty), the download batch (reports the store ready), the check of
    // the effect store against a stored catalogue (complete).
    std::vector<AllQFXEffects> getEffectNew();
    void downloadEffectServerWithList(const std::vector<AllQFXEffects>& list);
    bool checkEffectFolderInLocal();
    // One picture request per model of the catalogue, into the picture folder.
    void downloadImageWithData(const AllQFXData& data);
    // The fall-back when the catalogue could not be fetched: the stored catalogue, if it is usable.
    void getFileServerInLocal();

private:
    void offMain(std::function<void()> work);
    void later(std::function<void()> work);
    void offlineBranch();
    void downloadAllQFXWithURLString(const std::string& urlString, const std::string& fileLocalPath);
    void getAppVersionFromServer();
    void getModelVersionFromServer();
    // Fetches a version document: `deliver` gets the fresh one, else the stored copy's, else nothing;
    // a stored copy that cannot be read delivers nothing at all.
    void fetchVersionDocument(const std::string& url, const std::string& storedPath,
                              std::function<void(const nlohmann::json* document)> deliver,
                              std::function<void()> next);
    void setAllQFXDataServer(const AllQFXData& data);
    std::string storedPath(const char* name) const;

    platform::Dispatch& m_dispatch;
    const std::string m_root;
    const platform::Configuration m_configuration;
    NetworkReachabilityManager* m_reachability;
    const std::string m_resourcePath;
    const std::string m_resourceEffectPath;
    mutable std::mutex m_mutex;
    std::shared_ptr<OKVServerDelegate> m_delegate;
    std::optional<AllQFXData> m_allQFXDataServer;
};
