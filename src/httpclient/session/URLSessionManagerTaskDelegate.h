#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/error/Error.h"
#include "platform/url/Progress.h"
#include "platform/url/URLSession.h"

class URLSessionManager;
using platform::Bytes;

// The caller's side of one task of a session manager: the body collected so far, the progress, where a
// download goes, and the completion handler. Used on the manager's delegate queue only.
class URLSessionManagerTaskDelegate {
public:
    using CompletionHandler = std::function<void(const std::optional<platform::URLResponse>& response,
                                                 const std::any& responseObject, const std::optional<platform::Error>& error)>;
    using DestinationBlock = std::function<std::optional<std::string>(platform::URLSession& session,
                                                                      platform::URLSessionTask& task,
                                                                      const std::string& location)>;

    std::weak_ptr<URLSessionManager> manager;
    Bytes mutableData;
    std::shared_ptr<platform::Progress> progress = std::make_shared<platform::Progress>(0);
    std::optional<std::string> downloadFileURL;
    DestinationBlock downloadTaskDidFinishDownloading;
    CompletionHandler completionHandler;
    // Why a finished download could not be put where the caller wanted it.
    std::optional<platform::Error> moveError;

    void didSendBodyData(std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend);
    void didReceiveData(const Bytes& data);
    void didWriteData(std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite);
    void didResumeAtOffset(std::int64_t fileOffset, std::int64_t expectedTotalBytes);
    void didFinishDownloadingToURL(platform::URLSession& session, platform::URLSessionTask& task, const std::string& location);
    void didCompleteWithError(platform::URLSessionTask& task, const std::optional<platform::Error>& error);
};
