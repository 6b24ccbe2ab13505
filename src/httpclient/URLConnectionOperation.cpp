#include "httpclient/URLConnectionOperation.h"

#include <cassert>
#include <cstdio>
#include <iconv.h>
#include <strings.h>

#include "httpclient/ArchivedClasses.h"
#include "httpclient/HTTPResponseSerializer.h"
#include "httpclient/URLObjectCoding.h"
#include "platform/url/MemoryOutputStream.h"
#include "platform/url/URLError.h"

using platform::URLRequest;
using platform::URLResponse;

namespace {

const char* keyPathFor(OperationState state)
{
    switch (state) {
    case OperationPausedState: return "isPaused";
    case OperationReadyState: return "isReady";
    case OperationExecutingState: return "isExecuting";
    case OperationFinishedState: return "isFinished";
    }
    return "state";
}

bool transitionAllowed(OperationState from, OperationState to, bool cancelled)
{
    switch (from) {
    case OperationReadyState:
        return to == OperationPausedState || to == OperationExecutingState || (to == OperationFinishedState && cancelled);
    case OperationExecutingState: return to == OperationPausedState || to == OperationFinishedState;
    case OperationPausedState: return to == OperationReadyState;
    case OperationFinishedState: return false;
    }
    return true;
}

std::shared_ptr<platform::DispatchGroup> defaultCompletionGroup()
{
    static auto group = std::make_shared<platform::DispatchGroup>();
    return group;
}

bool convertible(const std::string& charset)
{
    iconv_t converter = iconv_open("UTF-8", charset.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(converter);
    return true;
}

std::optional<std::string> toUTF8(const Bytes& data, const std::string& charset)
{
    iconv_t converter = iconv_open("UTF-8", charset.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(data.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(data.data()));
    std::size_t inLeft = data.size();
    char* cursor = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &cursor, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

platform::NetworkThread& URLConnectionOperation::networkRequestThread()
{
    return platform::NetworkThread::shared();
}

URLConnectionOperation::URLConnectionOperation(platform::Dispatch& dispatch, URLRequest request,
                                               platform::NetworkThread& networkThread)
    : m_dispatch(dispatch),
      m_networkThread(networkThread),
      m_request(std::move(request)),
      m_securityPolicy(SecurityPolicy::defaultPolicy())
{
    assert(!m_request.url.empty() && "Invalid parameter not satisfying: urlRequest");
}

URLConnectionOperation::~URLConnectionOperation()
{
    if (m_outputStream) m_outputStream->close();
}

URLRequest URLConnectionOperation::request() const
{
    std::lock_guard guard(m_lock);
    return m_request;
}

void URLConnectionOperation::setRequest(URLRequest request)
{
    std::lock_guard guard(m_lock);
    m_request = std::move(request);
}

std::optional<URLResponse> URLConnectionOperation::response() const
{
    std::lock_guard guard(m_lock);
    return m_response;
}

std::optional<platform::Error> URLConnectionOperation::error() const
{
    return connectionError();
}

std::optional<platform::Error> URLConnectionOperation::connectionError() const
{
    std::lock_guard guard(m_lock);
    return m_error;
}

std::optional<Bytes> URLConnectionOperation::responseData() const
{
    std::lock_guard guard(m_lock);
    return m_responseData;
}

void URLConnectionOperation::setResponseData(std::optional<Bytes> data)
{
    std::lock_guard guard(m_lock);
    m_responseData = std::move(data);
}

std::string URLConnectionOperation::responseStringEncoding()
{
    std::lock_guard guard(m_lock);
    if (m_responseStringEncoding.empty() && m_response) {
        const auto& name = m_response->textEncodingName;
        m_responseStringEncoding = name && convertible(*name) ? *name : "UTF-8";
    }
    return m_responseStringEncoding.empty() ? "UTF-8" : m_responseStringEncoding;
}

std::optional<std::string> URLConnectionOperation::responseString()
{
    std::lock_guard guard(m_lock);
    if (!m_responseString && m_response && m_responseData) m_responseString = toUTF8(*m_responseData, responseStringEncoding());
    return m_responseString;
}

std::int64_t URLConnectionOperation::totalBytesRead() const
{
    std::lock_guard guard(m_lock);
    return m_totalBytesRead;
}

std::shared_ptr<platform::InputStream> URLConnectionOperation::inputStream() const
{
    std::lock_guard guard(m_lock);
    return m_request.httpBodyStream;
}

void URLConnectionOperation::setInputStream(std::shared_ptr<platform::InputStream> stream)
{
    std::lock_guard guard(m_lock);
    URLRequest request = m_request;
    request.httpBodyStream = std::move(stream);
    m_request = std::move(request);
}

std::shared_ptr<platform::OutputStream> URLConnectionOperation::outputStream()
{
    std::lock_guard guard(m_lock);
    if (!m_outputStream) m_outputStream = std::make_shared<platform::MemoryOutputStream>();
    return m_outputStream;
}

void URLConnectionOperation::setOutputStream(std::shared_ptr<platform::OutputStream> stream)
{
    std::lock_guard guard(m_lock);
    if (stream == m_outputStream) return;
    if (m_outputStream) m_outputStream->close();
    m_outputStream = std::move(stream);
}

bool URLConnectionOperation::shouldUseCredentialStorage() const
{
    std::lock_guard guard(m_lock);
    return m_shouldUseCredentialStorage;
}

void URLConnectionOperation::setShouldUseCredentialStorage(bool shouldUse)
{
    std::lock_guard guard(m_lock);
    m_shouldUseCredentialStorage = shouldUse;
}

std::optional<platform::URLCredential> URLConnectionOperation::credential() const
{
    std::lock_guard guard(m_lock);
    return m_credential;
}

void URLConnectionOperation::setCredential(std::optional<platform::URLCredential> credential)
{
    std::lock_guard guard(m_lock);
    m_credential = std::move(credential);
}

std::shared_ptr<SecurityPolicy> URLConnectionOperation::securityPolicy() const
{
    std::lock_guard guard(m_lock);
    return m_securityPolicy;
}

void URLConnectionOperation::setSecurityPolicy(std::shared_ptr<SecurityPolicy> policy)
{
    std::lock_guard guard(m_lock);
    m_securityPolicy = std::move(policy);
}

void URLConnectionOperation::setCompletionQueue(platform::Queue* queue)
{
    std::lock_guard guard(m_lock);
    m_completionQueue = queue;
}

platform::Queue* URLConnectionOperation::completionQueue() const
{
    std::lock_guard guard(m_lock);
    return m_completionQueue;
}

void URLConnectionOperation::setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group)
{
    std::lock_guard guard(m_lock);
    m_completionGroup = std::move(group);
}

std::shared_ptr<platform::DispatchGroup> URLConnectionOperation::completionGroup() const
{
    std::lock_guard guard(m_lock);
    return m_completionGroup;
}

void URLConnectionOperation::setNotificationCenter(platform::NotificationCenter* center)
{
    m_notificationCenter = center;
}

void URLConnectionOperation::post(const char* name)
{
    platform::NotificationCenter* center = m_notificationCenter;
    if (!center) return;
    m_dispatch.main().async([center, name, operation = self()] { center->post(name, operation.get()); });
}

void URLConnectionOperation::setUploadProgressBlock(ProgressBlock block)
{
    std::lock_guard guard(m_lock);
    m_uploadProgress = std::move(block);
}

void URLConnectionOperation::setCacheResponseBlock(CacheResponseBlock block)
{
    std::lock_guard guard(m_lock);
    m_cacheResponse = std::move(block);
}

void URLConnectionOperation::setDownloadProgressBlock(ProgressBlock block)
{
    std::lock_guard guard(m_lock);
    m_downloadProgress = std::move(block);
}

void URLConnectionOperation::setWillSendRequestForAuthenticationChallengeBlock(AuthenticationChallengeBlock block)
{
    std::lock_guard guard(m_lock);
    m_authenticationChallenge = std::move(block);
}

void URLConnectionOperation::setRedirectResponseBlock(RedirectResponseBlock block)
{
    std::lock_guard guard(m_lock);
    m_redirectResponse = std::move(block);
}

void URLConnectionOperation::setCompletionBlock(std::function<void()> block)
{
    std::lock_guard guard(m_lock);
    if (!block) {
        m_completionBlock = nullptr;
        return;
    }
    std::weak_ptr<URLConnectionOperation> weak = weak_from_this();
    m_completionBlock = [weak, block = std::move(block)] {
        auto operation = weak.lock();
        if (!operation) return;
        auto group = operation->completionGroup();
        if (!group) group = defaultCompletionGroup();
        platform::Queue* queue = operation->completionQueue();
        if (!queue) queue = &operation->m_dispatch.main();
        group->enter();
        // The operation lives until its block has run: the network thread may already have let it go.
        queue->async([operation, block, group] {
            block();
            group->leave();
            // Releases the caller's block and whatever it holds.
            operation->setCompletionBlock(nullptr);
        });
    };
}

std::function<void()> URLConnectionOperation::completionBlock() const
{
    std::lock_guard guard(m_lock);
    return m_completionBlock;
}

void URLConnectionOperation::shareBlocksWith(URLConnectionOperation& copy) const
{
    std::scoped_lock guard(m_lock, copy.m_lock);
    copy.m_uploadProgress = m_uploadProgress;
    copy.m_downloadProgress = m_downloadProgress;
    copy.m_authenticationChallenge = m_authenticationChallenge;
    copy.m_cacheResponse = m_cacheResponse;
    copy.m_redirectResponse = m_redirectResponse;
    copy.m_completionQueue = m_completionQueue;
    copy.m_completionGroup = m_completionGroup;
}

std::shared_ptr<URLConnectionOperation> URLConnectionOperation::copy() const
{
    auto copied = std::make_shared<URLConnectionOperation>(m_dispatch, request(), m_networkThread);
    shareBlocksWith(*copied);
    return copied;
}

namespace {
[[maybe_unused]] const bool kArchived = ArchivedClasses<URLConnectionOperation, platform::Dispatch&, URLRequest>::add(
    "URLConnectionOperation",
    [](platform::Dispatch& dispatch, URLRequest request) { return std::make_shared<URLConnectionOperation>(dispatch, std::move(request)); });
}  // namespace

void URLConnectionOperation::encodeWithCoder(platform::ArchivedObject& coder)
{
    pause();
    std::lock_guard guard(m_lock);
    coder.set("request", URLObjectCoding::encode(m_request));
    const OperationState state = m_state == OperationExecutingState || m_state == OperationPausedState ? OperationReadyState : m_state;
    coder.set("state", platform::PlistValue(static_cast<std::int64_t>(state)));
    if (m_response) coder.set("response", URLObjectCoding::encode(*m_response));
    if (m_error) coder.set("error", URLObjectCoding::encode(*m_error));
    if (m_responseData) coder.set("responseData", platform::PlistValue(*m_responseData));
    coder.set("totalBytesRead", platform::PlistValue(m_totalBytesRead));
}

std::shared_ptr<platform::ArchivedObject> URLConnectionOperation::archivedObject()
{
    const std::string name = className();
    auto object = URLObjectCoding::makeObjectInFamily(name, "URLConnectionOperation", {"NSOperation", "NSObject"});
    encodeWithCoder(*object);
    return object;
}

bool URLConnectionOperation::initWithCoder(const platform::ArchivedObject& coder)
{
    const auto state = URLObjectCoding::integer(coder, "state");
    const auto total = URLObjectCoding::integer(coder, "totalBytesRead");
    std::optional<URLResponse> response;
    std::optional<platform::Error> error;
    std::optional<Bytes> data;
    if (!coder.field("response").isNil() && !(response = URLObjectCoding::decodeResponse(coder.field("response")))) return false;
    if (!coder.field("error").isNil() && !(error = URLObjectCoding::decodeError(coder.field("error")))) return false;
    if (const platform::PlistValue* body = coder.field("responseData").plain()) {
        if (!body->bytes() || !ArchiveDecodingBudget::drawText(body->bytes()->size())) return false;
        data = *body->bytes();
    }
    if (!state || !total || *total < 0) return false;
    setState(static_cast<OperationState>(*state));
    std::lock_guard guard(m_lock);
    m_response = std::move(response);
    m_error = std::move(error);
    m_responseData = std::move(data);
    m_totalBytesRead = *total;
    return true;
}

std::shared_ptr<URLConnectionOperation> URLConnectionOperation::decodeObject(platform::Dispatch& dispatch,
                                                                             const platform::ArchivedValue& value,
                                                                             std::optional<platform::Error>* error)
{
    ArchiveDecodingBudget budget;
    const auto* object = value.object();
    std::shared_ptr<URLConnectionOperation> operation;
    if (object && *object)
        if (auto request = URLObjectCoding::decodeRequest((*object)->field("request")))
            operation = ArchivedClasses<URLConnectionOperation, platform::Dispatch&, URLRequest>::make((*object)->className, dispatch,
                                                                                                     std::move(*request));
    if (operation && operation->initWithCoder(**object)) return operation;
    if (error) *error = URLObjectCoding::refusedArchive("operation", budget);
    return nullptr;
}

URLConnectionOperation::Batch URLConnectionOperation::batchOfRequestOperations(
    platform::Dispatch& dispatch, std::vector<std::shared_ptr<URLConnectionOperation>> operations,
    BatchProgressBlock progress, BatchCompletionBlock completion)
{
    platform::Queue& main = dispatch.main();
    if (operations.empty())
        return Batch{{}, [&main, completion] {
                         if (completion) main.async([completion] { completion({}); });
                     }};
    auto group = std::make_shared<platform::DispatchGroup>();
    // Weak: each operation's block would otherwise hold every operation of the batch, itself included.
    std::vector<std::weak_ptr<URLConnectionOperation>> members(operations.begin(), operations.end());
    for (const auto& operation : operations) {
        operation->setCompletionGroup(group);
        std::function<void()> original = operation->completionBlock();
        operation->setCompletionBlock([original, members, progress, group] {
            if (original) original();
            std::size_t finished = 0;
            for (const auto& member : members)
                if (auto held = member.lock(); held && held->isFinished()) ++finished;
            if (progress) progress(finished, members.size());
            group->leave();
        });
        group->enter();
    }
    Batch batch;
    batch.finalOperation = [&main, group, operations, completion] {
        group->notify(main, [operations, completion] {
            if (completion) completion(operations);
        });
    };
    batch.operations = std::move(operations);
    return batch;
}

OperationState URLConnectionOperation::state() const
{
    std::lock_guard guard(m_lock);
    return m_state;
}

bool URLConnectionOperation::isCancelled() const
{
    std::lock_guard guard(m_lock);
    return m_cancelled;
}

bool URLConnectionOperation::transition(OperationState state, std::function<void()>& completion)
{
    std::lock_guard guard(m_lock);
    if (!transitionAllowed(m_state, state, m_cancelled)) return false;
    m_state = state;
    if (state == OperationFinishedState) completion = m_completionBlock;
    return true;
}

void URLConnectionOperation::setState(OperationState state)
{
    std::function<void()> completion;
    if (transition(state, completion) && completion) completion();
}

void URLConnectionOperation::start()
{
    std::lock_guard guard(m_lock);
    auto me = self();
    if (m_cancelled) {
        m_networkThread.perform([me] { me->cancelConnection(); });
    } else if (m_state == OperationReadyState) {
        setState(OperationExecutingState);
        m_networkThread.perform([me] { me->operationDidStart(); });
    }
}

void URLConnectionOperation::operationDidStart()
{
    {
        std::lock_guard guard(m_lock);
        if (!m_cancelled) {
            m_connection = platform::URLConnection::create(m_request, self());
            outputStream()->open();
            m_connection->start(m_networkThread.loop());
        }
    }
    post(OperationDidStartNotification);
}

void URLConnectionOperation::cancel()
{
    std::lock_guard guard(m_lock);
    if (m_state == OperationFinishedState || m_cancelled) return;
    m_cancelled = true;
    if (m_state == OperationExecutingState) {
        auto me = self();
        m_networkThread.perform([me] { me->cancelConnection(); });
    }
}

void URLConnectionOperation::cancelConnection()
{
    const std::string url = request().url;
    platform::Error error = platform::makeURLError(platform::URLErrorCancelled, url, "cancelled");
    std::shared_ptr<platform::URLConnection> connection;
    {
        std::lock_guard guard(m_lock);
        if (m_state == OperationFinishedState) return;
        connection = m_connection;
    }
    if (connection) {
        connection->cancel();
        didFailWithError(*connection, error);
    } else {
        {
            std::lock_guard guard(m_lock);
            m_error = error;
        }
        finish();
    }
}

void URLConnectionOperation::pause()
{
    std::lock_guard guard(m_lock);
    if (m_state == OperationPausedState || m_state == OperationFinishedState || m_cancelled) return;
    if (m_state == OperationExecutingState) {
        auto me = self();
        m_networkThread.perform([me] {
            std::lock_guard inner(me->m_lock);
            if (me->m_connection) me->m_connection->cancel();
        });
        post(OperationDidFinishNotification);
    }
    setState(OperationPausedState);
}

void URLConnectionOperation::resume()
{
    std::lock_guard guard(m_lock);
    if (m_state != OperationPausedState) return;
    setState(OperationReadyState);
    start();
}

void URLConnectionOperation::finish()
{
    // Told before the completion block is handed to its queue: whoever waits for the block has heard the
    // notification too, and the main queue it goes to is still there.
    std::function<void()> completion;
    if (!transition(OperationFinishedState, completion)) return;
    post(OperationDidFinishNotification);
    if (completion) completion();
}

std::string URLConnectionOperation::description() const
{
    std::lock_guard guard(m_lock);
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("<") + className() + ": " + address + ", state: " + keyPathFor(m_state) +
           ", cancelled: " + (m_cancelled ? "YES" : "NO") + " request: " + m_request.url +
           ", response: " + (m_response ? std::to_string(m_response->statusCode) + " " + m_response->url : "(null)") + ">";
}

void URLConnectionOperation::willSendRequestForAuthenticationChallenge(platform::URLConnection& connection,
                                                                      platform::AuthenticationChallenge& challenge)
{
    AuthenticationChallengeBlock block;
    std::shared_ptr<SecurityPolicy> policy;
    {
        std::lock_guard guard(m_lock);
        block = m_authenticationChallenge;
        policy = m_securityPolicy;
    }
    if (block) return block(connection, challenge);
    const platform::ProtectionSpace& space = challenge.protectionSpace();
    if (space.authenticationMethod == platform::kAuthenticationMethodServerTrust && space.serverTrust) {
        std::string host = space.host;
        if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
        std::string reason = platform::ServerTrust::kReasonInvalid;
        if (policy && policy->evaluateServerTrust(*space.serverTrust, host, &reason))
            challenge.useCredential(platform::URLCredential::credentialForTrust(*space.serverTrust));
        else
            challenge.cancelAuthenticationChallenge(HTTPClientTexts().text(reason));
        return;
    }
    // A password challenge: the credential once; a second challenge means it was refused. It belongs to
    // the host this operation was asked for: a redirect to another host, or down from https to http,
    // does not get it.
    const auto credential = this->credential();
    const URLRequest asked = request();
    const URLRequest& current = connection.currentRequest();
    const bool sameHost = strcasecmp(current.host().c_str(), asked.host().c_str()) == 0 && !asked.host().empty();
    const bool downgraded = asked.scheme() == "https" && current.scheme() != "https";
    if (challenge.previousFailureCount() == 0 && credential && sameHost && !downgraded)
        challenge.useCredential(*credential);
    else
        challenge.continueWithoutCredential();
}

std::optional<URLRequest> URLConnectionOperation::willSendRequest(platform::URLConnection& connection, const URLRequest& request,
                                                                  const URLResponse& redirectResponse)
{
    RedirectResponseBlock block;
    {
        std::lock_guard guard(m_lock);
        block = m_redirectResponse;
    }
    return block ? block(connection, request, redirectResponse) : std::optional<URLRequest>(request);
}

void URLConnectionOperation::didReceiveResponse(platform::URLConnection&, const URLResponse& response)
{
    std::lock_guard guard(m_lock);
    m_response = response;
    if (response.expectedContentLength > 0)
        outputStream()->expectLength(static_cast<std::uint64_t>(response.expectedContentLength));
}

void URLConnectionOperation::didSendBodyData(platform::URLConnection&, std::int64_t bytes, std::int64_t totalBytes,
                                             std::int64_t totalBytesExpected)
{
    ProgressBlock progress;
    {
        std::lock_guard guard(m_lock);
        progress = m_uploadProgress;
    }
    if (progress)
        m_dispatch.main().async([progress = std::move(progress), bytes, totalBytes, totalBytesExpected] {
            progress(static_cast<std::uint64_t>(bytes), totalBytes, totalBytesExpected);
        });
}

std::optional<platform::CachedURLResponse> URLConnectionOperation::willCacheResponse(platform::URLConnection& connection,
                                                                                     const platform::CachedURLResponse& proposed)
{
    CacheResponseBlock block;
    {
        std::lock_guard guard(m_lock);
        block = m_cacheResponse;
        if (!block && m_cancelled) return std::nullopt;
    }
    return block ? block(connection, proposed) : std::optional<platform::CachedURLResponse>(proposed);
}

void URLConnectionOperation::failWrite(platform::URLConnection& connection, std::optional<platform::Error> streamError)
{
    // A body that cannot be stored whole must never end as a success: stop the transfer and report why.
    connection.cancel();
    didFailWithError(connection, streamError ? *streamError
                                             : platform::makeURLError(platform::URLErrorCannotWriteToFile, request().url,
                                                                      "the received data could not be written"));
}

void URLConnectionOperation::didReceiveData(platform::URLConnection& connection, const std::uint8_t* data, std::size_t length)
{
    auto stream = outputStream();
    std::size_t written = 0;
    while (written < length) {
        if (!stream->hasSpaceAvailable()) return failWrite(connection, stream->streamError());
        const std::int64_t count = stream->write(data + written, length - written);
        if (count <= 0) return failWrite(connection, stream->streamError());
        written += static_cast<std::size_t>(count);
    }
    ProgressBlock progress;
    std::int64_t total;
    std::int64_t expected;
    {
        std::lock_guard guard(m_lock);
        m_totalBytesRead += static_cast<std::int64_t>(length);
        total = m_totalBytesRead;
        expected = m_response ? m_response->expectedContentLength : -1;
        progress = m_downloadProgress;
    }
    // Only a listener costs the main queue a wake-up per piece of body: the network thread carries
    // every transfer, and most have none.
    if (progress)
        m_dispatch.main().async([progress = std::move(progress), length, total, expected] {
            progress(length, total, expected);
        });
}

void URLConnectionOperation::didFinishLoading(platform::URLConnection& connection)
{
    auto stream = outputStream();
    // Moved out, not copied: the network thread carries every transfer.
    std::optional<Bytes> data = stream->takeDataWrittenToMemory();
    stream->close();
    // A file whose last bytes could not be flushed on close is as incomplete as a failed write.
    if (auto closeError = stream->streamError()) return didFailWithError(connection, *closeError);
    {
        std::lock_guard guard(m_lock);
        m_responseData = std::move(data);
        if (m_responseData) m_outputStream.reset();
        m_connection.reset();
    }
    finish();
}

void URLConnectionOperation::didFailWithError(platform::URLConnection&, const platform::Error& error)
{
    {
        std::lock_guard guard(m_lock);
        if (m_state == OperationFinishedState) return;
        m_error = error;
        // The loading layer's own texts are keys of this layer's table; curl's and the system's are not.
        if (error.domain == platform::kURLErrorDomain) m_error->description = HTTPClientTexts().text(error.description);
        if (m_outputStream) m_outputStream->close();
        if (m_responseData) m_outputStream.reset();
        m_connection.reset();
    }
    finish();
}
