#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/error/Error.h"
#include "platform/url/AuthenticationChallenge.h"
#include "platform/url/OutputStream.h"
#include "platform/url/URLRequest.h"
#include "platform/url/URLResponse.h"

namespace platform {

class InputStream;
class URLSession;
class URLSessionTask;

// Answers to an authentication challenge, numbered as callers of the loading layer know them.
enum class URLSessionAuthChallengeDisposition : int {
    UseCredential = 0,
    PerformDefaultHandling = 1,
    CancelAuthenticationChallenge = 2,
    RejectProtectionSpace = 3,
};
// Answers to a data task's response: cancel the task or let the body come.
enum class URLSessionResponseDisposition : int { Cancel = 0, Allow = 1 };

using URLSessionChallengeCompletion =
    std::function<void(URLSessionAuthChallengeDisposition, std::optional<URLCredential>)>;

// What a URL session tells its delegate, one call at a time on the session's delegate queue. A call
// that takes a completion lets the task wait for it; the completion may be called from any thread, once.
// The defaults are the session's own behaviour.
class URLSessionDelegate {
public:
    virtual ~URLSessionDelegate() = default;

    // The last call: the session has ended (error only when it ended abnormally).
    virtual void didBecomeInvalidWithError(URLSession&, const std::optional<Error>&) {}
    // Whether server-trust challenges go to didReceiveChallenge rather than to the task's.
    virtual bool handlesSessionChallenges() const { return false; }
    // A server-trust challenge of a connection (while its handshake waits).
    virtual void didReceiveChallenge(URLSession&, AuthenticationChallenge&, URLSessionChallengeCompletion completion)
    {
        completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    }

    // A redirect: the request to follow it with, or nothing to take the redirect response as the answer.
    virtual void willPerformHTTPRedirection(URLSession&, URLSessionTask&, const URLResponse&, URLRequest request,
                                            std::function<void(std::optional<URLRequest>)> completion)
    {
        completion(std::move(request));
    }
    // A challenge of one task: server trust (when the session-level call is not taken) or an HTTP 401.
    virtual void taskDidReceiveChallenge(URLSession&, URLSessionTask&, AuthenticationChallenge&,
                                         URLSessionChallengeCompletion completion)
    {
        completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    }
    // A streamed body has to be sent again (a 307/308 redirect, an authentication retry): a fresh stream
    // of the same bytes, or nothing to fail the task.
    virtual void needNewBodyStream(URLSession&, URLSessionTask&, std::function<void(std::shared_ptr<InputStream>)> completion)
    {
        completion(nullptr);
    }
    virtual void didSendBodyData(URLSession&, URLSessionTask&, std::int64_t /*bytesSent*/, std::int64_t /*totalBytesSent*/,
                                 std::int64_t /*totalBytesExpectedToSend*/)
    {
    }
    virtual void didCompleteWithError(URLSession&, URLSessionTask&, const std::optional<Error>&) {}

    // Data and upload tasks.
    virtual void didReceiveResponse(URLSession&, URLSessionTask&, const URLResponse&,
                                    std::function<void(URLSessionResponseDisposition)> completion)
    {
        completion(URLSessionResponseDisposition::Allow);
    }
    virtual void didReceiveData(URLSession&, URLSessionTask&, const Bytes&) {}

    // Download tasks. The file at `location` is removed when this call returns unless it was moved.
    virtual void didFinishDownloadingToURL(URLSession&, URLSessionTask&, const std::string& /*location*/) {}
    virtual void didWriteData(URLSession&, URLSessionTask&, std::int64_t /*bytesWritten*/, std::int64_t /*totalBytesWritten*/,
                              std::int64_t /*totalBytesExpectedToWrite*/)
    {
    }
    virtual void didResumeAtOffset(URLSession&, URLSessionTask&, std::int64_t /*fileOffset*/, std::int64_t /*expectedTotalBytes*/) {}
};

}  // namespace platform
