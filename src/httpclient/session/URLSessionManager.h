#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "httpclient/NetworkReachabilityManager.h"
#include "httpclient/SecurityPolicy.h"
#include "httpclient/URLResponseSerialization.h"
#include "httpclient/session/URLSessionManagerTaskDelegate.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/plist/ArchivedValue.h"
#include "platform/url/URLSession.h"

inline constexpr const char* NetworkingTaskDidResumeNotification = "org.pexo.rigmora.httpclient.task.resume";
inline constexpr const char* NetworkingTaskDidSuspendNotification = "org.pexo.rigmora.httpclient.task.suspend";
inline constexpr const char* NetworkingTaskDidCompleteNotification = "org.pexo.rigmora.httpclient.task.complete";
inline constexpr const char* URLSessionDidInvalidateNotification = "org.pexo.rigmora.httpclient.session.invalidate";
inline constexpr const char* URLSessionDownloadTaskDidFailToMoveFileNotification = "org.pexo.rigmora.httpclient.session.move-failed";
inline constexpr const char* NetworkingTaskDidCompleteResponseSerializerKey = "org.pexo.rigmora.httpclient.complete.serializer";
inline constexpr const char* NetworkingTaskDidCompleteResponseDataKey = "org.pexo.rigmora.httpclient.complete.data";
inline constexpr const char* NetworkingTaskDidCompleteSerializedResponseKey = "org.pexo.rigmora.httpclient.complete.object";
inline constexpr const char* NetworkingTaskDidCompleteErrorKey = "org.pexo.rigmora.httpclient.complete.error";
inline constexpr const char* NetworkingTaskDidCompleteAssetPathKey = "org.pexo.rigmora.httpclient.complete.asset-path";
inline constexpr const char* NetworkingTaskDidStartNotification = NetworkingTaskDidResumeNotification;
inline constexpr const char* NetworkingTaskDidFinishNotification = NetworkingTaskDidCompleteNotification;
inline constexpr const char* NetworkingTaskDidFinishSerializedResponseKey = NetworkingTaskDidCompleteSerializedResponseKey;
inline constexpr const char* NetworkingTaskDidFinishResponseSerializerKey = NetworkingTaskDidCompleteResponseSerializerKey;
inline constexpr const char* NetworkingTaskDidFinishResponseDataKey = NetworkingTaskDidCompleteResponseDataKey;
inline constexpr const char* NetworkingTaskDidFinishErrorKey = NetworkingTaskDidCompleteErrorKey;
inline constexpr const char* NetworkingTaskDidFinishAssetPathKey = NetworkingTaskDidCompleteAssetPathKey;
inline constexpr const char* URLSessionManagerLockName = "org.pexo.rigmora.httpclient.session-manager.lock";

// Owns one URL session and is its delegate: one task delegate per task it makes (body, progress, the
// download's destination, the completion handler), notifications about its own tasks, and an override
// callback for every session callback. Tasks come back suspended; the caller resumes them. The session
// holds the manager until invalidateSessionCancelingTasks has run its course.
class URLSessionManager : public platform::URLSessionDelegate, public std::enable_shared_from_this<URLSessionManager> {
public:
    using TaskPtr = std::shared_ptr<platform::URLSessionTask>;
    using CompletionHandler = URLSessionManagerTaskDelegate::CompletionHandler;
    using DestinationBlock = std::function<std::optional<std::string>(const std::string& temporaryLocation,
                                                                      const std::optional<platform::URLResponse>& response)>;
    using ChallengeBlock = std::function<platform::URLSessionAuthChallengeDisposition(
        platform::URLSession&, platform::AuthenticationChallenge&, std::optional<platform::URLCredential>& credential)>;
    using TaskChallengeBlock = std::function<platform::URLSessionAuthChallengeDisposition(
        platform::URLSession&, platform::URLSessionTask&, platform::AuthenticationChallenge&,
        std::optional<platform::URLCredential>& credential)>;

    static std::shared_ptr<URLSessionManager> create(platform::Dispatch& dispatch, platform::NotificationCenter& center,
                                                     std::optional<platform::URLSessionConfiguration> configuration = std::nullopt);
    ~URLSessionManager() override;

    bool attemptsToRecreateUploadTasksForBackgroundSessions = false;
    const std::shared_ptr<platform::URLSession>& session() const { return m_session; }
    const std::shared_ptr<platform::SerialQueue>& operationQueue() const { return m_operationQueue; }
    std::shared_ptr<URLResponseSerialization> responseSerializer() const;
    // Never empty (std::invalid_argument).
    void setResponseSerializer(std::shared_ptr<URLResponseSerialization> serializer);
    std::shared_ptr<SecurityPolicy> securityPolicy = SecurityPolicy::defaultPolicy();
    // The process-wide manager, held only; made on first asking so that a manager alone starts no monitor.
    NetworkReachabilityManager& reachabilityManager() const { return NetworkReachabilityManager::sharedManager(); }
    // nullptr: the main queue.
    platform::Queue* completionQueue = nullptr;
    // nullptr: the library's shared group.
    std::shared_ptr<platform::DispatchGroup> completionGroup;
    const platform::URLSessionConfiguration& sessionConfiguration() const { return m_configuration; }
    std::string taskDescriptionForSessionTasks() const;

    // Task factories; nothing when the session gives no task (after invalidation). An upload from a file
    // takes the file's "file:" URL, and gives nothing for any other URL.
    TaskPtr dataTaskWithRequest(platform::URLRequest request, CompletionHandler completionHandler);
    TaskPtr uploadTaskWithRequestFromFile(platform::URLRequest request, std::string fileURL,
                                          std::shared_ptr<platform::Progress>* progress, CompletionHandler completionHandler);
    TaskPtr uploadTaskWithRequestFromData(platform::URLRequest request, Bytes bodyData,
                                          std::shared_ptr<platform::Progress>* progress, CompletionHandler completionHandler);
    // Sends the request's body stream; sending it again takes a copy of it (or the override's stream).
    TaskPtr uploadTaskWithStreamedRequest(platform::URLRequest request, std::shared_ptr<platform::Progress>* progress,
                                          CompletionHandler completionHandler);
    TaskPtr downloadTaskWithRequest(platform::URLRequest request, std::shared_ptr<platform::Progress>* progress,
                                    DestinationBlock destination, CompletionHandler completionHandler);
    TaskPtr downloadTaskWithResumeData(const Bytes& resumeData, std::shared_ptr<platform::Progress>* progress,
                                       DestinationBlock destination, CompletionHandler completionHandler);

    std::shared_ptr<platform::Progress> uploadProgressForTask(const platform::URLSessionTask& task) const;
    std::shared_ptr<platform::Progress> downloadProgressForTask(const platform::URLSessionTask& task) const;
    // Data tasks first, then uploads, then downloads; never waits for another thread.
    std::vector<TaskPtr> tasks() const;
    std::vector<TaskPtr> dataTasks() const;
    std::vector<TaskPtr> uploadTasks() const;
    std::vector<TaskPtr> downloadTasks() const;
    // Later, on the main queue.
    void invalidateSessionCancelingTasks(bool cancelPendingTasks);
    virtual std::string description() const;

    // Keyed archiving of the session's configuration (and a subclass's fields after it); a decoded
    // manager is of the class the archive names, with a new session and everything else at its default.
    // An archive of another kind is refused.
    static bool supportsSecureCoding() { return true; }
    virtual void encodeWithCoder(platform::ArchivedObject& coder) const;
    std::shared_ptr<platform::ArchivedObject> archivedObject() const;
    static std::shared_ptr<URLSessionManager> decodeObject(platform::Dispatch& dispatch, platform::NotificationCenter& center,
                                                           const platform::ArchivedValue& value,
                                                           std::optional<platform::Error>* error = nullptr);
    // A new manager of this one's own class (copyManager) with this one's configuration and every other
    // setting at its default, or what that class carries over besides.
    std::shared_ptr<URLSessionManager> copy() const { return copyManager(); }

    // Override callbacks.
    void setSessionDidBecomeInvalidBlock(std::function<void(platform::URLSession&, const std::optional<platform::Error>&)> block);
    void setSessionDidReceiveAuthenticationChallengeBlock(ChallengeBlock block);
    void setDidFinishEventsForBackgroundURLSessionBlock(std::function<void(platform::URLSession&)> block);
    void setTaskWillPerformHTTPRedirectionBlock(
        std::function<std::optional<platform::URLRequest>(platform::URLSession&, platform::URLSessionTask&,
                                                          const platform::URLResponse&, const platform::URLRequest&)> block);
    void setTaskDidReceiveAuthenticationChallengeBlock(TaskChallengeBlock block);
    void setTaskNeedNewBodyStreamBlock(
        std::function<std::shared_ptr<platform::InputStream>(platform::URLSession&, platform::URLSessionTask&)> block);
    void setTaskDidSendBodyDataBlock(
        std::function<void(platform::URLSession&, platform::URLSessionTask&, std::int64_t, std::int64_t, std::int64_t)> block);
    void setTaskDidCompleteBlock(
        std::function<void(platform::URLSession&, platform::URLSessionTask&, const std::optional<platform::Error>&)> block);
    void setDataTaskDidReceiveResponseBlock(std::function<platform::URLSessionResponseDisposition(
                                                platform::URLSession&, platform::URLSessionTask&, const platform::URLResponse&)> block);
    void setDataTaskDidBecomeDownloadTaskBlock(
        std::function<void(platform::URLSession&, platform::URLSessionTask&, platform::URLSessionTask&)> block);
    void setDataTaskDidReceiveDataBlock(std::function<void(platform::URLSession&, platform::URLSessionTask&, const Bytes&)> block);
    // Stored only: there is no response cache, so it is never called.
    void setDataTaskWillCacheResponseBlock(std::function<void()> block);
    void setDownloadTaskDidFinishDownloadingBlock(
        std::function<std::optional<std::string>(platform::URLSession&, platform::URLSessionTask&, const std::string&)> block);
    void setDownloadTaskDidWriteDataBlock(
        std::function<void(platform::URLSession&, platform::URLSessionTask&, std::int64_t, std::int64_t, std::int64_t)> block);
    void setDownloadTaskDidResumeBlock(
        std::function<void(platform::URLSession&, platform::URLSessionTask&, std::int64_t, std::int64_t)> block);

    // Session callbacks (delegate queue).
    void didBecomeInvalidWithError(platform::URLSession& session, const std::optional<platform::Error>& error) override;
    bool handlesSessionChallenges() const override { return true; }
    void didReceiveChallenge(platform::URLSession& session, platform::AuthenticationChallenge& challenge,
                             platform::URLSessionChallengeCompletion completion) override;
    void willPerformHTTPRedirection(platform::URLSession& session, platform::URLSessionTask& task,
                                    const platform::URLResponse& response, platform::URLRequest request,
                                    std::function<void(std::optional<platform::URLRequest>)> completion) override;
    void taskDidReceiveChallenge(platform::URLSession& session, platform::URLSessionTask& task,
                                 platform::AuthenticationChallenge& challenge,
                                 platform::URLSessionChallengeCompletion completion) override;
    void needNewBodyStream(platform::URLSession& session, platform::URLSessionTask& task,
                           std::function<void(std::shared_ptr<platform::InputStream>)> completion) override;
    void didSendBodyData(platform::URLSession& session, platform::URLSessionTask& task, std::int64_t bytesSent,
                         std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) override;
    void didCompleteWithError(platform::URLSession& session, platform::URLSessionTask& task,
                              const std::optional<platform::Error>& error) override;
    void didReceiveResponse(platform::URLSession& session, platform::URLSessionTask& task, const platform::URLResponse& response,
                            std::function<void(platform::URLSessionResponseDisposition)> completion) override;
    void didReceiveData(platform::URLSession& session, platform::URLSessionTask& task, const Bytes& data) override;
    void didFinishDownloadingToURL(platform::URLSession& session, platform::URLSessionTask& task,
                                   const std::string& location) override;
    void didWriteData(platform::URLSession& session, platform::URLSessionTask& task, std::int64_t bytesWritten,
                      std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) override;
    void didResumeAtOffset(platform::URLSession& session, platform::URLSessionTask& task, std::int64_t fileOffset,
                           std::int64_t expectedTotalBytes) override;

    // The task delegate table.
    std::shared_ptr<URLSessionManagerTaskDelegate> delegateForTask(const platform::URLSessionTask& task) const;
    void setDelegate(std::shared_ptr<URLSessionManagerTaskDelegate> delegate, const platform::URLSessionTask& task);
    void removeDelegateForTask(const platform::URLSessionTask& task);
    void removeAllDelegates();

    // Moves a finished download where the caller wants it; a failure is posted and returned.
    std::optional<platform::Error> moveDownloadedFile(platform::URLSessionTask& task, const std::string& from, const std::string& to);

    platform::Dispatch& dispatch() const { return m_dispatch; }
    platform::NotificationCenter& notificationCenter() const { return m_center; }

protected:
    URLSessionManager(platform::Dispatch& dispatch, platform::NotificationCenter& center,
                      std::optional<platform::URLSessionConfiguration> configuration);
    // Makes the session with this manager as delegate; part of creation, once the manager is shared.
    void startSession();
    virtual const char* className() const { return "URLSessionManager"; }
    // What copy() makes; each subclass makes one of its own class.
    virtual std::shared_ptr<URLSessionManager> copyManager() const;

private:
    template <typename Manager>
    friend std::shared_ptr<Manager> makeSessionManager(std::shared_ptr<Manager> manager);

    std::shared_ptr<URLSessionManagerTaskDelegate> addDelegate(const TaskPtr& task, CompletionHandler completionHandler);
    void addUploadDelegate(const TaskPtr& task, std::shared_ptr<platform::Progress>* progress, CompletionHandler completionHandler);
    void addDownloadDelegate(const TaskPtr& task, std::shared_ptr<platform::Progress>* progress, DestinationBlock destination,
                             CompletionHandler completionHandler);
    void taskStateChanged(const platform::Notification& notification, const char* name);
    platform::URLSessionAuthChallengeDisposition judgeServerTrust(platform::AuthenticationChallenge& challenge,
                                                                  std::optional<platform::URLCredential>& credential,
                                                                  bool sessionLevel);

    platform::Dispatch& m_dispatch;
    platform::NotificationCenter& m_center;
    platform::URLSessionConfiguration m_configuration;
    std::shared_ptr<platform::SerialQueue> m_operationQueue;
    std::shared_ptr<platform::URLSession> m_session;
    mutable std::mutex m_serializerLock;
    std::shared_ptr<URLResponseSerialization> m_responseSerializer;
    mutable std::mutex m_lock;
    std::map<std::uint64_t, std::shared_ptr<URLSessionManagerTaskDelegate>> m_mutableTaskDelegatesKeyedByTaskIdentifier;
    std::vector<platform::NotificationCenter::Token> m_observers;

    mutable std::mutex m_blocksLock;
    std::function<void(platform::URLSession&, const std::optional<platform::Error>&)> m_sessionDidBecomeInvalid;
    ChallengeBlock m_sessionDidReceiveAuthenticationChallenge;
    std::function<void(platform::URLSession&)> m_didFinishEventsForBackgroundURLSession;
    std::function<std::optional<platform::URLRequest>(platform::URLSession&, platform::URLSessionTask&,
                                                      const platform::URLResponse&, const platform::URLRequest&)>
        m_taskWillPerformHTTPRedirection;
    TaskChallengeBlock m_taskDidReceiveAuthenticationChallenge;
    std::function<std::shared_ptr<platform::InputStream>(platform::URLSession&, platform::URLSessionTask&)> m_taskNeedNewBodyStream;
    std::function<void(platform::URLSession&, platform::URLSessionTask&, std::int64_t, std::int64_t, std::int64_t)> m_taskDidSendBodyData;
    std::function<void(platform::URLSession&, platform::URLSessionTask&, const std::optional<platform::Error>&)> m_taskDidComplete;
    std::function<platform::URLSessionResponseDisposition(platform::URLSession&, platform::URLSessionTask&, const platform::URLResponse&)>
        m_dataTaskDidReceiveResponse;
    std::function<void(platform::URLSession&, platform::URLSessionTask&, platform::URLSessionTask&)> m_dataTaskDidBecomeDownloadTask;
    std::function<void(platform::URLSession&, platform::URLSessionTask&, const Bytes&)> m_dataTaskDidReceiveData;
    std::function<void()> m_dataTaskWillCacheResponse;
    std::function<std::optional<std::string>(platform::URLSession&, platform::URLSessionTask&, const std::string&)>
        m_downloadTaskDidFinishDownloading;
    std::function<void(platform::URLSession&, platform::URLSessionTask&, std::int64_t, std::int64_t, std::int64_t)> m_downloadTaskDidWriteData;
    std::function<void(platform::URLSession&, platform::URLSessionTask&, std::int64_t, std::int64_t)> m_downloadTaskDidResume;
};

// Finishes making a manager of any class: it becomes its session's delegate once it is shared.
template <typename Manager>
std::shared_ptr<Manager> makeSessionManager(std::shared_ptr<Manager> manager)
{
    manager->startSession();
    return manager;
}
