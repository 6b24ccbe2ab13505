#include "httpclient/session/URLSessionManager.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include <cstdio>
#include <stdexcept>

#include "httpclient/serialization/JSONResponseSerializer.h"
#include "httpclient/serialization/MultipartFormData.h"
#include "platform/files/LocalFileManager.h"
#include "platform/url/InputStream.h"

using namespace platform;

namespace {

constexpr int kMaximumUploadRecreationAttempts = 3;

template <typename Block>
Block copied(std::mutex& lock, const Block& block)
{
    std::lock_guard guard(lock);
    return block;
}

}  // namespace

std::shared_ptr<URLSessionManager> URLSessionManager::create(Dispatch& dispatch, NotificationCenter& center,
                                                             std::optional<URLSessionConfiguration> configuration)
{
    return makeSessionManager(std::shared_ptr<URLSessionManager>(new URLSessionManager(dispatch, center, std::move(configuration))));
}

URLSessionManager::URLSessionManager(Dispatch& dispatch, NotificationCenter& center,
                                     std::optional<URLSessionConfiguration> configuration)
    : m_dispatch(dispatch),
      m_center(center),
      m_configuration(configuration.value_or(URLSessionConfiguration::defaultSessionConfiguration())),
      m_operationQueue(dispatch.makeSerial("org.pexo.rigmora.httpclient.session-manager.delegate")),
      m_responseSerializer(JSONResponseSerializer::serializer())
{
}

void URLSessionManager::startSession()
{
    m_session = URLSession::sessionWithConfiguration(m_configuration, shared_from_this(), m_operationQueue, m_center);
    std::weak_ptr<URLSessionManager> weak = weak_from_this();
    // Tasks the session already had: none, since the session is new.
    m_observers.push_back(m_center.addObserver(HookedURLSessionTaskDidResumeNotification, nullptr, [weak](const Notification& n) {
        if (auto self = weak.lock()) self->taskStateChanged(n, NetworkingTaskDidResumeNotification);
    }));
    m_observers.push_back(m_center.addObserver(HookedURLSessionTaskDidSuspendNotification, nullptr, [weak](const Notification& n) {
        if (auto self = weak.lock()) self->taskStateChanged(n, NetworkingTaskDidSuspendNotification);
    }));
}

URLSessionManager::~URLSessionManager()
{
    for (auto token : m_observers) m_center.removeObserver(token);
}

std::shared_ptr<URLResponseSerialization> URLSessionManager::responseSerializer() const
{
    std::lock_guard guard(m_serializerLock);
    return m_responseSerializer;
}

void URLSessionManager::setResponseSerializer(std::shared_ptr<URLResponseSerialization> serializer)
{
    if (!serializer) throw std::invalid_argument("Invalid parameter not satisfying: responseSerializer");
    std::lock_guard guard(m_serializerLock);
    m_responseSerializer = std::move(serializer);
}

std::string URLSessionManager::taskDescriptionForSessionTasks() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", static_cast<const void*>(this));
    return text;
}

std::string URLSessionManager::description() const
{
    char text[160];
    std::snprintf(text, sizeof text, "<%s: %p, session: %s, operationQueue: %s>", className(), static_cast<const void*>(this),
                  m_session->description().c_str(), m_operationQueue->label().c_str());
    return text;
}

std::shared_ptr<URLSessionManager> URLSessionManager::copyManager() const
{
    return create(m_dispatch, m_center, m_configuration);
}

// ---------------------------------------------------------------------------------------------------
// Tasks

std::shared_ptr<URLSessionManagerTaskDelegate> URLSessionManager::addDelegate(const TaskPtr& task,
                                                                              CompletionHandler completionHandler)
{
    auto delegate = std::make_shared<URLSessionManagerTaskDelegate>();
    delegate->manager = weak_from_this();
    delegate->completionHandler = std::move(completionHandler);
    task->setTaskDescription(taskDescriptionForSessionTasks());
    setDelegate(delegate, *task);
    return delegate;
}

void URLSessionManager::addUploadDelegate(const TaskPtr& task, std::shared_ptr<Progress>* progress,
                                          CompletionHandler completionHandler)
{
    auto delegate = addDelegate(task, std::move(completionHandler));
    std::int64_t total = task->countOfBytesExpectedToSend();
    if (total == -1)
        if (auto length = task->originalRequest().valueForHTTPHeaderField("Content-Length")) total = std::atoll(length->c_str());
    delegate->progress->setTotalUnitCount(total);
    std::weak_ptr<URLSessionTask> weakTask = task;
    delegate->progress->setPausingHandler([weakTask] {
        if (auto strong = weakTask.lock()) strong->suspend();
    });
    delegate->progress->setCancellationHandler([weakTask] {
        if (auto strong = weakTask.lock()) strong->cancel();
    });
    if (progress) *progress = delegate->progress;
}

void URLSessionManager::addDownloadDelegate(const TaskPtr& task, std::shared_ptr<Progress>* progress,
                                            DestinationBlock destination, CompletionHandler completionHandler)
{
    auto delegate = addDelegate(task, std::move(completionHandler));
    if (destination)
        delegate->downloadTaskDidFinishDownloading = [destination](URLSession&, URLSessionTask& finished, const std::string& location) {
            return destination(location, finished.response());
        };
    if (progress) *progress = delegate->progress;
}

URLSessionManager::TaskPtr URLSessionManager::dataTaskWithRequest(URLRequest request, CompletionHandler completionHandler)
{
    auto task = m_session->dataTaskWithRequest(std::move(request));
    if (task) addDelegate(task, std::move(completionHandler));
    return task;
}

URLSessionManager::TaskPtr URLSessionManager::uploadTaskWithRequestFromFile(URLRequest request, std::string fileURL,
                                                                            std::shared_ptr<Progress>* progress,
                                                                            CompletionHandler completionHandler)
{
    // The same "file:" URL a multipart body was written to; anything else names no file to send.
    const std::optional<std::string> path = FilePathFromFileURL(fileURL);
    if (!path) return nullptr;
    auto task = m_session->uploadTaskWithRequestFromFile(request, *path);
    for (int attempt = 0; !task && attemptsToRecreateUploadTasksForBackgroundSessions && m_configuration.identifier &&
                          attempt < kMaximumUploadRecreationAttempts;
         ++attempt)
        task = m_session->uploadTaskWithRequestFromFile(request, *path);
    if (task) addUploadDelegate(task, progress, std::move(completionHandler));
    return task;
}

URLSessionManager::TaskPtr URLSessionManager::uploadTaskWithRequestFromData(URLRequest request, Bytes bodyData,
                                                                            std::shared_ptr<Progress>* progress,
                                                                            CompletionHandler completionHandler)
{
    auto task = m_session->uploadTaskWithRequestFromData(std::move(request), std::move(bodyData));
    if (task) addUploadDelegate(task, progress, std::move(completionHandler));
    return task;
}

URLSessionManager::TaskPtr URLSessionManager::uploadTaskWithStreamedRequest(URLRequest request, std::shared_ptr<Progress>* progress,
                                                                            CompletionHandler completionHandler)
{
    auto task = m_session->uploadTaskWithStreamedRequest(std::move(request));
    if (task) addUploadDelegate(task, progress, std::move(completionHandler));
    return task;
}

URLSessionManager::TaskPtr URLSessionManager::downloadTaskWithRequest(URLRequest request, std::shared_ptr<Progress>* progress,
                                                                      DestinationBlock destination,
                                                                      CompletionHandler completionHandler)
{
    auto task = m_session->downloadTaskWithRequest(std::move(request));
    if (task) addDownloadDelegate(task, progress, std::move(destination), std::move(completionHandler));
    return task;
}

URLSessionManager::TaskPtr URLSessionManager::downloadTaskWithResumeData(const Bytes& resumeData,
                                                                         std::shared_ptr<Progress>* progress,
                                                                         DestinationBlock destination,
                                                                         CompletionHandler completionHandler)
{
    auto task = m_session->downloadTaskWithResumeData(resumeData);
    if (task) addDownloadDelegate(task, progress, std::move(destination), std::move(completionHandler));
    return task;
}

std::shared_ptr<Progress> URLSessionManager::uploadProgressForTask(const URLSessionTask& task) const
{
    auto delegate = delegateForTask(task);
    return delegate ? delegate->progress : nullptr;
}

std::shared_ptr<Progress> URLSessionManager::downloadProgressForTask(const URLSessionTask& task) const
{
    return uploadProgressForTask(task);
}

std::vector<URLSessionManager::TaskPtr> URLSessionManager::tasks() const
{
    auto lists = m_session->getTasks();
    std::vector<TaskPtr> all = std::move(lists.dataTasks);
    all.insert(all.end(), lists.uploadTasks.begin(), lists.uploadTasks.end());
    all.insert(all.end(), lists.downloadTasks.begin(), lists.downloadTasks.end());
    return all;
}

std::vector<URLSessionManager::TaskPtr> URLSessionManager::dataTasks() const
{
    return m_session->getTasks().dataTasks;
}

std::vector<URLSessionManager::TaskPtr> URLSessionManager::uploadTasks() const
{
    return m_session->getTasks().uploadTasks;
}

std::vector<URLSessionManager::TaskPtr> URLSessionManager::downloadTasks() const
{
    return m_session->getTasks().downloadTasks;
}

void URLSessionManager::invalidateSessionCancelingTasks(bool cancelPendingTasks)
{
    m_dispatch.main().async([session = m_session, cancelPendingTasks] {
        if (cancelPendingTasks)
            session->invalidateAndCancel();
        else
            session->finishTasksAndInvalidate();
    });
}

void URLSessionManager::taskStateChanged(const Notification& notification, const char* name)
{
    auto* task = static_cast<const URLSessionTask*>(notification.sender);
    if (!task || task->taskDescription() != taskDescriptionForSessionTasks()) return;
    auto keep = const_cast<URLSessionTask*>(task)->shared_from_this();
    m_dispatch.main().async([center = &m_center, keep, name] { center->post(name, keep.get()); });
}

// ---------------------------------------------------------------------------------------------------
// The task delegate table

std::shared_ptr<URLSessionManagerTaskDelegate> URLSessionManager::delegateForTask(const URLSessionTask& task) const
{
    std::lock_guard guard(m_lock);
    auto found = m_mutableTaskDelegatesKeyedByTaskIdentifier.find(task.taskIdentifier());
    return found == m_mutableTaskDelegatesKeyedByTaskIdentifier.end() ? nullptr : found->second;
}

void URLSessionManager::setDelegate(std::shared_ptr<URLSessionManagerTaskDelegate> delegate, const URLSessionTask& task)
{
    if (!delegate) throw std::invalid_argument("Invalid parameter not satisfying: delegate");
    std::lock_guard guard(m_lock);
    m_mutableTaskDelegatesKeyedByTaskIdentifier[task.taskIdentifier()] = std::move(delegate);
}

void URLSessionManager::removeDelegateForTask(const URLSessionTask& task)
{
    std::lock_guard guard(m_lock);
    m_mutableTaskDelegatesKeyedByTaskIdentifier.erase(task.taskIdentifier());
}

void URLSessionManager::removeAllDelegates()
{
    std::lock_guard guard(m_lock);
    m_mutableTaskDelegatesKeyedByTaskIdentifier.clear();
}

// ---------------------------------------------------------------------------------------------------
// Override setters

void URLSessionManager::setSessionDidBecomeInvalidBlock(std::function<void(URLSession&, const std::optional<Error>&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_sessionDidBecomeInvalid = std::move(block);
}

void URLSessionManager::setSessionDidReceiveAuthenticationChallengeBlock(ChallengeBlock block)
{
    std::lock_guard guard(m_blocksLock);
    m_sessionDidReceiveAuthenticationChallenge = std::move(block);
}

void URLSessionManager::setDidFinishEventsForBackgroundURLSessionBlock(std::function<void(URLSession&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_didFinishEventsForBackgroundURLSession = std::move(block);
}

void URLSessionManager::setTaskWillPerformHTTPRedirectionBlock(
    std::function<std::optional<URLRequest>(URLSession&, URLSessionTask&, const URLResponse&, const URLRequest&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_taskWillPerformHTTPRedirection = std::move(block);
}

void URLSessionManager::setTaskDidReceiveAuthenticationChallengeBlock(TaskChallengeBlock block)
{
    std::lock_guard guard(m_blocksLock);
    m_taskDidReceiveAuthenticationChallenge = std::move(block);
}

void URLSessionManager::setTaskNeedNewBodyStreamBlock(std::function<std::shared_ptr<InputStream>(URLSession&, URLSessionTask&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_taskNeedNewBodyStream = std::move(block);
}

void URLSessionManager::setTaskDidSendBodyDataBlock(
    std::function<void(URLSession&, URLSessionTask&, std::int64_t, std::int64_t, std::int64_t)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_taskDidSendBodyData = std::move(block);
}

void URLSessionManager::setTaskDidCompleteBlock(std::function<void(URLSession&, URLSessionTask&, const std::optional<Error>&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_taskDidComplete = std::move(block);
}

void URLSessionManager::setDataTaskDidReceiveResponseBlock(
    std::function<URLSessionResponseDisposition(URLSession&, URLSessionTask&, const URLResponse&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_dataTaskDidReceiveResponse = std::move(block);
}

void URLSessionManager::setDataTaskDidBecomeDownloadTaskBlock(std::function<void(URLSession&, URLSessionTask&, URLSessionTask&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_dataTaskDidBecomeDownloadTask = std::move(block);
}

void URLSessionManager::setDataTaskDidReceiveDataBlock(std::function<void(URLSession&, URLSessionTask&, const Bytes&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_dataTaskDidReceiveData = std::move(block);
}

void URLSessionManager::setDataTaskWillCacheResponseBlock(std::function<void()> block)
{
    std::lock_guard guard(m_blocksLock);
    m_dataTaskWillCacheResponse = std::move(block);
}

void URLSessionManager::setDownloadTaskDidFinishDownloadingBlock(
    std::function<std::optional<std::string>(URLSession&, URLSessionTask&, const std::string&)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_downloadTaskDidFinishDownloading = std::move(block);
}

void URLSessionManager::setDownloadTaskDidWriteDataBlock(
    std::function<void(URLSession&, URLSessionTask&, std::int64_t, std::int64_t, std::int64_t)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_downloadTaskDidWriteData = std::move(block);
}

void URLSessionManager::setDownloadTaskDidResumeBlock(std::function<void(URLSession&, URLSessionTask&, std::int64_t, std::int64_t)> block)
{
    std::lock_guard guard(m_blocksLock);
    m_downloadTaskDidResume = std::move(block);
}

// ---------------------------------------------------------------------------------------------------
// Session callbacks

void URLSessionManager::didBecomeInvalidWithError(URLSession& session, const std::optional<Error>& error)
{
    if (auto block = copied(m_blocksLock, m_sessionDidBecomeInvalid)) block(session, error);
    removeAllDelegates();
    m_center.post(URLSessionDidInvalidateNotification, &session);
}

URLSessionAuthChallengeDisposition URLSessionManager::judgeServerTrust(AuthenticationChallenge& challenge,
                                                                       std::optional<URLCredential>& credential,
                                                                       bool sessionLevel)
{
    const ProtectionSpace& space = challenge.protectionSpace();
    if (space.authenticationMethod != kAuthenticationMethodServerTrust || !space.serverTrust)
        return URLSessionAuthChallengeDisposition::PerformDefaultHandling;
    if (!securityPolicy->evaluateServerTrust(*space.serverTrust, space.host))
        return URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge;
    credential = URLCredential::credentialForTrust(*space.serverTrust);
    if (sessionLevel && !credential) return URLSessionAuthChallengeDisposition::PerformDefaultHandling;
    return URLSessionAuthChallengeDisposition::UseCredential;
}

void URLSessionManager::didReceiveChallenge(URLSession& session, AuthenticationChallenge& challenge,
                                            URLSessionChallengeCompletion completion)
{
    std::optional<URLCredential> credential;
    URLSessionAuthChallengeDisposition disposition;
    if (auto block = copied(m_blocksLock, m_sessionDidReceiveAuthenticationChallenge))
        disposition = block(session, challenge, credential);
    else
        disposition = judgeServerTrust(challenge, credential, true);
    if (completion) completion(disposition, credential);
}

void URLSessionManager::taskDidReceiveChallenge(URLSession& session, URLSessionTask& task, AuthenticationChallenge& challenge,
                                                URLSessionChallengeCompletion completion)
{
    std::optional<URLCredential> credential;
    URLSessionAuthChallengeDisposition disposition;
    if (auto block = copied(m_blocksLock, m_taskDidReceiveAuthenticationChallenge))
        disposition = block(session, task, challenge, credential);
    else
        disposition = judgeServerTrust(challenge, credential, false);
    if (completion) completion(disposition, credential);
}

void URLSessionManager::willPerformHTTPRedirection(URLSession& session, URLSessionTask& task, const URLResponse& response,
                                                   URLRequest request, std::function<void(std::optional<URLRequest>)> completion)
{
    std::optional<URLRequest> next = std::move(request);
    if (auto block = copied(m_blocksLock, m_taskWillPerformHTTPRedirection)) next = block(session, task, response, *next);
    if (completion) completion(std::move(next));
}

void URLSessionManager::needNewBodyStream(URLSession& session, URLSessionTask& task,
                                          std::function<void(std::shared_ptr<InputStream>)> completion)
{
    std::shared_ptr<InputStream> stream;
    if (auto block = copied(m_blocksLock, m_taskNeedNewBodyStream))
        stream = block(session, task);
    else if (const auto& original = task.originalRequest().httpBodyStream)
        stream = original->copyInputStream();
    if (completion) completion(std::move(stream));
}

void URLSessionManager::didSendBodyData(URLSession& session, URLSessionTask& task, std::int64_t bytesSent,
                                        std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend)
{
    std::int64_t total = totalBytesExpectedToSend;
    if (total == -1)
        if (auto length = task.originalRequest().valueForHTTPHeaderField("Content-Length")) total = std::atoll(length->c_str());
    if (auto delegate = delegateForTask(task)) delegate->didSendBodyData(totalBytesSent, total);
    if (auto block = copied(m_blocksLock, m_taskDidSendBodyData)) block(session, task, bytesSent, totalBytesSent, total);
}

void URLSessionManager::didCompleteWithError(URLSession& session, URLSessionTask& task, const std::optional<Error>& error)
{
    if (auto delegate = delegateForTask(task)) {
        delegate->didCompleteWithError(task, error);
        removeDelegateForTask(task);
    }
    if (auto block = copied(m_blocksLock, m_taskDidComplete)) block(session, task, error);
}

void URLSessionManager::didReceiveResponse(URLSession& session, URLSessionTask& task, const URLResponse& response,
                                           std::function<void(URLSessionResponseDisposition)> completion)
{
    URLSessionResponseDisposition disposition = URLSessionResponseDisposition::Allow;
    if (auto block = copied(m_blocksLock, m_dataTaskDidReceiveResponse)) disposition = block(session, task, response);
    if (completion) completion(disposition);
}

void URLSessionManager::didReceiveData(URLSession& session, URLSessionTask& task, const Bytes& data)
{
    if (auto delegate = delegateForTask(task)) delegate->didReceiveData(data);
    if (auto block = copied(m_blocksLock, m_dataTaskDidReceiveData)) block(session, task, data);
}

void URLSessionManager::didFinishDownloadingToURL(URLSession& session, URLSessionTask& task, const std::string& location)
{
    auto delegate = delegateForTask(task);
    if (auto block = copied(m_blocksLock, m_downloadTaskDidFinishDownloading)) {
        if (auto destination = block(session, task, location)) {
            auto failure = moveDownloadedFile(task, location, *destination);
            if (delegate) {
                delegate->downloadFileURL = destination;
                delegate->moveError = std::move(failure);
            }
            return;
        }
    }
    if (delegate) delegate->didFinishDownloadingToURL(session, task, location);
}

std::optional<Error> URLSessionManager::moveDownloadedFile(URLSessionTask& task, const std::string& from, const std::string& to)
{
    Error error;
    if (LocalFileManager().moveItem(from, to, &error)) return std::nullopt;
    m_center.post(URLSessionDownloadTaskDidFailToMoveFileNotification, &task, UserInfo(error.userInfo.begin(), error.userInfo.end()));
    return error;
}

void URLSessionManager::didWriteData(URLSession& session, URLSessionTask& task, std::int64_t bytesWritten,
                                     std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite)
{
    if (auto delegate = delegateForTask(task)) delegate->didWriteData(totalBytesWritten, totalBytesExpectedToWrite);
    if (auto block = copied(m_blocksLock, m_downloadTaskDidWriteData))
        block(session, task, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
}

void URLSessionManager::didResumeAtOffset(URLSession& session, URLSessionTask& task, std::int64_t fileOffset,
                                          std::int64_t expectedTotalBytes)
{
    if (auto delegate = delegateForTask(task)) delegate->didResumeAtOffset(fileOffset, expectedTotalBytes);
    if (auto block = copied(m_blocksLock, m_downloadTaskDidResume)) block(session, task, fileOffset, expectedTotalBytes);
}

namespace {
using SessionManagerClasses =
    ArchivedClasses<URLSessionManager, platform::Dispatch&, platform::NotificationCenter&, const platform::ArchivedObject&>;
[[maybe_unused]] const bool kArchived = SessionManagerClasses::add(
    "URLSessionManager",
    [](platform::Dispatch& dispatch, platform::NotificationCenter& center,
       const platform::ArchivedObject& coder) -> std::shared_ptr<URLSessionManager> {
        auto configuration = URLObjectCoding::decodeSessionConfiguration(coder.field("sessionConfiguration"));
        if (!configuration) return nullptr;
        return URLSessionManager::create(dispatch, center, std::move(*configuration));
    });
}  // namespace

void URLSessionManager::encodeWithCoder(platform::ArchivedObject& coder) const
{
    coder.set("sessionConfiguration", URLObjectCoding::encode(m_configuration));
}

std::shared_ptr<platform::ArchivedObject> URLSessionManager::archivedObject() const
{
    const std::string name = className();
    auto object = URLObjectCoding::makeObjectInFamily(name, "URLSessionManager");
    encodeWithCoder(*object);
    return object;
}

std::shared_ptr<URLSessionManager> URLSessionManager::decodeObject(platform::Dispatch& dispatch, platform::NotificationCenter& center,
                                                                   const platform::ArchivedValue& value,
                                                                   std::optional<platform::Error>* error)
{
    ArchiveDecodingBudget budget;
    const auto* object = value.object();
    std::shared_ptr<URLSessionManager> manager;
    if (object && *object) manager = SessionManagerClasses::make((*object)->className, dispatch, center, **object);
    if (!manager && error) *error = URLObjectCoding::refusedArchive("session manager", budget);
    return manager;
}
