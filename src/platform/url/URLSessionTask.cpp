#include "platform/url/URLSessionTask.h"

#include "platform/notifications/NotificationCenter.h"
#include "platform/url/URLSession.h"

namespace platform {

URLSessionTask::URLSessionTask(Kind kind, std::uint64_t identifier, URLRequest request, std::weak_ptr<URLSession> session,
                               NotificationCenter* center)
    : m_kind(kind),
      m_identifier(identifier),
      m_originalRequest(request),
      m_session(std::move(session)),
      m_center(center),
      m_currentRequest(std::move(request))
{
}

URLRequest URLSessionTask::currentRequest() const
{
    std::lock_guard lock(m_mutex);
    return m_currentRequest;
}

std::optional<URLResponse> URLSessionTask::response() const
{
    std::lock_guard lock(m_mutex);
    return m_response;
}

std::optional<Error> URLSessionTask::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

URLSessionTaskState URLSessionTask::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

std::string URLSessionTask::taskDescription() const
{
    std::lock_guard lock(m_mutex);
    return m_description;
}

void URLSessionTask::setTaskDescription(std::string description)
{
    std::lock_guard lock(m_mutex);
    m_description = std::move(description);
}

std::int64_t URLSessionTask::countOfBytesReceived() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::int64_t URLSessionTask::countOfBytesExpectedToReceive() const
{
    std::lock_guard lock(m_mutex);
    return m_expectedToReceive;
}

std::int64_t URLSessionTask::countOfBytesSent() const
{
    std::lock_guard lock(m_mutex);
    return m_sent;
}

std::int64_t URLSessionTask::countOfBytesExpectedToSend() const
{
    std::lock_guard lock(m_mutex);
    return m_expectedToSend;
}

void URLSessionTask::resume()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != URLSessionTaskState::Suspended) return;
        m_state = URLSessionTaskState::Running;
    }
    if (auto session = m_session.lock()) session->taskRunningChanged(shared_from_this(), true);
    if (m_center) m_center->post(HookedURLSessionTaskDidResumeNotification, this);
}

void URLSessionTask::suspend()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != URLSessionTaskState::Running) return;
        m_state = URLSessionTaskState::Suspended;
    }
    if (auto session = m_session.lock()) session->taskRunningChanged(shared_from_this(), false);
    if (m_center) m_center->post(HookedURLSessionTaskDidSuspendNotification, this);
}

void URLSessionTask::cancel()
{
    cancelByProducingResumeData(nullptr);
}

void URLSessionTask::cancelByProducingResumeData(std::function<void(std::optional<Bytes>)> completion)
{
    const bool cancelled = finishState(URLSessionTaskState::Canceling);
    auto session = m_session.lock();
    if (cancelled && session) return session->taskCancelled(shared_from_this(), std::move(completion));
    if (cancelled) finishState(URLSessionTaskState::Completed);
    if (completion) completion(std::nullopt);
}

bool URLSessionTask::finishState(URLSessionTaskState state)
{
    std::lock_guard lock(m_mutex);
    if (m_state == URLSessionTaskState::Completed) return false;
    if (state == URLSessionTaskState::Canceling && m_state == URLSessionTaskState::Canceling) return false;
    m_state = state;
    return true;
}

}  // namespace platform
