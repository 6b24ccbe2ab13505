#include "platform/url/URLSession.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <type_traits>

#include "platform/notifications/NotificationCenter.h"
#include "platform/trust/ServerTrustCheck.h"
#include "platform/url/CurlSupport.h"
#include "platform/url/InputStream.h"
#include "platform/url/PasswordAnswer.h"
#include "platform/url/URLError.h"

namespace platform {

namespace {

constexpr int kMaximumRedirects = 16;
constexpr const char* kResumeDataHeader = "rig-url-resume 1";
using SteadyClock = std::chrono::steady_clock;

std::atomic<std::uint64_t> nextTaskIdentifier{1};
std::atomic<std::uint64_t> nextSessionNumber{1};

std::string stripBrackets(std::string host)
{
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    return host;
}

bool hasField(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& name)
{
    for (const auto& field : fields)
        if (strcasecmp(field.first.c_str(), name.c_str()) == 0) return true;
    return false;
}

}  // namespace

// What downloadTaskWithResumeData needs: where the partial file lies, how far it goes, the request, and
// the validator that tells whether the server still has the same resource.
struct URLSession::ResumeData {
    std::string url;
    std::string file;
    std::int64_t offset = 0;
    std::string validator;

    Bytes encode() const
    {
        std::ostringstream out;
        out << kResumeDataHeader << '\n' << url << '\n' << file << '\n' << offset << '\n' << validator << '\n';
        const std::string text = out.str();
        return Bytes(text.begin(), text.end());
    }
    static std::optional<ResumeData> decode(const Bytes& data)
    {
        std::istringstream in(std::string(data.begin(), data.end()));
        std::string header, offset;
        ResumeData result;
        if (!std::getline(in, header) || header != kResumeDataHeader || !std::getline(in, result.url) ||
            !std::getline(in, result.file) || !std::getline(in, offset) || !std::getline(in, result.validator))
            return std::nullopt;
        try {
            result.offset = std::stoll(offset);
        } catch (...) {
            return std::nullopt;
        }
        std::error_code error;
        if (result.offset < 0 || result.url.empty() || !std::filesystem::is_regular_file(result.file, error) ||
            static_cast<std::int64_t>(std::filesystem::file_size(result.file, error)) < result.offset)
            return std::nullopt;
        return result;
    }
};

// Where an upload's bytes come from. Each attempt (a redirect that keeps the body, an authentication
// retry) reads them again from the start; a stream can be read only once, so a later attempt needs a
// fresh one from the delegate.
struct URLSession::Body {
    enum class Kind { Data, File, Stream } kind = Kind::Data;
    Bytes data;
    std::string path;
    std::shared_ptr<InputStream> stream;
    // A stream's length as its request announces it; -1 sends it in chunks.
    std::int64_t streamLength = -1;
    bool streamOpened = false;

    std::int64_t size() const
    {
        if (kind == Kind::Data) return static_cast<std::int64_t>(data.size());
        if (kind == Kind::Stream) return streamLength;
        std::error_code error;
        const auto length = std::filesystem::file_size(path, error);
        return error ? -1 : static_cast<std::int64_t>(length);
    }
    static std::shared_ptr<Body> ofStream(std::shared_ptr<InputStream> stream, std::int64_t length)
    {
        auto body = std::make_shared<Body>();
        body->kind = Kind::Stream;
        body->stream = std::move(stream);
        body->streamLength = length;
        return body;
    }
    // The request's body as this session sends it: its bytes, else its stream, else none.
    static std::shared_ptr<Body> ofRequest(const URLRequest& request)
    {
        if (request.httpBody) {
            auto body = std::make_shared<Body>();
            body->data = *request.httpBody;
            return body;
        }
        if (!request.httpBodyStream) return nullptr;
        return ofStream(request.httpBodyStream, declaredLength(request));
    }
    // The request's Content-Length, or -1 without a usable one.
    static std::int64_t declaredLength(const URLRequest& request)
    {
        const auto declared = request.valueForHTTPHeaderField("Content-Length");
        if (!declared || declared->empty()) return -1;
        char* end = nullptr;
        const long long value = std::strtoll(declared->c_str(), &end, 10);
        return *end == '\0' && value >= 0 ? value : -1;
    }
};

// One task's load on the engine thread: the curl handle, the attempt under way and what is held back
// while the delegate decides about a redirect or a challenge.
struct URLSession::Transfer final : ServerTrustHandler {
    enum class Phase { Head, Body, Hold };
    enum class Held { None, Redirect, Authentication };

    Engine* engine = nullptr;
    std::shared_ptr<URLSessionTask> task;
    std::shared_ptr<Body> body;
    URLRequest request;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    bool inMulti = false;
    SteadyClock::time_point deadline{};

    // The attempt.
    Phase phase = Phase::Head;
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t bodyOffset = 0;
    int bodyFd = -1;
    std::optional<Error> failure;
    std::int64_t lastSent = 0;

    // Waiting for the delegate.
    std::uint64_t decision = 0;
    bool awaitingResponseDisposition = false;
    bool pausedForDisposition = false;
    bool finishWhenAllowed = false;
    bool userPaused = false;
    Held held = Held::None;
    std::optional<URLResponse> heldResponse;
    Bytes heldBody;
    URLRequest redirectRequest;
    int redirects = 0;
    std::size_t authenticationFailures = 0;
    // A password answer kept with the protection space that asked for it (attempts elsewhere never carry
    // it), the Authorization this attempt carries, and how often an expired Digest nonce was renewed.
    std::optional<PasswordAnswer> answer;
    std::optional<std::string> authorization;
    int nonceRenewals = 0;

    // Downloads.
    int fileFd = -1;
    std::string filePath;
    std::int64_t written = 0;
    std::int64_t expectedTotal = -1;
    std::optional<ResumeData> resumeFrom;

    ~Transfer() override
    {
        if (easy) curl_easy_cleanup(easy);
        if (headerList) curl_slist_free_all(headerList);
        closeBody();
        if (fileFd >= 0) ::close(fileFd);
    }

    void closeBody()
    {
        if (bodyFd >= 0) ::close(bodyFd);
        bodyFd = -1;
        if (body && body->kind == Body::Kind::Stream && body->streamOpened) body->stream->close();
    }
    bool waitingForDelegate() const { return held != Held::None || userPaused || pausedForDisposition; }
    void touch();
    bool acceptServerTrust(ServerTrust& trust) override;
};

struct URLSession::Engine {
    URLSession& session;
    std::weak_ptr<URLSession> weakSession;
    CURLM* multi = nullptr;
    CURLSH* share = nullptr;
    std::thread thread;

    // Shared with any thread.
    mutable std::mutex mutex;
    std::condition_variable answered;
    std::deque<std::function<void()>> commands;
    bool stopping = false;
    std::map<std::uint64_t, std::shared_ptr<URLSessionTask>> registry;
    // What a task not yet resumed will send or continue from.
    struct Pending {
        std::shared_ptr<Body> body;
        std::optional<ResumeData> resumeFrom;
    };
    std::map<std::uint64_t, Pending> pending;
    std::shared_ptr<URLSessionDelegate> delegate;

    // Engine thread only.
    std::map<std::uint64_t, std::unique_ptr<Transfer>> transfers;
    bool invalidating = false;

    explicit Engine(URLSession& owner) : session(owner)
    {
        initialiseCurlOnce();
        multi = curl_multi_init();
        share = curl_share_init();
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    ~Engine()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        answered.notify_all();
        curl_multi_wakeup(multi);
        if (thread.joinable()) thread.join();
        for (auto& [identifier, transfer] : transfers)
            if (transfer->inMulti) curl_multi_remove_handle(multi, transfer->easy);
        transfers.clear();
        curl_multi_cleanup(multi);
        curl_share_cleanup(share);
    }

    void start(const std::string& name)
    {
        thread = std::thread([this, name] {
            pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
            run();
        });
    }

    void post(std::function<void()> command)
    {
        {
            std::lock_guard lock(mutex);
            if (stopping) return;
            commands.push_back(std::move(command));
        }
        curl_multi_wakeup(multi);
    }

    // Runs the call on the delegate queue with the session and its delegate, unless either is gone.
    void toDelegate(std::function<void(URLSession&, URLSessionDelegate&)> call)
    {
        std::shared_ptr<URLSessionDelegate> target;
        {
            std::lock_guard lock(mutex);
            target = delegate;
        }
        if (!target) return;
        session.m_delegateQueue->async([weak = weakSession, target, call = std::move(call)] {
            if (auto strong = weak.lock()) call(*strong, *target);
        });
    }

    // A completion handed to the delegate: it brings the answer back to the engine thread, where it only
    // counts while the transfer still waits for that very decision.
    template <typename... Args>
    std::function<void(Args...)> answer(Transfer& transfer, std::type_identity_t<std::function<void(Transfer&, Args...)>> then)
    {
        const std::uint64_t identifier = transfer.task->taskIdentifier();
        const std::uint64_t decision = ++transfer.decision;
        return [weak = weakSession, identifier, decision, then = std::move(then)](Args... args) {
            auto strong = weak.lock();
            if (!strong) return;
            Engine* engine = strong->m_engine.get();
            engine->post([engine, identifier, decision, then, args...]() mutable {
                auto found = engine->transfers.find(identifier);
                if (found == engine->transfers.end() || found->second->decision != decision) return;
                then(*found->second, std::move(args)...);
            });
        };
    }

    void run();
    void perform(std::chrono::milliseconds wait);

    // Task commands.
    void resumeTask(const std::shared_ptr<URLSessionTask>& task, std::shared_ptr<Body> body,
                    std::optional<ResumeData> resumeFrom);
    void suspendTask(URLSessionTask& task);
    void cancelTask(const std::shared_ptr<URLSessionTask>& task, std::function<void(std::optional<Bytes>)> completion);
    void invalidate();

    // Attempts.
    void startAttempt(Transfer& transfer);
    void resend(Transfer& transfer);
    bool configure(Transfer& transfer);
    void takeOffNetwork(Transfer& transfer);
    void detach(Transfer& transfer);
    void transferDone(Transfer& transfer, CURLcode code);
    void headersComplete(Transfer& transfer);
    void deliverHead(Transfer& transfer, URLResponse response);
    bool deliverChunk(Transfer& transfer, const char* data, std::size_t length);
    void deliverHeld(Transfer& transfer);
    void decideRedirect(Transfer& transfer);
    void challengeAuthentication(Transfer& transfer);
    void finishDownload(Transfer& transfer);
    void complete(std::shared_ptr<URLSessionTask> task, std::optional<Error> error);
    void fail(Transfer& transfer, Error error);
    std::optional<Bytes> keepForResume(Transfer& transfer);
    URLSessionAuthChallengeDisposition askTrust(Transfer& transfer, AuthenticationChallenge& challenge,
                                               std::optional<URLCredential>& credential);
    void reportSent(Transfer& transfer, std::int64_t sent);

    // curl callbacks.
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* self);
    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded);
    static CURLcode onSSLContext(CURL*, void* context, void* self);
};

// ---------------------------------------------------------------------------------------------------
// The loop

void URLSession::Engine::run()
{
    while (true) {
        std::deque<std::function<void()>> pending;
        {
            std::lock_guard lock(mutex);
            if (stopping) return;
            pending.swap(commands);
        }
        for (auto& command : pending) command();
        bool more;
        {
            std::lock_guard lock(mutex);
            more = !commands.empty();
        }
        perform(more ? std::chrono::milliseconds(0) : std::chrono::milliseconds(1000));
    }
}

void URLSession::Engine::perform(std::chrono::milliseconds wait)
{
    int running = 0;
    curl_multi_perform(multi, &running);
    int queued = 0;
    std::vector<std::pair<CURL*, CURLcode>> done;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued))
        if (message->msg == CURLMSG_DONE) done.emplace_back(message->easy_handle, message->data.result);
    for (auto [easy, code] : done) {
        Transfer* transfer = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer);
        if (transfer) transferDone(*transfer, code);
    }

    const auto now = SteadyClock::now();
    auto earliest = now + wait;
    std::vector<Transfer*> expired;
    for (auto& [identifier, transfer] : transfers) {
        if (!transfer->inMulti || transfer->waitingForDelegate()) continue;
        if (transfer->deadline <= now)
            expired.push_back(transfer.get());
        else
            earliest = std::min(earliest, transfer->deadline);
    }
    for (Transfer* transfer : expired)
        fail(*transfer, makeURLError(URLErrorTimedOut, transfer->request.url, "The request timed out."));
    if (!expired.empty()) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(earliest - now).count() + 1;
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<long long>(left, 0)), nullptr);
}

void URLSession::Transfer::touch()
{
    double seconds = request.timeoutInterval > 0 ? request.timeoutInterval : 60.0;
    if (seconds == 60.0) seconds = engine->session.m_configuration.timeoutIntervalForRequest;
    deadline = SteadyClock::now() + clampedWait(seconds > 0 ? seconds : 60.0);
}

// ---------------------------------------------------------------------------------------------------
// Task commands

void URLSession::Engine::resumeTask(const std::shared_ptr<URLSessionTask>& task, std::shared_ptr<Body> body,
                                    std::optional<ResumeData> resumeFrom)
{
    auto found = transfers.find(task->taskIdentifier());
    if (found != transfers.end()) {
        Transfer& transfer = *found->second;
        if (!transfer.userPaused || task->state() != URLSessionTaskState::Running) return;
        transfer.userPaused = false;
        transfer.touch();
        if (transfer.inMulti && !transfer.pausedForDisposition) curl_easy_pause(transfer.easy, CURLPAUSE_CONT);
        return;
    }
    auto transfer = std::make_unique<Transfer>();
    transfer->engine = this;
    transfer->task = task;
    transfer->body = std::move(body);
    transfer->request = task->currentRequest();
    transfer->resumeFrom = std::move(resumeFrom);
    // A suspend that came in before this command keeps the transfer paused from the start.
    transfer->userPaused = task->state() == URLSessionTaskState::Suspended;
    Transfer& started = *transfer;
    transfers[task->taskIdentifier()] = std::move(transfer);
    startAttempt(started);
}

void URLSession::Engine::suspendTask(URLSessionTask& task)
{
    auto found = transfers.find(task.taskIdentifier());
    if (found == transfers.end() || task.state() != URLSessionTaskState::Suspended) return;
    Transfer& transfer = *found->second;
    if (transfer.userPaused) return;
    transfer.userPaused = true;
    if (transfer.inMulti) curl_easy_pause(transfer.easy, CURLPAUSE_ALL);
}

void URLSession::Engine::cancelTask(const std::shared_ptr<URLSessionTask>& task,
                                    std::function<void(std::optional<Bytes>)> completion)
{
    std::optional<Bytes> resumeData;
    auto found = transfers.find(task->taskIdentifier());
    if (found != transfers.end()) {
        detach(*found->second);
        if (completion) resumeData = keepForResume(*found->second);
    }
    if (completion)
        toDelegate([completion, resumeData](URLSession&, URLSessionDelegate&) { completion(resumeData); });
    complete(task, makeURLError(URLErrorCancelled, task->currentRequest().url, "cancelled"));
}

void URLSession::Engine::invalidate()
{
    invalidating = true;
    std::shared_ptr<URLSessionDelegate> last;
    {
        std::lock_guard lock(mutex);
        if (!registry.empty() || !delegate) return;
    }
    toDelegate([](URLSession& session, URLSessionDelegate& target) { target.didBecomeInvalidWithError(session, std::nullopt); });
    {
        std::lock_guard lock(mutex);
        last = std::move(delegate);
    }
    // The delegate may own the session: let it go on the delegate queue, never on this thread.
    session.m_delegateQueue->async([last = std::move(last)] {});
}

// ---------------------------------------------------------------------------------------------------
// Attempts

void URLSession::Engine::startAttempt(Transfer& transfer)
{
    transfer.phase = Transfer::Phase::Head;
    transfer.held = Transfer::Held::None;
    transfer.heldResponse.reset();
    transfer.heldBody.clear();
    transfer.headers.clear();
    transfer.failure.reset();
    transfer.bodyOffset = 0;
    transfer.lastSent = 0;
    transfer.awaitingResponseDisposition = transfer.pausedForDisposition = transfer.finishWhenAllowed = false;
    transfer.closeBody();
    {
        std::lock_guard lock(transfer.task->m_mutex);
        transfer.task->m_currentRequest = transfer.request;
        transfer.task->m_sent = 0;
        transfer.task->m_expectedToSend = transfer.body ? transfer.body->size() : 0;
    }
    if (transfer.body && transfer.body->kind == Body::Kind::File) {
        transfer.bodyFd = ::open(transfer.body->path.c_str(), O_RDONLY | O_CLOEXEC);
        if (transfer.bodyFd < 0)
            return fail(transfer, makeURLError(URLErrorUnknown, transfer.request.url,
                                               makePOSIXError(errno, transfer.body->path).description));
    }
    if (transfer.body && transfer.body->kind == Body::Kind::Stream) {
        InputStream& stream = *transfer.body->stream;
        transfer.body->streamOpened = true;
        stream.open();
        if (stream.streamStatus() == StreamStatus::Error)
            return fail(transfer, stream.streamError().value_or(makeURLError(URLErrorUnknown, transfer.request.url,
                                                                             "The request body cannot be read.")));
    }
    transfer.authorization.reset();
    if (transfer.answer)
        transfer.authorization = transfer.answer->authorizationFor(transfer.request.url, transfer.request.httpMethod,
                                                                   requestTarget(transfer.request.url));
    // Every field this attempt sends, whoever set it (a resume validator comes from data handed in).
    auto fields = transfer.request.headerFields;
    fields.insert(fields.end(), session.m_configuration.HTTPAdditionalHeaders.begin(), session.m_configuration.HTTPAdditionalHeaders.end());
    if (transfer.authorization) fields.emplace_back("Authorization", *transfer.authorization);
    if (transfer.resumeFrom) fields.emplace_back("If-Range", transfer.resumeFrom->validator);
    if (auto error = unsendableField(fields, transfer.request.url)) return fail(transfer, *error);
    if (auto error = unsendableMethod(transfer.request)) return fail(transfer, *error);
    if (!configure(transfer))
        return fail(transfer, makeURLError(URLErrorUnknown, transfer.request.url, "cannot create a transfer"));
    transfer.touch();
    curl_multi_add_handle(multi, transfer.easy);
    transfer.inMulti = true;
    if (transfer.userPaused) curl_easy_pause(transfer.easy, CURLPAUSE_ALL);
}

// Another attempt of the same request. A stream already read cannot be rewound: the delegate gives a
// fresh one of the same bytes, or the task fails rather than send what is left of the old one.
void URLSession::Engine::resend(Transfer& transfer)
{
    if (!transfer.body || transfer.body->kind != Body::Kind::Stream || !transfer.body->streamOpened)
        return startAttempt(transfer);
    auto renewed = answer<std::shared_ptr<InputStream>>(transfer, [this](Transfer& waiting, std::shared_ptr<InputStream> stream) {
        if (!stream)
            return fail(waiting, makeURLError(URLErrorRequestBodyStreamExhausted, waiting.request.url,
                                              "The request body stream cannot be sent again."));
        waiting.body = Body::ofStream(std::move(stream), waiting.body->streamLength);
        startAttempt(waiting);
    });
    auto task = transfer.task;
    toDelegate([task, renewed](URLSession& session, URLSessionDelegate& target) { target.needNewBodyStream(session, *task, renewed); });
}

bool URLSession::Engine::configure(Transfer& transfer)
{
    // A fresh handle per attempt: a reset one keeps curl's list of cookie files to read, and leaks it.
    if (transfer.easy) curl_easy_cleanup(transfer.easy);
    transfer.easy = curl_easy_init();
    CURL* easy = transfer.easy;
    if (!easy) return false;
    if (transfer.headerList) curl_slist_free_all(transfer.headerList);
    transfer.headerList = nullptr;
    const URLRequest& request = transfer.request;

    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorText);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Engine::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    if (session.m_configuration.HTTPShouldSetCookies) {
        curl_easy_setopt(easy, CURLOPT_SHARE, share);
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    }

    const bool hasBody = transfer.body != nullptr;
    if (request.httpMethod == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (hasBody) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(transfer.body->size()));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Engine::onRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
        if (request.httpMethod != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.httpMethod.c_str());
    } else if (request.httpMethod == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.httpMethod.c_str());
    }

    curl_slist* list = nullptr;
    // Our answer to a password challenge stands in for the request's own field.
    for (const auto& [name, value] : request.headerFields)
        if (!transfer.authorization || strcasecmp(name.c_str(), "Authorization") != 0)
            list = curl_slist_append(list, (name + ": " + value).c_str());
    if (transfer.authorization) list = curl_slist_append(list, ("Authorization: " + *transfer.authorization).c_str());
    for (const auto& [name, value] : session.m_configuration.HTTPAdditionalHeaders)
        if (!hasField(request.headerFields, name) && !(transfer.authorization && strcasecmp(name.c_str(), "Authorization") == 0))
            list = curl_slist_append(list, (name + ": " + value).c_str());
    // A body goes out as it is: no form type of curl's own and no wait for a 100 Continue.
    if (hasBody && !hasField(request.headerFields, "Content-Type")) list = curl_slist_append(list, "Content-Type:");
    // Without a length a server waits for a body that never comes.
    if (!hasBody && sendsZeroLength(request)) list = curl_slist_append(list, "Content-Length: 0");
    list = curl_slist_append(list, "Expect:");
    if (transfer.resumeFrom) {
        list = curl_slist_append(list, ("Range: bytes=" + std::to_string(transfer.resumeFrom->offset) + "-").c_str());
        if (!transfer.resumeFrom->validator.empty())
            list = curl_slist_append(list, ("If-Range: " + transfer.resumeFrom->validator).c_str());
    }
    transfer.headerList = list;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    // The trust decision is the delegate's, made on every handshake: no host check by curl itself and no
    // reused connection or resumed TLS session that would skip it.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Engine::onSSLContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &transfer);
    if (strncasecmp(request.url.c_str(), "https:", 6) == 0) {
        // The chain's verdict is our verify callback's, which never consults the CA file curl would load,
        // and curl would parse the whole bundle again for every connection.
        curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    }
    return true;
}

// Takes the transfer off the network; it stays registered until it completes.
void URLSession::Engine::takeOffNetwork(Transfer& transfer)
{
    if (transfer.inMulti) curl_multi_remove_handle(multi, transfer.easy);
    transfer.inMulti = false;
    transfer.closeBody();
}

// The same, and any answer the delegate still owes no longer counts.
void URLSession::Engine::detach(Transfer& transfer)
{
    takeOffNetwork(transfer);
    ++transfer.decision;
}

void URLSession::Engine::transferDone(Transfer& transfer, CURLcode code)
{
    // An answer without a body (HEAD, an empty body) ends while the delegate still decides about the
    // response: that decision must still count.
    takeOffNetwork(transfer);
    if (transfer.failure) return fail(transfer, *transfer.failure);
    if (code != CURLE_OK) return fail(transfer, errorForCurlCode(code, transfer.request.url, transfer.errorText));
    if (transfer.phase == Transfer::Phase::Head) headersComplete(transfer);
    if (transfer.held == Transfer::Held::Redirect) return decideRedirect(transfer);
    if (transfer.held == Transfer::Held::Authentication) return challengeAuthentication(transfer);
    if (transfer.awaitingResponseDisposition) {
        transfer.finishWhenAllowed = true;
        return;
    }
    if (transfer.task->kind() == URLSessionTask::Kind::Download) return finishDownload(transfer);
    complete(transfer.task, std::nullopt);
}

void URLSession::Engine::headersComplete(Transfer& transfer)
{
    URLResponse response;
    long status = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
    response.url = transfer.request.url;
    response.statusCode = status;
    response.allHeaderFields = transfer.headers;
    if (auto type = response.valueForHTTPHeaderField("Content-Type")) response.setContentType(*type);
    curl_off_t length = -1;
    if (curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
        response.expectedContentLength = length;

    std::optional<std::string> target;
    if (isRedirectStatus(status))
        if (auto location = response.valueForHTTPHeaderField("Location")) target = resolveLocation(response.url, *location);
    if (target) {
        transfer.redirectRequest = redirectedRequest(transfer.request, *target, status);
        transfer.held = Transfer::Held::Redirect;
    } else if (status == 401 && response.valueForHTTPHeaderField("WWW-Authenticate")) {
        transfer.held = Transfer::Held::Authentication;
    }
    if (transfer.held != Transfer::Held::None) {
        transfer.phase = Transfer::Phase::Hold;
        transfer.heldResponse = std::move(response);
        return;
    }
    deliverHead(transfer, std::move(response));
}

void URLSession::Engine::deliverHead(Transfer& transfer, URLResponse response)
{
    transfer.phase = Transfer::Phase::Body;
    auto task = transfer.task;
    std::int64_t expected = response.expectedContentLength;
    if (task->kind() == URLSessionTask::Kind::Download) {
        std::int64_t offset = 0;
        if (transfer.resumeFrom && response.statusCode == 206) {
            offset = transfer.resumeFrom->offset;
            transfer.filePath = transfer.resumeFrom->file;
            transfer.fileFd = ::open(transfer.filePath.c_str(), O_WRONLY | O_CLOEXEC);
            if (transfer.fileFd >= 0 && ::ftruncate(transfer.fileFd, offset) == 0) ::lseek(transfer.fileFd, offset, SEEK_SET);
        } else {
            std::error_code ignored;
            if (transfer.resumeFrom) std::filesystem::remove(transfer.resumeFrom->file, ignored);
            std::filesystem::create_directories(session.m_downloadFolder, ignored);
            transfer.filePath = session.m_downloadFolder + "/download-" + std::to_string(task->taskIdentifier()) + "-" +
                                std::to_string(transfer.redirects) + ".tmp";
            transfer.fileFd = ::open(transfer.filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        }
        if (transfer.fileFd < 0)
            transfer.failure = makeURLError(URLErrorCannotWriteToFile, transfer.request.url,
                                            makePOSIXError(errno, transfer.filePath).description);
        transfer.written = offset;
        transfer.expectedTotal = expected >= 0 ? expected + offset : -1;
        if (transfer.resumeFrom)
            toDelegate([task, offset, total = transfer.expectedTotal](URLSession& session, URLSessionDelegate& target) {
                target.didResumeAtOffset(session, *task, offset, total);
            });
        expected = transfer.expectedTotal;
    }
    {
        std::lock_guard lock(task->m_mutex);
        task->m_response = response;
        task->m_expectedToReceive = expected;
        task->m_received = transfer.written;
    }
    if (task->kind() == URLSessionTask::Kind::Download) return;
    transfer.awaitingResponseDisposition = true;
    auto allowed = answer<URLSessionResponseDisposition>(transfer, [this](Transfer& waiting, URLSessionResponseDisposition disposition) {
        waiting.awaitingResponseDisposition = false;
        if (disposition == URLSessionResponseDisposition::Cancel) {
            detach(waiting);
            return complete(waiting.task, makeURLError(URLErrorCancelled, waiting.request.url, "cancelled"));
        }
        if (waiting.finishWhenAllowed) {
            if (!waiting.heldBody.empty()) deliverChunk(waiting, reinterpret_cast<const char*>(waiting.heldBody.data()), waiting.heldBody.size());
            return complete(waiting.task, std::nullopt);
        }
        waiting.pausedForDisposition = false;
        if (waiting.inMulti && !waiting.userPaused) curl_easy_pause(waiting.easy, CURLPAUSE_CONT);
        waiting.touch();
    });
    toDelegate([task, response, allowed](URLSession& session, URLSessionDelegate& target) {
        target.didReceiveResponse(session, *task, response, allowed);
    });
}

bool URLSession::Engine::deliverChunk(Transfer& transfer, const char* data, std::size_t length)
{
    auto task = transfer.task;
    if (task->kind() != URLSessionTask::Kind::Download) {
        {
            std::lock_guard lock(task->m_mutex);
            task->m_received += static_cast<std::int64_t>(length);
        }
        toDelegate([task, bytes = Bytes(data, data + length)](URLSession& session, URLSessionDelegate& target) {
            target.didReceiveData(session, *task, bytes);
        });
        return true;
    }
    std::size_t done = 0;
    while (done < length) {
        const ssize_t wrote = ::write(transfer.fileFd, data + done, length - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            transfer.failure = makeURLError(URLErrorCannotWriteToFile, transfer.request.url,
                                            makePOSIXError(errno ? errno : ENOSPC, transfer.filePath).description);
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    transfer.written += static_cast<std::int64_t>(length);
    {
        std::lock_guard lock(task->m_mutex);
        task->m_received = transfer.written;
    }
    toDelegate([task, length, total = transfer.written, expected = transfer.expectedTotal](URLSession& session,
                                                                                          URLSessionDelegate& target) {
        target.didWriteData(session, *task, static_cast<std::int64_t>(length), total, expected);
    });
    return true;
}

void URLSession::Engine::deliverHeld(Transfer& transfer)
{
    transfer.held = Transfer::Held::None;
    Bytes body = std::move(transfer.heldBody);
    transfer.heldBody.clear();
    deliverHead(transfer, *transfer.heldResponse);
    if (transfer.failure) return fail(transfer, *transfer.failure);
    if (transfer.awaitingResponseDisposition) {
        transfer.heldBody = std::move(body);
        transfer.finishWhenAllowed = true;
        return;
    }
    if (!body.empty() && !deliverChunk(transfer, reinterpret_cast<const char*>(body.data()), body.size()))
        return fail(transfer, *transfer.failure);
    if (transfer.task->kind() == URLSessionTask::Kind::Download) return finishDownload(transfer);
    complete(transfer.task, std::nullopt);
}

void URLSession::Engine::decideRedirect(Transfer& transfer)
{
    if (transfer.redirects >= kMaximumRedirects)
        return fail(transfer, makeURLError(URLErrorHTTPTooManyRedirects, transfer.request.url, "too many HTTP redirects"));
    auto task = transfer.task;
    auto follow = answer<std::optional<URLRequest>>(transfer, [this](Transfer& waiting, std::optional<URLRequest> next) {
        if (!next) return deliverHeld(waiting);
        ++waiting.redirects;
        waiting.held = Transfer::Held::None;
        waiting.request = std::move(*next);
        // A body goes along only where the method keeps it (307, 308).
        if (waiting.request.httpMethod == "GET" || waiting.request.httpMethod == "HEAD") waiting.body.reset();
        resend(waiting);
    });
    toDelegate([task, response = *transfer.heldResponse, next = transfer.redirectRequest, follow](URLSession& session,
                                                                                                  URLSessionDelegate& target) {
        target.willPerformHTTPRedirection(session, *task, response, next, follow);
    });
}

void URLSession::Engine::challengeAuthentication(Transfer& transfer)
{
    const auto offered = HTTPAuthorization::challengesOf(transfer.heldResponse->allHeaderFields);
    const auto chosen = std::find_if(offered.begin(), offered.end(), &HTTPAuthorization::canAnswer);
    if (chosen == offered.end()) return fail(transfer, unanswerableChallenges(offered, transfer.request.url));
    // The password was right and only the nonce expired: the same answer with the new nonce, without
    // asking again. A server that calls every nonce expired is answered only so often.
    if (transfer.authorization && transfer.nonceRenewals < kMaximumRedirects)
        for (const auto& challenge : offered)
            if (transfer.answer->renewNonce(challenge)) {
                ++transfer.nonceRenewals;
                return resend(transfer);
            }
    // Refusals count where they happen: an attempt that carried no answer of ours (the first, or one a
    // redirect took elsewhere) meets a first challenge, not a refused password.
    if (!transfer.authorization) transfer.authenticationFailures = 0;
    // A delegate that answers every 401 with a password the server keeps refusing ends with the 401.
    if (transfer.authenticationFailures >= kMaximumRedirects) return deliverHeld(transfer);
    ProtectionSpace space{stripBrackets(transfer.request.host()), HTTPAuthorization::authenticationMethod(*chosen), nullptr,
                          chosen->parameter("realm")};
    auto challenge = std::make_shared<AuthenticationChallenge>(std::move(space), transfer.authenticationFailures);
    auto decided = answer<URLSessionAuthChallengeDisposition, std::optional<URLCredential>>(
        transfer, [this, answered = *chosen](Transfer& waiting, URLSessionAuthChallengeDisposition disposition,
                                             std::optional<URLCredential> credential) {
            if (disposition == URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge)
                return fail(waiting, makeURLError(URLErrorCancelled, waiting.request.url, "cancelled"));
            if (disposition != URLSessionAuthChallengeDisposition::UseCredential || !credential || credential->user.empty())
                return deliverHeld(waiting);
            ++waiting.authenticationFailures;
            waiting.answer.emplace(waiting.request.url, answered, std::move(*credential));
            resend(waiting);
        });
    auto task = transfer.task;
    toDelegate([task, challenge, decided](URLSession& session, URLSessionDelegate& target) {
        target.taskDidReceiveChallenge(session, *task, *challenge, decided);
    });
}

void URLSession::Engine::finishDownload(Transfer& transfer)
{
    if (transfer.fileFd >= 0) ::close(transfer.fileFd);
    transfer.fileFd = -1;
    auto task = transfer.task;
    toDelegate([task, path = transfer.filePath](URLSession& session, URLSessionDelegate& target) {
        target.didFinishDownloadingToURL(session, *task, path);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    });
    complete(task, std::nullopt);
}

// Keeps a download's partial file for a later resume; its resume data, or nothing when no bytes came.
std::optional<Bytes> URLSession::Engine::keepForResume(Transfer& transfer)
{
    if (transfer.task->kind() != URLSessionTask::Kind::Download || transfer.fileFd < 0 || transfer.written <= 0)
        return std::nullopt;
    ::close(transfer.fileFd);
    transfer.fileFd = -1;
    const URLResponse response = transfer.task->response().value_or(URLResponse{});
    ResumeData data{transfer.request.url, transfer.filePath, transfer.written,
                    response.valueForHTTPHeaderField("ETag").value_or(response.valueForHTTPHeaderField("Last-Modified").value_or(""))};
    transfer.filePath.clear();
    return data.encode();
}

void URLSession::Engine::fail(Transfer& transfer, Error error)
{
    detach(transfer);
    if (auto resume = keepForResume(transfer))
        error.userInfo[URLSessionDownloadTaskResumeData] = std::string(resume->begin(), resume->end());
    complete(transfer.task, std::move(error));
}

void URLSession::Engine::complete(std::shared_ptr<URLSessionTask> task, std::optional<Error> error)
{
    auto found = transfers.find(task->taskIdentifier());
    if (found != transfers.end()) {
        detach(*found->second);
        if (found->second->fileFd >= 0 && !found->second->filePath.empty()) {
            ::close(found->second->fileFd);
            found->second->fileFd = -1;
            std::error_code ignored;
            std::filesystem::remove(found->second->filePath, ignored);
        }
        transfers.erase(found);
    }
    {
        std::lock_guard lock(task->m_mutex);
        task->m_state = URLSessionTaskState::Completed;
        task->m_error = error;
    }
    toDelegate([task, error](URLSession& session, URLSessionDelegate& target) { target.didCompleteWithError(session, *task, error); });
    {
        std::lock_guard lock(mutex);
        registry.erase(task->taskIdentifier());
    }
    if (invalidating) invalidate();
}

URLSessionAuthChallengeDisposition URLSession::Engine::askTrust(Transfer& transfer, AuthenticationChallenge& challenge,
                                                                std::optional<URLCredential>& credential)
{
    struct Answer {
        bool given = false;
        URLSessionAuthChallengeDisposition disposition = URLSessionAuthChallengeDisposition::PerformDefaultHandling;
        std::optional<URLCredential> credential;
    };
    auto result = std::make_shared<Answer>();
    std::shared_ptr<URLSessionDelegate> target;
    {
        std::lock_guard lock(mutex);
        target = delegate;
    }
    if (!target) return URLSessionAuthChallengeDisposition::PerformDefaultHandling;
    URLSessionChallengeCompletion completion = [this, result](URLSessionAuthChallengeDisposition disposition,
                                                              std::optional<URLCredential> given) {
        {
            std::lock_guard lock(mutex);
            if (result->given) return;
            result->given = true;
            result->disposition = disposition;
            result->credential = std::move(given);
        }
        answered.notify_all();
    };
    auto task = transfer.task;
    // The handshake waits here, on the delegate queue's answer only; the delegate queue never waits for
    // this thread.
    session.m_delegateQueue->async([weak = weakSession, target, task, &challenge, completion] {
        auto strong = weak.lock();
        if (!strong) return completion(URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge, std::nullopt);
        if (target->handlesSessionChallenges())
            target->didReceiveChallenge(*strong, challenge, completion);
        else
            target->taskDidReceiveChallenge(*strong, *task, challenge, completion);
    });
    std::unique_lock lock(mutex);
    answered.wait(lock, [&] { return result->given || stopping; });
    if (!result->given) {
        // The session is going away; the queued question must not touch the challenge any more.
        result->given = true;
        return URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge;
    }
    credential = result->credential;
    return result->disposition;
}

bool URLSession::Transfer::acceptServerTrust(ServerTrust& trust)
{
    if (task->state() == URLSessionTaskState::Canceling) return false;
    const std::string host = stripBrackets(request.host());
    AuthenticationChallenge challenge(ProtectionSpace{host, kAuthenticationMethodServerTrust, &trust, {}});
    std::optional<URLCredential> given;
    const auto disposition = engine->askTrust(*this, challenge, given);
    if (disposition == URLSessionAuthChallengeDisposition::UseCredential && given && given->trust) return true;
    if (disposition == URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge) {
        failure = makeURLError(URLErrorCancelled, request.url, "cancelled");
        return false;
    }
    trust.setPolicy(TrustPolicy::ssl(host));
    TrustResult result;
    if (trust.evaluate(result) && (result == TrustResult::Proceed || result == TrustResult::Unspecified)) return true;
    failure = makeURLError(URLErrorServerCertificateUntrusted, request.url,
                           "The certificate for this server is invalid: " + trust.failureReason());
    return false;
}

void URLSession::Engine::reportSent(Transfer& transfer, std::int64_t sent)
{
    if (sent <= transfer.lastSent) return;
    const std::int64_t step = sent - transfer.lastSent;
    transfer.lastSent = sent;
    auto task = transfer.task;
    std::int64_t expected;
    {
        std::lock_guard lock(task->m_mutex);
        task->m_sent = sent;
        expected = task->m_expectedToSend;
    }
    toDelegate([task, step, sent, expected](URLSession& session, URLSessionDelegate& target) {
        target.didSendBodyData(session, *task, step, sent, expected);
    });
}

// ---------------------------------------------------------------------------------------------------
// curl callbacks (engine thread, inside curl_multi_perform)

std::size_t URLSession::Engine::onHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    transfer.touch();
    const std::string line = trimHeaderLine(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
        transfer.headers.clear();
    } else if (line.empty()) {
        long status = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
        // Interim answers (100 Continue and the like) are followed by the real one.
        if (status >= 200 && transfer.phase == Transfer::Phase::Head) transfer.engine->headersComplete(transfer);
    } else if (const auto colon = line.find(':'); colon != std::string::npos) {
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        transfer.headers.emplace_back(line.substr(0, colon), value);
    }
    return transfer.failure ? 0 : length;
}

std::size_t URLSession::Engine::onBody(char* data, std::size_t size, std::size_t count, void* self)
{
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    transfer.touch();
    if (transfer.phase == Transfer::Phase::Head) transfer.engine->headersComplete(transfer);
    if (transfer.phase == Transfer::Phase::Hold) {
        transfer.heldBody.insert(transfer.heldBody.end(), data, data + length);
        return length;
    }
    if (transfer.failure) return 0;
    if (transfer.awaitingResponseDisposition) {
        // curl hands the same bytes again once the transfer is unpaused.
        transfer.pausedForDisposition = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    return transfer.engine->deliverChunk(transfer, data, length) ? length : 0;
}

std::size_t URLSession::Engine::onRead(char* buffer, std::size_t size, std::size_t count, void* self)
{
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    transfer.touch();
    const Body& body = *transfer.body;
    if (body.kind == Body::Kind::Stream) {
        const std::int64_t got = body.stream->read(reinterpret_cast<std::uint8_t*>(buffer), length);
        if (got >= 0) return static_cast<std::size_t>(got);
        transfer.failure = body.stream->streamError().value_or(
            makeURLError(URLErrorUnknown, transfer.request.url, "The request body cannot be read."));
        return CURL_READFUNC_ABORT;
    }
    if (body.kind == Body::Kind::Data) {
        const std::size_t take = std::min(length, body.data.size() - transfer.bodyOffset);
        std::copy_n(body.data.begin() + static_cast<std::ptrdiff_t>(transfer.bodyOffset), take, buffer);
        transfer.bodyOffset += take;
        return take;
    }
    while (true) {
        const ssize_t got = ::read(transfer.bodyFd, buffer, length);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno == EINTR) continue;
        transfer.failure = makeURLError(URLErrorUnknown, transfer.request.url, makePOSIXError(errno, body.path).description);
        return CURL_READFUNC_ABORT;
    }
}

int URLSession::Engine::onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded)
{
    auto& transfer = *static_cast<Transfer*>(self);
    if (uploaded > transfer.lastSent) {
        transfer.touch();
        transfer.engine->reportSent(transfer, uploaded);
    }
    return 0;
}

CURLcode URLSession::Engine::onSSLContext(CURL*, void* context, void* self)
{
    installServerTrustCheck(context, static_cast<Transfer*>(self));
    return CURLE_OK;
}

// ---------------------------------------------------------------------------------------------------
// The session

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(URLSessionConfiguration configuration,
                                                                 std::shared_ptr<URLSessionDelegate> delegate,
                                                                 std::shared_ptr<SerialQueue> delegateQueue,
                                                                 NotificationCenter& center)
{
    std::shared_ptr<URLSession> session(
        new URLSession(std::move(configuration), std::move(delegate), std::move(delegateQueue), center));
    session->m_engine->weakSession = session;
    session->m_engine->start("rig.url-session");
    return session;
}

URLSession::URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<SerialQueue> delegateQueue, NotificationCenter& center)
    : m_configuration(std::move(configuration)),
      m_delegateQueue(std::move(delegateQueue)),
      m_center(center),
      m_engine(std::make_unique<Engine>(*this))
{
    m_engine->delegate = std::move(delegate);
    // TMPDIR naming no folder leaves the system's own.
    std::error_code error;
    std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) temporary = "/tmp";
    m_downloadFolder = (temporary /
                        ("rig-url-session-" + std::to_string(getpid()) + "-" + std::to_string(nextSessionNumber++)))
                           .string();
}

URLSession::~URLSession()
{
    m_engine.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_downloadFolder, ignored);
}

std::shared_ptr<URLSessionTask> URLSession::makeTask(URLSessionTask::Kind kind, URLRequest request,
                                                     std::shared_ptr<Body> body, std::optional<ResumeData> resumeFrom)
{
    if (m_invalidated) return nullptr;
    std::shared_ptr<URLSessionTask> task(
        new URLSessionTask(kind, nextTaskIdentifier++, std::move(request), weak_from_this(), &m_center));
    if (body) task->m_expectedToSend = body->size();
    std::lock_guard lock(m_engine->mutex);
    m_engine->registry[task->taskIdentifier()] = task;
    m_engine->pending[task->taskIdentifier()] = Engine::Pending{std::move(body), std::move(resumeFrom)};
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::dataTaskWithRequest(URLRequest request)
{
    auto body = Body::ofRequest(request);
    return makeTask(URLSessionTask::Kind::Data, std::move(request), std::move(body), std::nullopt);
}

std::shared_ptr<URLSessionTask> URLSession::uploadTaskWithStreamedRequest(URLRequest request)
{
    if (!request.httpBodyStream) return nullptr;
    auto body = Body::ofStream(request.httpBodyStream, Body::declaredLength(request));
    return makeTask(URLSessionTask::Kind::Upload, std::move(request), std::move(body), std::nullopt);
}

std::shared_ptr<URLSessionTask> URLSession::uploadTaskWithRequestFromFile(URLRequest request, std::string filePath)
{
    auto body = std::make_shared<Body>();
    body->kind = Body::Kind::File;
    body->path = std::move(filePath);
    return makeTask(URLSessionTask::Kind::Upload, std::move(request), std::move(body), std::nullopt);
}

std::shared_ptr<URLSessionTask> URLSession::uploadTaskWithRequestFromData(URLRequest request, Bytes data)
{
    auto body = std::make_shared<Body>();
    body->data = std::move(data);
    return makeTask(URLSessionTask::Kind::Upload, std::move(request), std::move(body), std::nullopt);
}

std::shared_ptr<URLSessionTask> URLSession::downloadTaskWithRequest(URLRequest request)
{
    return makeTask(URLSessionTask::Kind::Download, std::move(request), nullptr, std::nullopt);
}

std::shared_ptr<URLSessionTask> URLSession::downloadTaskWithResumeData(const Bytes& resumeData)
{
    auto resumeFrom = ResumeData::decode(resumeData);
    if (!resumeFrom) return nullptr;
    URLRequest request(resumeFrom->url);
    return makeTask(URLSessionTask::Kind::Download, std::move(request), nullptr, std::move(resumeFrom));
}

URLSession::TaskLists URLSession::getTasks() const
{
    TaskLists lists;
    std::lock_guard lock(m_engine->mutex);
    for (const auto& [identifier, task] : m_engine->registry) {
        switch (task->kind()) {
        case URLSessionTask::Kind::Data: lists.dataTasks.push_back(task); break;
        case URLSessionTask::Kind::Upload: lists.uploadTasks.push_back(task); break;
        case URLSessionTask::Kind::Download: lists.downloadTasks.push_back(task); break;
        }
    }
    return lists;
}

void URLSession::finishTasksAndInvalidate()
{
    m_invalidated = true;
    Engine* engine = m_engine.get();
    engine->post([engine] { engine->invalidate(); });
}

void URLSession::invalidateAndCancel()
{
    m_invalidated = true;
    const TaskLists lists = getTasks();
    for (const auto* list : {&lists.dataTasks, &lists.uploadTasks, &lists.downloadTasks})
        for (const auto& task : *list) task->cancel();
    finishTasksAndInvalidate();
}

std::string URLSession::description() const
{
    char text[64];
    std::snprintf(text, sizeof text, "<URLSession: %p>", static_cast<const void*>(this));
    return text;
}

void URLSession::taskRunningChanged(const std::shared_ptr<URLSessionTask>& task, bool running)
{
    Engine* engine = m_engine.get();
    if (!running) return engine->post([engine, task] { engine->suspendTask(*task); });
    std::optional<Engine::Pending> pending;
    {
        std::lock_guard lock(engine->mutex);
        auto found = engine->pending.find(task->taskIdentifier());
        if (found != engine->pending.end()) {
            pending = std::move(found->second);
            engine->pending.erase(found);
        }
    }
    if (!pending) return engine->post([engine, task] { engine->resumeTask(task, nullptr, std::nullopt); });
    engine->post([engine, task, pending = std::move(*pending)]() mutable {
        engine->resumeTask(task, std::move(pending.body), std::move(pending.resumeFrom));
    });
}

void URLSession::taskCancelled(const std::shared_ptr<URLSessionTask>& task, std::function<void(std::optional<Bytes>)> completion)
{
    Engine* engine = m_engine.get();
    {
        std::lock_guard lock(engine->mutex);
        engine->pending.erase(task->taskIdentifier());
    }
    engine->post([engine, task, completion = std::move(completion)] { engine->cancelTask(task, completion); });
}

}  // namespace platform
