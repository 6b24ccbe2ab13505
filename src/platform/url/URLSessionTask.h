#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/error/Error.h"
#include "platform/url/OutputStream.h"
#include "platform/url/URLRequest.h"
#include "platform/url/URLResponse.h"

namespace platform {

class NotificationCenter;
class URLSession;

// Posted by every task, on the thread that called resume or suspend, when that call changed whether the
// task runs. The object is the task.
inline constexpr const char* HookedURLSessionTaskDidResumeNotification = "org.pexo.rigmora.url.session-task.resume";
inline constexpr const char* HookedURLSessionTaskDidSuspendNotification = "org.pexo.rigmora.url.session-task.suspend";
// In the user information of a failed download's error: what downloadTaskWithResumeData takes to go on.
inline constexpr const char* URLSessionDownloadTaskResumeData = "org.pexo.rigmora.url.session-task.resume-data";

enum class URLSessionTaskState : int { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

// One load of a URL session. Tasks start suspended; resume, suspend and cancel may be called from any
// thread. The session's engine fills in the request, response and counts as the load goes on.
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
public:
    enum class Kind { Data, Upload, Download };

    URLSessionTask(const URLSessionTask&) = delete;
    URLSessionTask& operator=(const URLSessionTask&) = delete;

    Kind kind() const { return m_kind; }
    std::uint64_t taskIdentifier() const { return m_identifier; }
    const URLRequest& originalRequest() const { return m_originalRequest; }
    URLRequest currentRequest() const;
    std::optional<URLResponse> response() const;
    std::optional<Error> error() const;
    URLSessionTaskState state() const;
    std::string taskDescription() const;
    void setTaskDescription(std::string description);
    std::int64_t countOfBytesReceived() const;
    std::int64_t countOfBytesExpectedToReceive() const;
    std::int64_t countOfBytesSent() const;
    // -1 when the body's size is not known in advance.
    std::int64_t countOfBytesExpectedToSend() const;

    // Not virtual on purpose: every change of the running state, by whatever caller, posts its
    // notification exactly once.
    void resume();
    void suspend();
    void cancel();
    // A download task ends as cancelled and hands over what downloadTaskWithResumeData needs to go on
    // from the bytes received so far (nothing when they cannot be continued). Runs on the delegate queue.
    void cancelByProducingResumeData(std::function<void(std::optional<Bytes>)> completion);

private:
    friend class URLSession;
    URLSessionTask(Kind kind, std::uint64_t identifier, URLRequest request, std::weak_ptr<URLSession> session,
                   NotificationCenter* center);

    // Moves to Canceling or Completed for the engine; false when the task already was past running.
    bool finishState(URLSessionTaskState state);

    const Kind m_kind;
    const std::uint64_t m_identifier;
    const URLRequest m_originalRequest;
    const std::weak_ptr<URLSession> m_session;
    NotificationCenter* const m_center;

    mutable std::mutex m_mutex;
    URLSessionTaskState m_state = URLSessionTaskState::Suspended;
    URLRequest m_currentRequest;
    std::optional<URLResponse> m_response;
    std::optional<Error> m_error;
    std::string m_description;
    std::int64_t m_received = 0;
    std::int64_t m_expectedToReceive = -1;
    std::int64_t m_sent = 0;
    std::int64_t m_expectedToSend = 0;
};

}  // namespace platform
