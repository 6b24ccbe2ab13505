#include "httpclient/session/URLSessionManagerTaskDelegate.h"

#include "httpclient/session/URLSessionManager.h"

using namespace platform;

namespace {

// The group completion handlers run in when a manager names none.
std::shared_ptr<DispatchGroup> sessionManagerCompletionGroup()
{
    static auto group = std::make_shared<DispatchGroup>();
    return group;
}

}  // namespace

void URLSessionManagerTaskDelegate::didSendBodyData(std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend)
{
    progress->setTotalUnitCount(totalBytesExpectedToSend);
    progress->setCompletedUnitCount(totalBytesSent);
}

void URLSessionManagerTaskDelegate::didReceiveData(const Bytes& data)
{
    mutableData.insert(mutableData.end(), data.begin(), data.end());
}

void URLSessionManagerTaskDelegate::didWriteData(std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite)
{
    progress->setTotalUnitCount(totalBytesExpectedToWrite);
    progress->setCompletedUnitCount(totalBytesWritten);
}

void URLSessionManagerTaskDelegate::didResumeAtOffset(std::int64_t fileOffset, std::int64_t expectedTotalBytes)
{
    progress->setTotalUnitCount(expectedTotalBytes);
    progress->setCompletedUnitCount(fileOffset);
}

void URLSessionManagerTaskDelegate::didFinishDownloadingToURL(URLSession& session, URLSessionTask& task, const std::string& location)
{
    downloadFileURL.reset();
    moveError.reset();
    if (!downloadTaskDidFinishDownloading) return;
    downloadFileURL = downloadTaskDidFinishDownloading(session, task, location);
    if (!downloadFileURL) return;
    if (auto owner = manager.lock()) moveError = owner->moveDownloadedFile(task, location, *downloadFileURL);
}

void URLSessionManagerTaskDelegate::didCompleteWithError(URLSessionTask& task, const std::optional<Error>& error)
{
    auto owner = manager.lock();
    if (!owner) return;
    auto serializer = owner->responseSerializer();
    auto info = std::make_shared<UserInfo>();
    (*info)[NetworkingTaskDidCompleteResponseSerializerKey] = serializer;
    const Bytes data = mutableData;
    if (downloadFileURL)
        (*info)[NetworkingTaskDidCompleteAssetPathKey] = *downloadFileURL;
    else
        (*info)[NetworkingTaskDidCompleteResponseDataKey] = data;

    auto keep = task.shared_from_this();
    const std::optional<URLResponse> response = task.response();
    Dispatch& dispatch = owner->dispatch();
    NotificationCenter* center = &owner->notificationCenter();
    Queue* queue = owner->completionQueue ? owner->completionQueue : &dispatch.main();
    auto group = owner->completionGroup ? owner->completionGroup : sessionManagerCompletionGroup();
    auto handler = completionHandler;
    // Reports on the completion queue, then posts the completion on the main queue.
    auto report = [&dispatch, center, queue, group, handler, keep, response, info](std::any object, std::optional<Error> failure) {
        group->enter();
        queue->async([&dispatch, center, group, handler, keep, response, info, object, failure] {
            if (handler) handler(response, object, failure);
            dispatch.main().async([center, keep, info] { center->post(NetworkingTaskDidCompleteNotification, keep.get(), *info); });
            group->leave();
        });
    };

    // A download that could not be put where the caller wanted it is a failure, not a success.
    if (const std::optional<Error> failure = error ? error : moveError) {
        (*info)[NetworkingTaskDidCompleteErrorKey] = *failure;
        return report(std::any(), failure);
    }
    dispatch.global(Priority::Default).async([serializer, response, data, asset = downloadFileURL, info, report] {
        std::optional<Error> serializationError;
        std::any object = serializer->responseObjectForResponse(response ? &*response : nullptr, data, &serializationError);
        if (asset) object = *asset;
        if (object.has_value()) (*info)[NetworkingTaskDidCompleteSerializedResponseKey] = object;
        if (serializationError) (*info)[NetworkingTaskDidCompleteErrorKey] = *serializationError;
        report(object, serializationError);
    });
}
