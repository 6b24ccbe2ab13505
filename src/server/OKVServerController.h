#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/bundle/Configuration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/plist/PlistValue.h"
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

    static constexpr const char* kEffectDownloadFail = "EffectDownloadFail.plist";

    // The catalogue diff: the effects to download, from the fresh catalogue against the stored one, the
    // effect store and the failures of earlier runs; effect folders no model keeps are swept away.
    std::vector<AllQFXEffects> getEffectNew();
    // All archives at once, each unpacked into its type's folder; failures are kept in the failure list
    // for the next run, which names the whole batch until it ends. Ends with the pictures and downloadFileSuccess, also when some failed.
    void downloadEffectServerWithList(const std::vector<AllQFXEffects>& list);
    // The store holds at least as many effect files as the stored catalogue lists, less known failures.
    bool checkEffectFolderInLocal();
    // Every effect of every model again, each archive into a folder of its own under its model's folder.
    void downloadEffectWithData(const AllQFXData& data);
    // The number of distinct effect types over all models.
    static std::int32_t countEffectInData(const AllQFXData& data);
    // True when the two versions differ at all (an older server version counts too).
    static bool checkVersionServer(const std::string& versionServer, const std::string& versionLocal);
    // Removes every folder of the store that holds an effect module file and is not named in `keep`.
    void deleteEffectLocalWithEffectTypeList(const std::set<std::string>& keep);
    // The effects of the failure list not already in `types`, which gains their types; an effect the
    // fresh catalogue still lists comes back as the catalogue has it now.
    std::vector<AllQFXEffects> getEffectFailWithEffectTypeList(std::set<std::uint32_t>& types,
                                                               const AllQFXData& fresh);
    // One picture request per model of the catalogue, into the picture folder; a model's old picture stays
    // until a good new one replaces it, and the pictures of models no longer listed are removed.
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
    // Ends a download batch: the failure list replaced (or removed), the pictures, the store ready.
    void finishBatch(const std::vector<platform::PlistValue>& failures);

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
