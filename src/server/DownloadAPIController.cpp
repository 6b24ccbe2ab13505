#include "server/DownloadAPIController.h"

#include <cstdio>
#include <filesystem>

#include "common/Log.h"
#include "platform/files/SafeName.h"
#include "platform/image/BitmapImageRep.h"
#include "platform/text/DateText.h"
#include "platform/url/URLConnection.h"
#include "platform/url/URLError.h"
#include "server/DownloadTempFolder.h"
#include "server/NetworkingService.h"
#include "server/ZipArchiveService.h"

namespace fs = std::filesystem;
using platform::Error;
using platform::URLRequest;

namespace {

bool safe(const std::string& name, Error* why) { return platform::SafeName::check(name, why); }

}  // namespace

std::shared_ptr<DownloadAPIController> DownloadAPIController::create(platform::Dispatch& dispatch,
                                                                     std::string rootFolder,
                                                                     platform::Configuration configuration,
                                                                     std::uint64_t heldArchiveBytes)
{
    return std::make_shared<DownloadAPIController>(dispatch, std::move(rootFolder), std::move(configuration),
                                                   heldArchiveBytes);
}

DownloadAPIController::DownloadAPIController(platform::Dispatch& dispatch, std::string rootFolder,
                                             platform::Configuration configuration, std::uint64_t heldArchiveBytes)
    : m_dispatch(dispatch),
      m_root(std::move(rootFolder)),
      m_configuration(std::move(configuration)),
      m_heldArchiveBytes(heldArchiveBytes)
{
}

Error DownloadAPIController::error(ErrorCode code, const std::string& description)
{
    return Error::make(kErrorDomain, code, description);
}

std::string DownloadAPIController::lastComponentOfLink(const std::string& link)
{
    std::string path = link.substr(0, link.find_first_of("?#"));
    const auto scheme = path.find("://");
    if (scheme != std::string::npos) {
        const auto slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "" : path.substr(slash);
    }
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path.substr(path.find_last_of('/') + 1);
}

std::string DownloadAPIController::getPathWithFolderName(const std::string& name)
{
    const fs::path path = fs::path(m_root) / name;
    std::error_code ec;
    if (!fs::exists(path, ec) && !fs::create_directories(path, ec) && ec) return m_root;
    return path.string();
}

std::string DownloadAPIController::createFolderInBundleWithName(const std::string& name)
{
    if (!safe(name, nullptr)) return "";
    const fs::path path = fs::path(m_root) / kEffectFolder / name;
    std::error_code ec;
    if (fs::exists(path, ec)) return path.string();
    fs::create_directories(path, ec);
    return ec ? "" : path.string();
}

std::string DownloadAPIController::effectFolderPathWithName(const std::string& name)
{
    if (!safe(name, nullptr)) return "";
    const fs::path parent = fs::path(m_root) / kEffectFolder;
    std::error_code ec;
    if (!fs::is_directory(parent, ec) && !fs::create_directories(parent, ec) && ec) return "";
    return (parent / name).string();
}

void DownloadAPIController::failLater(const std::function<void()>& report)
{
    m_dispatch.global(platform::Priority::Background).async(report);
}

void DownloadAPIController::download(const std::string& link, const std::string& component,
                                     URLRequest::CachePolicy policy, Finish finish, Fail fail)
{
    const std::string folder = getPathWithFolderName(kTempFolder);
    {
        std::lock_guard lock(m_pathMutex);
        m_pathString = folder;
    }
    const std::string tempPath = DownloadTempFolder::claim(folder, component);
    const double timeout = static_cast<double>(m_configuration.integer(platform::Configuration::kDownload_Time_Out));
    startInTurn([weak = weak_from_this(), link, policy, timeout, tempPath, finish, fail] {
        auto self = weak.lock();
        if (!self) return;
        auto service = std::make_shared<NetworkingService>(self->m_dispatch);
        service->downloadAPISuccess(
            [self, tempPath, finish](std::optional<Bytes> data) {
                self->downloadEnded();
                finish(tempPath, std::move(data));
                DownloadTempFolder::release(tempPath);
            },
            [self, tempPath, fail](const Error& failure) {
                self->downloadEnded();
                fail(failure);
                DownloadTempFolder::release(tempPath);
            },
            URLRequest(link, timeout, policy), tempPath);
    });
}

void DownloadAPIController::startInTurn(std::function<void()> start)
{
    // A waiting download holds the controller only weakly: it starts when a download in flight ends or
    // held bytes go, and those hold the controller. Once none of them can ever report (the network has
    // stopped as the program ends) the controller goes, and what waits goes with it, unstarted.
    {
        std::lock_guard lock(m_flightMutex);
        m_waitingDownloads.push_back(std::move(start));
        start = nextToStart();
    }
    if (start) start();
}

std::function<void()> DownloadAPIController::nextToStart()
{
    if (m_waitingDownloads.empty() || m_inFlight >= kDownloadsInFlight || m_heldBytes >= m_heldArchiveBytes) return {};
    std::function<void()> next = std::move(m_waitingDownloads.front());
    m_waitingDownloads.pop_front();
    ++m_inFlight;
    return next;
}

void DownloadAPIController::downloadEnded()
{
    std::function<void()> next;
    {
        std::lock_guard lock(m_flightMutex);
        --m_inFlight;
        next = nextToStart();
    }
    if (next) next();
}

std::shared_ptr<const Bytes> DownloadAPIController::hold(Bytes archive)
{
    const std::uint64_t size = archive.size();
    {
        std::lock_guard lock(m_flightMutex);
        m_heldBytes += size;
    }
    // The bytes go wherever the unpacking or a failure takes them; whoever lets them go last frees the budget.
    return std::shared_ptr<const Bytes>(new Bytes(std::move(archive)), [self = shared_from_this(), size](const Bytes* bytes) {
        delete bytes;
        self->released(size);
    });
}

void DownloadAPIController::released(std::uint64_t size)
{
    std::function<void()> next;
    {
        std::lock_guard lock(m_flightMutex);
        m_heldBytes -= size;
        next = nextToStart();
    }
    if (next) next();
}

void DownloadAPIController::requestGetAPI(DocumentCompletion completion, const std::string& link)
{
    const std::string component = lastComponentOfLink(link);
    Error why;
    if (!safe(component, &why)) {
        failLater([completion, why] { completion(false, std::nullopt, std::nullopt, why); });
        return;
    }
    download(
        link, component, URLRequest::ReloadIgnoringLocalCacheData,
        [completion](const std::string& tempPath, std::optional<Bytes> data) {
            if (!data || data->empty()) {
                completion(false, std::nullopt, std::nullopt, std::nullopt);
                return;
            }
            auto document = nlohmann::json::parse(data->begin(), data->end(), nullptr, false);
            // A document is an object or an array, as the server writes them.
            if (document.is_discarded() || !(document.is_object() || document.is_array())) {
                completion(false, std::nullopt, tempPath, error(kNotJSON, "the reply is not a JSON document"));
                return;
            }
            completion(true, std::move(document), tempPath, std::nullopt);
        },
        [completion, component](const Error& failure) {
            completion(false, nlohmann::json{{"FileName", component}}, std::nullopt, failure);
        });
}

void DownloadAPIController::requestImage(FileCompletion completion, const std::string& link, const std::string& modelID)
{
    Error why;
    if (!safe(modelID + ".png", &why) || !safe(modelID, &why)) {
        failLater([completion, why] { completion(false, std::nullopt, why); });
        return;
    }
    // A catalogue model may come without a picture link; the transfer takes an empty address for a
    // programming error and stops the program.
    if (link.empty()) {
        const Error none = platform::makeURLError(platform::URLErrorBadURL, link, "the model has no picture link");
        failLater([completion, none] { completion(false, std::nullopt, none); });
        return;
    }
    const std::string pictureFolder = getPathWithFolderName(kImageFolder);
    download(
        link, modelID, URLRequest::UseProtocolCachePolicy,
        [completion, pictureFolder, modelID](const std::string& tempPath, std::optional<Bytes> data) {
            // A server that answers an error page, or a picture no reader would open, keeps the model's
            // old picture in place.
            Error notPicture;
            if (!data || !platform::BitmapImageRep::imageRepWithData(data->data(), data->size(), &notPicture)) {
                std::error_code ignored;
                fs::remove(tempPath, ignored);
                completion(false, std::nullopt,
                           error(kNotAPicture, "the picture of " + modelID + " is no image: " + notPicture.describe()));
                return;
            }
            const std::string finalPath = (fs::path(pictureFolder) / (modelID + ".png")).string();
            // One step that replaces the old picture of the model, so a reader never finds none.
            if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
                const std::error_code reason(errno, std::generic_category());
                std::error_code ignored;
                fs::remove(tempPath, ignored);
                completion(false, std::nullopt,
                           error(kPictureNotPlaced, "cannot place the picture " + finalPath + ": " + reason.message()));
                return;
            }
            completion(true, finalPath, std::nullopt);
        },
        [completion](const Error& failure) { completion(false, std::nullopt, failure); });
}

void DownloadAPIController::downloadArchive(const std::string& link, URLRequest::CachePolicy policy,
                                            ArchiveFinish finish, Fail fail)
{
    const double timeout = static_cast<double>(m_configuration.integer(platform::Configuration::kDownload_Time_Out));
    startInTurn([weak = weak_from_this(), link, policy, timeout, finish, fail] {
        auto self = weak.lock();
        if (!self) return;
        auto service = std::make_shared<NetworkingService>(self->m_dispatch);
        service->downloadIntoMemory(
            [self, finish](std::optional<Bytes> data) {
                // Counted as held before its place in flight frees, so the next start sees it.
                std::shared_ptr<const Bytes> archive = self->hold(std::move(data).value_or(Bytes{}));
                self->downloadEnded();
                finish(std::move(archive));
            },
            [self, fail](const Error& failure) {
                self->downloadEnded();
                fail(failure);
            },
            URLRequest(link, timeout, policy));
    });
}

void DownloadAPIController::unpack(const Bytes& archive, const std::string& link, const std::string& destination,
                                   const FileCompletion& completion)
{
    if (destination.empty()) {
        completion(false, std::nullopt, error(kNoFolder, "no effect folder for " + link));
        return;
    }
    // The unpacker swaps the new content in whole: a failed archive leaves the effect's old files usable.
    ZipArchiveService::unzipData(
        archive, link, destination,
        [&](bool success, std::optional<std::string> path, std::optional<Error> why) {
            if (success) {
                completion(true, path, std::nullopt);
                return;
            }
            completion(false, std::nullopt, error(kUnpackFailed, why ? why->describe() : "unpacking failed"));
        },
        ZipArchive::Limits{}, (fs::path(m_root) / kEffectStagingFolder).string());
}

void DownloadAPIController::unpackLater(std::shared_ptr<const Bytes> archive, const std::string& link,
                                        std::function<std::string()> destination, const FileCompletion& completion,
                                        bool ordered)
{
    auto self = shared_from_this();
    m_dispatch.computation().async(
        [self, archive = std::move(archive), link, destination = std::move(destination), completion, ordered] {
            platform::Dispatch& dispatch = self->m_dispatch;
            const FileCompletion onBackground = [&dispatch, completion](bool success, std::optional<std::string> path,
                                                                        std::optional<Error> why) {
                dispatch.global(platform::Priority::Background).async([completion, success, path, why] {
                    completion(success, path, why);
                });
            };
            if (ordered) {
                std::lock_guard lock(self->m_unpackMutex);
                self->unpack(*archive, link, destination(), onBackground);
            } else {
                self->unpack(*archive, link, destination(), onBackground);
            }
        });
}

void DownloadAPIController::requestFile(FileCompletion completion, const std::string& link, const TypeEffect& typeEffect)
{
    const std::string component = lastComponentOfLink(link);
    Error why;
    if (!safe(component, &why) || !safe(typeEffect.text, &why)) {
        failLater([completion, why] { completion(false, std::nullopt, why); });
        return;
    }
    const bool archive = fs::path(component).extension() == ".zip";
    // Not the controller itself: this waits with the download, and runs only from a download in flight,
    // which holds the controller.
    downloadArchive(
        link, URLRequest::ReloadIgnoringLocalCacheData,
        [this, completion, typeEffect, archive, link](std::shared_ptr<const Bytes> data) {
            if (!archive) {
                completion(false, std::nullopt, error(kNotAnArchive, "the effect file is not a zip archive"));
                return;
            }
            auto self = shared_from_this();
            unpackLater(
                std::move(data), link, [self, typeEffect] { return self->effectFolderPathWithName(typeEffect.text); },
                completion, false);
        },
        [completion](const Error& failure) { completion(false, std::nullopt, failure); });
}

void DownloadAPIController::requestFile(FileCompletion completion, const std::string& link, const FolderName& folderName)
{
    const std::string component = lastComponentOfLink(link);
    Error why;
    if (!safe(component, &why) || !safe(folderName.name, &why) || !safe(folderName.name + component, &why)) {
        failLater([completion, why] { completion(false, std::nullopt, why); });
        return;
    }
    const bool archive = fs::path(component).extension() == ".zip";
    // Not the controller itself, as above.
    downloadArchive(
        link, URLRequest::UseProtocolCachePolicy,
        [this, completion, folderName, component, archive, link](std::shared_ptr<const Bytes> data) {
            if (!archive) {
                completion(false, std::nullopt, error(kNotAnArchive, "the effect file is not a zip archive"));
                return;
            }
            auto self = shared_from_this();
            unpackLater(
                std::move(data), link,
                [self, folderName, component] {
                    const std::string modelFolder = self->createFolderInBundleWithName(folderName.name);
                    return modelFolder.empty() ? "" : (fs::path(modelFolder) / fs::path(component).stem()).string();
                },
                completion, true);
        },
        [completion](const Error& failure) { completion(false, std::nullopt, failure); });
}

bool DownloadAPIController::checkServerConnectWithURLString(const std::string& urlString) const
{
    URLRequest request(urlString,
                       static_cast<double>(m_configuration.integer(platform::Configuration::kTime_Out_Of_Checking_Server)),
                       URLRequest::ReloadIgnoringLocalCacheData);
    request.httpMethod = "HEAD";
    std::optional<platform::URLResponse> response;
    std::optional<Error> failure;
    platform::URLConnection::sendSynchronousRequest(request, &response, &failure);
    if (failure) RIG_LOG("server check of %s failed: %s", urlString.c_str(), failure->describe().c_str());
    return !failure && response && response->statusCode == 200;
}

std::optional<std::chrono::system_clock::time_point> DownloadAPIController::lastModificationDateOfFileAtURL(const std::string& url) const
{
    URLRequest request(url, static_cast<double>(m_configuration.integer(platform::Configuration::kDownload_Time_Out)),
                       URLRequest::ReloadIgnoringLocalCacheData);
    request.httpMethod = "HEAD";
    std::optional<platform::URLResponse> response;
    std::optional<Error> failure;
    platform::URLConnection::sendSynchronousRequest(request, &response, &failure);
    if (failure || !response || response->statusCode != 200 || response->allHeaderFields.empty()) return std::nullopt;
    if (auto modified = response->valueForHTTPHeaderField("Last-Modified"))
        if (auto date = platform::DateText::parseHttpDate(*modified)) return date;
    if (auto sent = response->valueForHTTPHeaderField("Date")) return platform::DateText::parseHttpDate(*sent);
    return std::nullopt;
}

std::string DownloadAPIController::coverFileNameWithURL(const std::string& url)
{
    std::string name;
    for (const char c : url)
        if (std::string_view(":,/ -.?=").find(c) == std::string_view::npos) name += c;
    return name;
}
