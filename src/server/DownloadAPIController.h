#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "common/Bytes.h"
#include "platform/bundle/Configuration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/error/Error.h"
#include "platform/url/URLRequest.h"

// Turns one request of the server client into one transfer and finishes the file it brings: a JSON
// document is parsed, a model picture moved into the picture folder, an effect archive unpacked into the
// effect store. A picture replaces the model's old one only once it decodes. Names that become files (link components, type texts, model identifiers and names) are
// checked first; a bad one fails that request alone. Every completion runs exactly once, on the
// background queue.
class DownloadAPIController : public std::enable_shared_from_this<DownloadAPIController> {
public:
    static constexpr const char* kTempFolder = "OKVServerTemp";
    static constexpr const char* kImageFolder = "QFXMacApplication/Image";
    static constexpr const char* kEffectFolder = "QFXMacApplication/Effect";
    // Beside the effect store, on its file system: where an archive is unpacked before it is swapped into
    // the store, and the old content set aside. Only a killed run leaves anything in it.
    static constexpr const char* kEffectStagingFolder = "QFXMacApplication/.Effect-staging";
    static constexpr const char* kErrorDomain = "org.pexo.rigmora.server.download";
    enum ErrorCode : std::int64_t { kUnsafeName = 1, kNotJSON, kNotAnArchive, kNoFolder, kPictureNotPlaced, kUnpackFailed, kNotAPicture };

    // (success, document, the downloaded file, error)
    using DocumentCompletion = std::function<void(bool success, std::optional<nlohmann::json> document,
                                                  std::optional<std::string> filePath,
                                                  std::optional<platform::Error> error)>;
    // (success, the result's path, error)
    using FileCompletion =
        std::function<void(bool success, std::optional<std::string> path, std::optional<platform::Error> error)>;
    // The two destinations of an effect archive: the folder of its effect type, or (for the re-download
    // of a whole model) a folder of its own inside the model's folder, so a model's archives never meet.
    struct TypeEffect {
        std::string text;
    };
    struct FolderName {
        std::string name;
    };

    // Downloaded archives wait in memory for an unpacker; past this many bytes waiting, no further archive
    // starts downloading until unpacked ones free theirs.
    static constexpr std::uint64_t kHeldArchiveBytes = 64ull * 1024 * 1024;

    static std::shared_ptr<DownloadAPIController> create(platform::Dispatch& dispatch, std::string rootFolder,
                                                         platform::Configuration configuration,
                                                         std::uint64_t heldArchiveBytes = kHeldArchiveBytes);

    void requestGetAPI(DocumentCompletion completion, const std::string& link);
    void requestImage(FileCompletion completion, const std::string& link, const std::string& modelID);
    void requestFile(FileCompletion completion, const std::string& link, const TypeEffect& typeEffect);
    void requestFile(FileCompletion completion, const std::string& link, const FolderName& folderName);

    // A synchronous HEAD request: true only for status 200. Blocks for up to the server-check time-out,
    // so it never runs on the main thread.
    bool checkServerConnectWithURLString(const std::string& urlString) const;
    // A synchronous HEAD request for a document's date: its "Last-Modified", else the answer's "Date";
    // nothing on an error, another status than 200, or neither header readable. Blocks for up to the
    // download time-out.
    std::optional<std::chrono::system_clock::time_point> lastModificationDateOfFileAtURL(const std::string& url) const;
    // The URL's text without any of the characters ":,/ -.?=", a name to file it under.
    static std::string coverFileNameWithURL(const std::string& url);

    // The folder under the root, created when missing; the root itself when it cannot be.
    std::string getPathWithFolderName(const std::string& name);
    // The effect store's folder of that name, created when missing; "" when the name is unsafe or the
    // folder cannot be made.
    std::string createFolderInBundleWithName(const std::string& name);

    // The last component of a link's path, without query or fragment.
    static std::string lastComponentOfLink(const std::string& link);

    DownloadAPIController(platform::Dispatch& dispatch, std::string rootFolder, platform::Configuration configuration,
                          std::uint64_t heldArchiveBytes = kHeldArchiveBytes);

private:
    using Finish = std::function<void(const std::string& tempPath, std::optional<Bytes> data)>;
    using Fail = std::function<void(const platform::Error& error)>;
    using ArchiveFinish = std::function<void(std::shared_ptr<const Bytes> archive)>;

    // Downloads `link` into a claimed file named after `component`; calls exactly one of the two. The claim
    // ends when finish returns.
    void download(const std::string& link, const std::string& component, platform::URLRequest::CachePolicy policy,
                  Finish finish, Fail fail);
    // Downloads an archive into memory (within the service's held-bytes limit), where it is unpacked from:
    // the network thread creates and writes no file for it, and the unpacker reads none back.
    void downloadArchive(const std::string& link, platform::URLRequest::CachePolicy policy, ArchiveFinish finish,
                         Fail fail);
    void failLater(const std::function<void()>& report);
    // At most kDownloadsInFlight downloads run at once, the rest start in the order asked as others end:
    // a batch then ends one download after another, and its archives unpack while the rest still arrive.
    // None starts while the archives waiting to be unpacked hold the held-bytes budget or more.
    void startInTurn(std::function<void()> start);
    void downloadEnded();
    // The archive's bytes, counted against the budget until the last holder lets them go.
    std::shared_ptr<const Bytes> hold(Bytes archive);
    void released(std::uint64_t size);
    // Under m_flightMutex: the next waiting download when one may start now, counted in flight.
    std::function<void()> nextToStart();
    // Where the effect store's folder of that name goes, its parent made; "" when the name is unsafe or
    // the parent cannot be made. The unpacker moves its staging folder there in one rename, so no
    // folder is made only to be swapped out and removed.
    std::string effectFolderPathWithName(const std::string& name);
    void unpack(const Bytes& archive, const std::string& link, const std::string& destination,
                const FileCompletion& completion);
    // Unpacks on the computation pool (inflating holds a core for a while); the completion still runs on
    // the background queue. Ordered unpacks (a model's archives) take the unpack lock, with their
    // destination's folder made under it.
    void unpackLater(std::shared_ptr<const Bytes> archive, const std::string& link,
                     std::function<std::string()> destination, const FileCompletion& completion, bool ordered);
    static platform::Error error(ErrorCode code, const std::string& description);

    platform::Dispatch& m_dispatch;
    const std::string m_root;
    const platform::Configuration m_configuration;
    std::mutex m_pathMutex;
    std::string m_pathString;
    // Orders folder creation and unpacking of the model-folder archives of this controller.
    std::mutex m_unpackMutex;
    static constexpr int kDownloadsInFlight = 8;
    const std::uint64_t m_heldArchiveBytes;
    std::mutex m_flightMutex;
    int m_inFlight = 0;
    std::uint64_t m_heldBytes = 0;
    std::deque<std::function<void()>> m_waitingDownloads;
};
