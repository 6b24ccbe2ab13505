#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/url/URLSessionConfiguration.h"
#include "platform/url/URLSessionDelegate.h"
#include "platform/url/URLSessionTask.h"

namespace platform {

class NotificationCenter;

// A set of tasks loaded by one engine: a curl multi handle on a thread of its own, woken for commands,
// with the session's cookies shared among its transfers. Delegate calls go to the delegate queue one at
// a time; the engine never waits for any other thread except, during a TLS handshake, for the delegate's
// answer to a server-trust challenge. The session holds its delegate until it has become invalid.
class URLSession : public std::enable_shared_from_this<URLSession> {
public:
    struct TaskLists {
        std::vector<std::shared_ptr<URLSessionTask>> dataTasks;
        std::vector<std::shared_ptr<URLSessionTask>> uploadTasks;
        std::vector<std::shared_ptr<URLSessionTask>> downloadTasks;
    };

    // `center` receives the tasks' resume and suspend notifications and must outlive the tasks.
    static std::shared_ptr<URLSession> sessionWithConfiguration(URLSessionConfiguration configuration,
                                                                std::shared_ptr<URLSessionDelegate> delegate,
                                                                std::shared_ptr<SerialQueue> delegateQueue,
                                                                NotificationCenter& center);
    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    const URLSessionConfiguration& configuration() const { return m_configuration; }
    const std::shared_ptr<SerialQueue>& delegateQueue() const { return m_delegateQueue; }
    // Where finished downloads wait for the delegate; this session's own folder.
    const std::string& downloadFolder() const { return m_downloadFolder; }

    // Every factory returns a suspended task, or nothing once the session is invalidated (or, for
    // resume data, when the data cannot be read).
    std::shared_ptr<URLSessionTask> dataTaskWithRequest(URLRequest request);
    std::shared_ptr<URLSessionTask> uploadTaskWithRequestFromFile(URLRequest request, std::string filePath);
    std::shared_ptr<URLSessionTask> uploadTaskWithRequestFromData(URLRequest request, Bytes body);
    // Sends the request's body stream, in chunks unless the request declares its Content-Length. Nothing
    // without a stream. Sending it again (a 307/308 redirect, an authentication retry) takes a fresh
    // stream from the delegate's needNewBodyStream.
    std::shared_ptr<URLSessionTask> uploadTaskWithStreamedRequest(URLRequest request);
    std::shared_ptr<URLSessionTask> downloadTaskWithRequest(URLRequest request);
    std::shared_ptr<URLSessionTask> downloadTaskWithResumeData(const Bytes& resumeData);

    // The tasks not yet completed, from the engine's registry; never waits for another thread.
    TaskLists getTasks() const;
    // No new tasks; the running ones finish, then the delegate hears didBecomeInvalidWithError.
    void finishTasksAndInvalidate();
    // The same, cancelling every task first.
    void invalidateAndCancel();
    bool isInvalidated() const { return m_invalidated; }
    std::string description() const;

private:
    friend class URLSessionTask;
    struct Engine;
    struct Transfer;

    URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
               std::shared_ptr<SerialQueue> delegateQueue, NotificationCenter& center);

    struct Body;
    struct ResumeData;
    std::shared_ptr<URLSessionTask> makeTask(URLSessionTask::Kind kind, URLRequest request, std::shared_ptr<Body> body,
                                             std::optional<ResumeData> resumeFrom);
    void taskRunningChanged(const std::shared_ptr<URLSessionTask>& task, bool running);
    void taskCancelled(const std::shared_ptr<URLSessionTask>& task, std::function<void(std::optional<Bytes>)> completion);

    URLSessionConfiguration m_configuration;
    std::shared_ptr<SerialQueue> m_delegateQueue;
    NotificationCenter& m_center;
    std::string m_downloadFolder;
    std::atomic<bool> m_invalidated{false};
    std::unique_ptr<Engine> m_engine;
};

}  // namespace platform
