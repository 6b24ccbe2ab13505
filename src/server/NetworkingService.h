#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/Bytes.h"
#include "platform/bundle/Configuration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/error/Error.h"
#include "platform/url/URLRequest.h"
#include "server/ZipArchive.h"

class NetworkReachabilityManager;

// Downloads one prepared request into a file and reports the outcome on the background queue; tells its
// caller whenever the network's reachability changes. Owned by a shared_ptr: a download keeps the
// service alive until its outcome is reported.
class NetworkingService : public std::enable_shared_from_this<NetworkingService> {
public:
    using SuccessBlock = std::function<void(std::optional<Bytes> data)>;
    using FailureBlock = std::function<void(const platform::Error& error)>;
    using ReachabilityBlock = std::function<void(bool reachable)>;

    // What one download may take: past either bound it is cancelled and fails; one that trickles below the
    // floor fails as a stalled one does.
    struct Limits {
        // Archives come in as large as the unpacker takes them; documents and pictures are small.
        std::uint64_t archiveBytes = ZipArchiveLimits{}.maxTotalBytes;
        std::uint64_t otherBytes = 8ull * 1024 * 1024;
        double seconds = 900;
        // A download that moves fewer bytes than this in that many seconds has as good as stalled.
        std::uint64_t slowBytes = 1024;
        double slowSeconds = 30;
        // What a download into memory may hold: an effect archive is about a megabyte, and a server that
        // sends more than this fails the download before it takes the memory.
        std::uint64_t heldBytes = 32ull * 1024 * 1024;

        // The time limit from the "Configuration" table, the byte limits as above.
        static Limits fromConfiguration(const platform::Configuration& configuration);
    };

    // Without a manager, the process-wide one is used; without limits, those of the main bundle's table.
    explicit NetworkingService(platform::Dispatch& dispatch, NetworkReachabilityManager* reachabilityManager = nullptr,
                               std::optional<Limits> limits = std::nullopt);

    // Exactly one block runs later, on the background queue. A failed download leaves no file behind;
    // a ".zip" file is left in place and reported without data; any other file is read and handed over.
    void downloadAPISuccess(SuccessBlock success, FailureBlock failure, const platform::URLRequest& request,
                            const std::string& urlString);
    // The same into memory, for a body used once and never kept on disk: the success block is handed the
    // body (empty when the server sent none). A body beyond the held-bytes limit fails the download.
    void downloadIntoMemory(SuccessBlock success, FailureBlock failure, const platform::URLRequest& request);
    // Replaces the manager's status block and (re)starts monitoring; the block hears the first status and
    // every change, on the background queue.
    void requestInternetConnectWithBlock(ReachabilityBlock block);

    std::optional<Bytes> dataResponse() const;

private:
    // The request under the time and stall limits.
    platform::URLRequest bounded(const platform::URLRequest& request) const;
    void downloadSucceeded(const std::string& path, const SuccessBlock& success, const FailureBlock& failure);

    platform::Dispatch& m_dispatch;
    NetworkReachabilityManager* m_reachabilityManager;
    Limits m_limits;
    // Two downloads of one service may finish at once on different pool threads.
    mutable std::mutex m_dataMutex;
    std::optional<Bytes> m_dataResponse;
};
