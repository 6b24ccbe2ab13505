#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "httpclient/SecurityPolicy.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/error/Error.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/plist/ArchivedValue.h"
#include "platform/url/InputStream.h"
#include "platform/url/NetworkThread.h"
#include "platform/url/OutputStream.h"
#include "platform/url/URLConnection.h"

// Posted on the main queue with the operation as sender: after its start step ran on the network thread,
// and when it finishes or an executing operation is paused.
inline constexpr const char* OperationDidStartNotification = "org.pexo.rigmora.httpclient.operation.start";
inline constexpr const char* OperationDidFinishNotification = "org.pexo.rigmora.httpclient.operation.finish";

enum OperationState : int {
    OperationPausedState = -1,
    OperationReadyState = 1,
    OperationExecutingState = 2,
    OperationFinishedState = 3,
};

// One request carried through one connection on the shared network thread, its body streamed into an
// output stream (memory unless one is set), finished with a completion block on a chosen queue.
// Always owned by a shared_ptr (make it with std::make_shared); the network thread holds it while it runs.
// start, cancel, pause and resume may be called from any thread.
class URLConnectionOperation : public platform::URLConnectionDelegate,
                               public std::enable_shared_from_this<URLConnectionOperation> {
public:
    using ProgressBlock = std::function<void(std::uint64_t bytes, std::int64_t totalBytes, std::int64_t totalBytesExpected)>;
    using AuthenticationChallengeBlock = std::function<void(platform::URLConnection&, platform::AuthenticationChallenge&)>;
    using RedirectResponseBlock = std::function<std::optional<platform::URLRequest>(
        platform::URLConnection&, const platform::URLRequest&, const platform::URLResponse&)>;
    using CacheResponseBlock = std::function<std::optional<platform::CachedURLResponse>(
        platform::URLConnection&, const platform::CachedURLResponse&)>;
    // The operations of a batch and the final step that reports them: run it (it does not block) and
    // the completion block gets the operations on the main queue once every one of them has completed.
    struct Batch {
        std::vector<std::shared_ptr<URLConnectionOperation>> operations;
        std::function<void()> finalOperation;
    };
    using BatchProgressBlock = std::function<void(std::size_t finished, std::size_t total)>;
    using BatchCompletionBlock = std::function<void(const std::vector<std::shared_ptr<URLConnectionOperation>>& operations)>;

    URLConnectionOperation(platform::Dispatch& dispatch, platform::URLRequest request,
                           platform::NetworkThread& networkThread = networkRequestThread());
    ~URLConnectionOperation() override;

    static platform::NetworkThread& networkRequestThread();
    // Each operation's completion block joins one group and is followed by the progress block; nothing
    // here starts the operations.
    static Batch batchOfRequestOperations(platform::Dispatch& dispatch,
                                          std::vector<std::shared_ptr<URLConnectionOperation>> operations,
                                          BatchProgressBlock progress, BatchCompletionBlock completion);
    // A new operation of the same class with the same request, sharing the progress, challenge, cache
    // and redirect blocks, the completion queue and group; everything else as a new one has it.
    virtual std::shared_ptr<URLConnectionOperation> copy() const;

    // Keyed archiving: the request, the state (a running or paused operation as ready), the response,
    // the error, the body kept in memory and the count of bytes read; archiving pauses a running
    // operation first. Decoding makes an operation of the class the archive names with the archived
    // request and restores the state only where the state table allows it; any other archive is refused.
    static bool supportsSecureCoding() { return true; }
    virtual void encodeWithCoder(platform::ArchivedObject& coder);
    std::shared_ptr<platform::ArchivedObject> archivedObject();
    static std::shared_ptr<URLConnectionOperation> decodeObject(platform::Dispatch& dispatch, const platform::ArchivedValue& value,
                                                                std::optional<platform::Error>* error = nullptr);

    platform::URLRequest request() const;
    std::optional<platform::URLResponse> response() const;
    virtual std::optional<platform::Error> error() const;
    std::optional<Bytes> responseData() const;
    void setResponseData(std::optional<Bytes> data);
    std::optional<std::string> responseString();
    // The IANA name of the body's character set (the response's, when known and convertible), else "UTF-8".
    std::string responseStringEncoding();
    std::int64_t totalBytesRead() const;
    // The request's body stream; setting one replaces the request by a copy carrying it.
    std::shared_ptr<platform::InputStream> inputStream() const;
    void setInputStream(std::shared_ptr<platform::InputStream> stream);

    std::shared_ptr<platform::OutputStream> outputStream();
    void setOutputStream(std::shared_ptr<platform::OutputStream> stream);
    // Kept for the caller: this layer has no credential store.
    bool shouldUseCredentialStorage() const;
    void setShouldUseCredentialStorage(bool shouldUse);
    // Offered to the first password challenge (Basic or Digest) from the host of the operation's request,
    // never to another host a redirect leads to, nor over http when the request was https; a refused
    // one is not offered again.
    std::optional<platform::URLCredential> credential() const;
    void setCredential(std::optional<platform::URLCredential> credential);
    std::shared_ptr<SecurityPolicy> securityPolicy() const;
    void setSecurityPolicy(std::shared_ptr<SecurityPolicy> policy);
    // nullptr means the main queue.
    void setCompletionQueue(platform::Queue* queue);
    platform::Queue* completionQueue() const;
    // nullptr means the shared default group.
    void setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group);
    std::shared_ptr<platform::DispatchGroup> completionGroup() const;
    std::map<std::string, std::string> userInfo;
    // Where the start and finish notifications go; the default centre unless set.
    void setNotificationCenter(platform::NotificationCenter* center);

    // Called on the main queue.
    void setUploadProgressBlock(ProgressBlock block);
    void setDownloadProgressBlock(ProgressBlock block);
    void setCacheResponseBlock(CacheResponseBlock block);
    void setWillSendRequestForAuthenticationChallengeBlock(AuthenticationChallengeBlock block);
    void setRedirectResponseBlock(RedirectResponseBlock block);
    // Runs once on the completion queue after the operation finished; an empty block clears it.
    void setCompletionBlock(std::function<void()> block);
    // The block the operation runs when it finishes (the wrapper of the one set).
    std::function<void()> completionBlock() const;

    OperationState state() const;
    bool isReady() const { return state() == OperationReadyState; }
    bool isExecuting() const { return state() == OperationExecutingState; }
    bool isFinished() const { return state() == OperationFinishedState; }
    bool isPaused() const { return state() == OperationPausedState; }
    bool isCancelled() const;
    bool isConcurrent() const { return true; }

    void start();
    void cancel();
    virtual void pause();
    void resume();
    std::string description() const;

    // Connection callbacks, on the network thread.
    void willSendRequestForAuthenticationChallenge(platform::URLConnection& connection,
                                                   platform::AuthenticationChallenge& challenge) override;
    std::optional<platform::URLRequest> willSendRequest(platform::URLConnection& connection, const platform::URLRequest& request,
                                                        const platform::URLResponse& redirectResponse) override;
    void didReceiveResponse(platform::URLConnection& connection, const platform::URLResponse& response) override;
    void didSendBodyData(platform::URLConnection& connection, std::int64_t bytes, std::int64_t totalBytes,
                         std::int64_t totalBytesExpected) override;
    // The cache block's answer; else none for a cancelled operation; else the proposal.
    std::optional<platform::CachedURLResponse> willCacheResponse(platform::URLConnection& connection,
                                                                 const platform::CachedURLResponse& proposed) override;
    void didReceiveData(platform::URLConnection& connection, const std::uint8_t* data, std::size_t length) override;
    void didFinishLoading(platform::URLConnection& connection) override;
    void didFailWithError(platform::URLConnection& connection, const platform::Error& error) override;

protected:
    // Named in description() and in archives.
    virtual const char* className() const { return "URLConnectionOperation"; }
    // Reads the fields after the request; false when one is of the wrong kind.
    virtual bool initWithCoder(const platform::ArchivedObject& coder);
    platform::Dispatch& dispatch() const { return m_dispatch; }
    void setRequest(platform::URLRequest request);
    std::optional<platform::Error> connectionError() const;
    std::recursive_mutex& lock() const { return m_lock; }
    // What a copy shares with this operation (see copy()).
    void shareBlocksWith(URLConnectionOperation& copy) const;
    platform::NetworkThread& networkThread() const { return m_networkThread; }

private:
    void setState(OperationState state);
    // Makes the transition when the state table allows it; `completion` gets the block to run when it
    // finished the operation.
    bool transition(OperationState state, std::function<void()>& completion);
    void finish();
    void operationDidStart();
    void cancelConnection();
    void failWrite(platform::URLConnection& connection, std::optional<platform::Error> streamError);
    std::shared_ptr<URLConnectionOperation> self() { return shared_from_this(); }
    void post(const char* name);

    platform::Dispatch& m_dispatch;
    platform::NetworkThread& m_networkThread;
    mutable std::recursive_mutex m_lock;
    platform::URLRequest m_request;
    std::optional<platform::URLResponse> m_response;
    std::optional<platform::Error> m_error;
    std::optional<Bytes> m_responseData;
    std::optional<std::string> m_responseString;
    std::string m_responseStringEncoding;
    std::int64_t m_totalBytesRead = 0;
    std::shared_ptr<platform::OutputStream> m_outputStream;
    bool m_shouldUseCredentialStorage = true;
    std::optional<platform::URLCredential> m_credential;
    std::shared_ptr<SecurityPolicy> m_securityPolicy;
    platform::Queue* m_completionQueue = nullptr;
    std::shared_ptr<platform::DispatchGroup> m_completionGroup;
    std::atomic<platform::NotificationCenter*> m_notificationCenter{&platform::NotificationCenter::defaultCenter()};
    ProgressBlock m_uploadProgress;
    ProgressBlock m_downloadProgress;
    AuthenticationChallengeBlock m_authenticationChallenge;
    CacheResponseBlock m_cacheResponse;
    RedirectResponseBlock m_redirectResponse;
    std::function<void()> m_completionBlock;
    OperationState m_state = OperationReadyState;
    bool m_cancelled = false;
    std::shared_ptr<platform::URLConnection> m_connection;
};
