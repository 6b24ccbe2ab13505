#include "server/NetworkingService.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "httpclient/HTTPRequestOperation.h"
#include "httpclient/NetworkReachabilityManager.h"
#include "platform/bundle/Bundle.h"
#include "platform/url/FileOutputStream.h"
#include "platform/url/MemoryOutputStream.h"
#include "platform/url/URLError.h"

namespace {

// The whole file, read without keeping it in the page cache for later.
std::optional<Bytes> readUncached(const std::string& path, std::optional<platform::Error>& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = platform::makePOSIXError(errno, "cannot open " + path);
        return std::nullopt;
    }
    Bytes data;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0) data.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t buffer[65536];
    while (true) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            error = platform::makePOSIXError(errno, "cannot read " + path);
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0) break;
        data.insert(data.end(), buffer, buffer + count);
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    return data;
}

bool isArchive(const std::string& path)
{
    return std::filesystem::path(path).extension() == ".zip";
}

}  // namespace

NetworkingService::Limits NetworkingService::Limits::fromConfiguration(const platform::Configuration& configuration)
{
    Limits limits;
    limits.seconds = configuration.floating(platform::Configuration::kDownload_Time_Limit);
    return limits;
}

NetworkingService::NetworkingService(platform::Dispatch& dispatch, NetworkReachabilityManager* reachabilityManager,
                                     std::optional<Limits> limits)
    : m_dispatch(dispatch),
      m_reachabilityManager(reachabilityManager),
      m_limits(limits ? *limits : Limits::fromConfiguration(platform::Configuration::load(platform::Bundle::main())))
{
}

platform::URLRequest NetworkingService::bounded(const platform::URLRequest& request) const
{
    // A body that never ends, or ends only after years of single bytes, must not fill the disk, the
    // memory it is read into, or the wait.
    platform::URLRequest result = request;
    if (result.totalTimeoutInterval <= 0 || result.totalTimeoutInterval > m_limits.seconds)
        result.totalTimeoutInterval = m_limits.seconds;
    result.slowTransferBytes = m_limits.slowBytes;
    result.slowTransferInterval = m_limits.slowSeconds;
    return result;
}

void NetworkingService::downloadIntoMemory(SuccessBlock success, FailureBlock failure, const platform::URLRequest& request)
{
    auto operation = std::make_shared<HTTPRequestOperation>(m_dispatch, bounded(request));
    auto memory = std::make_shared<platform::MemoryOutputStream>();
    memory->setMaximumLength(m_limits.heldBytes);
    operation->setOutputStream(memory);
    // Straight to the background queue: the body never passes the main thread.
    platform::Queue* background = &m_dispatch.global(platform::Priority::Background);
    operation->setCompletionQueue(background);
    auto self = shared_from_this();
    operation->setCompletionBlockWithSuccess(
        [self, success](HTTPRequestOperation& finished, const std::any&) {
            std::optional<Bytes> data = finished.responseData();
            finished.setResponseData(std::nullopt);
            if (!data) data.emplace();
            if (success) success(std::move(data));
        },
        [self, failure](HTTPRequestOperation&, const platform::Error& error) {
            if (failure) failure(error);
        });
    operation->start();
}

void NetworkingService::downloadAPISuccess(SuccessBlock success, FailureBlock failure, const platform::URLRequest& request,
                                           const std::string& urlString)
{
    auto operation = std::make_shared<HTTPRequestOperation>(m_dispatch, bounded(request));
    auto file = std::make_shared<platform::FileOutputStream>(urlString, false);
    file->setMaximumLength(isArchive(urlString) ? m_limits.archiveBytes : m_limits.otherBytes);
    operation->setOutputStream(file);
    auto self = shared_from_this();
    operation->setCompletionBlockWithSuccess(
        [self, urlString, success, failure](HTTPRequestOperation&, const std::any&) {
            self->m_dispatch.global(platform::Priority::Background).async([self, urlString, success, failure] {
                self->downloadSucceeded(urlString, success, failure);
            });
        },
        [self, urlString, failure](HTTPRequestOperation&, const platform::Error& error) {
            self->m_dispatch.global(platform::Priority::Background).async([urlString, failure, error] {
                std::error_code ignored;
                if (!urlString.empty()) std::filesystem::remove(urlString, ignored);
                if (failure) failure(error);
            });
        });
    operation->start();
}

void NetworkingService::downloadSucceeded(const std::string& path, const SuccessBlock& success, const FailureBlock& failure)
{
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error)) {
        if (failure) failure(platform::Error::make("filePath", 100, "file nil"));
        return;
    }
    if (isArchive(path)) {
        if (success) success(std::nullopt);
        return;
    }
    std::optional<platform::Error> readError;
    std::optional<Bytes> data = readUncached(path, readError);
    if (!data) {
        if (failure) failure(*readError);
        return;
    }
    {
        std::lock_guard lock(m_dataMutex);
        m_dataResponse = data;
    }
    if (success) success(std::move(data));
}

std::optional<Bytes> NetworkingService::dataResponse() const
{
    std::lock_guard lock(m_dataMutex);
    return m_dataResponse;
}

void NetworkingService::requestInternetConnectWithBlock(ReachabilityBlock block)
{
    NetworkReachabilityManager& manager =
        m_reachabilityManager ? *m_reachabilityManager : NetworkReachabilityManager::sharedManager();
    platform::Dispatch* dispatch = &m_dispatch;
    manager.setReachabilityStatusChangeBlock([dispatch, block](NetworkReachabilityStatus status) {
        const bool reachable = status == kNetworkReachabilityStatusReachableViaWWAN ||
                               status == kNetworkReachabilityStatusReachableViaWiFi;
        dispatch->global(platform::Priority::Background).async([block, reachable] {
            if (block) block(reachable);
        });
    });
    manager.startMonitoring();
}
