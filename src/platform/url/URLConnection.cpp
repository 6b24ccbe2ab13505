#include "platform/url/URLConnection.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "common/Log.h"
#include "platform/url/CurlSupport.h"
#include "platform/url/HTTPAuthorization.h"
#include "platform/url/InputStream.h"
#include "platform/url/TransferLoop.h"
#include "platform/url/URLError.h"

namespace platform {

namespace {

constexpr int kMaximumRedirects = 16;
std::chrono::milliseconds idleLimit(const URLRequest& request)
{
    return clampedWait(request.timeoutInterval > 0 ? request.timeoutInterval : 60.0);
}

// Collects the answer of a synchronous request.
class Collector final : public URLConnectionDelegate {
public:
    void didReceiveResponse(URLConnection&, const URLResponse& received) override { response = received; }
    void didReceiveData(URLConnection&, const std::uint8_t* data, std::size_t length) override
    {
        body.insert(body.end(), data, data + length);
    }
    void didFinishLoading(URLConnection&) override { done = true; }
    void didFailWithError(URLConnection&, const Error& failure) override
    {
        error = failure;
        done = true;
    }

    std::optional<URLResponse> response;
    Bytes body;
    std::optional<Error> error;
    bool done = false;
};

}  // namespace

struct CurlCallbacks {
    static std::size_t header(char* data, std::size_t size, std::size_t count, void* self)
    {
        return static_cast<URLConnection*>(self)->onHeader(data, size * count);
    }
    static std::size_t body(char* data, std::size_t size, std::size_t count, void* self)
    {
        return static_cast<URLConnection*>(self)->onBody(data, size * count);
    }
    static std::size_t read(char* buffer, std::size_t size, std::size_t count, void* self)
    {
        return static_cast<URLConnection*>(self)->onRead(buffer, size * count);
    }
    static CURLcode sslContext(CURL*, void* context, void* self)
    {
        installServerTrustCheck(context, static_cast<URLConnection*>(self));
        return CURLE_OK;
    }
};

std::shared_ptr<URLConnection> URLConnection::create(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate)
{
    return std::shared_ptr<URLConnection>(new URLConnection(std::move(request), std::move(delegate)));
}

URLConnection::URLConnection(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate)
    : m_original(request), m_request(std::move(request)), m_delegate(std::move(delegate))
{
}

URLConnection::~URLConnection()
{
    if (m_easy) curl_easy_cleanup(static_cast<CURL*>(m_easy));
    if (m_url) curl_url_cleanup(static_cast<CURLU*>(m_url));
    if (m_headerList) curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
}

std::optional<Error> URLConnection::configure()
{
    if (!m_easy) m_easy = curl_easy_init();
    CURL* easy = static_cast<CURL*>(m_easy);
    if (!easy) return makeURLError(URLErrorUnknown, m_request.url, "cannot create a transfer");
    curl_easy_reset(easy);
    if (m_headerList) curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
    m_headerList = nullptr;
    m_headers.clear();
    m_responseDelivered = false;
    m_redirect.reset();
    m_trustError.reset();
    m_authenticationRetry = false;
    m_bodySent = 0;
    m_bodyLength = -1;

    // curl connects with the very URL we parse here, so the scheme and host that decide on trust below
    // are the ones it connects to.
    if (!m_url) m_url = curl_url();
    auto* url = static_cast<CURLU*>(m_url);
    if (!url) return makeURLError(URLErrorUnknown, m_request.url, "cannot create a transfer");
    const CURLUcode parsed = curl_url_set(url, CURLUPART_URL, m_request.url.c_str(), 0);
    if (parsed != CURLUE_OK)
        return makeURLError(parsed == CURLUE_UNSUPPORTED_SCHEME ? URLErrorUnsupportedURL : URLErrorBadURL,
                            m_request.url, curl_url_strerror(parsed));
    std::string scheme;
    m_host.clear();
    char* text = nullptr;
    if (curl_url_get(url, CURLUPART_SCHEME, &text, 0) == CURLUE_OK) scheme = text;
    curl_free(text);
    text = nullptr;
    if (curl_url_get(url, CURLUPART_HOST, &text, 0) == CURLUE_OK) m_host = text;
    curl_free(text);

    curl_easy_setopt(easy, CURLOPT_CURLU, url);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlCallbacks::header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlCallbacks::body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idleLimit(m_request).count()));

    const bool hasBody = m_request.httpMethod != "HEAD" && m_request.httpMethod != "GET" &&
                         (m_request.httpBody || m_request.httpBodyStream);
    if (auto error = prepareBody(hasBody)) return error;
    if (m_request.httpMethod == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (m_request.httpMethod == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        if (hasBody) {
            // A stream without a declared length goes in chunks.
            curl_off_t length = m_request.httpBody ? static_cast<curl_off_t>(m_request.httpBody->size()) : -1;
            if (!m_request.httpBody)
                if (auto declared = m_request.valueForHTTPHeaderField("Content-Length")) length = std::strtoll(declared->c_str(), nullptr, 10);
            m_bodyLength = length;
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, length);
            curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlCallbacks::read);
            curl_easy_setopt(easy, CURLOPT_READDATA, this);
        }
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_request.httpMethod.c_str());
    }

    // Our answer to a password challenge goes only where it was asked for, in place of the request's own.
    std::vector<std::pair<std::string, std::string>> fields;
    std::optional<std::string> authorization;
    if (m_answer) authorization = m_answer->authorizationFor(m_request.url, m_request.httpMethod, requestTarget(m_request.url));
    m_answerSent = authorization.has_value();
    for (const auto& field : m_request.headerFields)
        if (!authorization || strcasecmp(field.first.c_str(), "Authorization") != 0) fields.push_back(field);
    if (authorization) fields.emplace_back("Authorization", *authorization);
    if (auto error = unsendableField(fields, m_request.url)) return error;
    if (auto error = unsendableMethod(m_request)) return error;
    curl_slist* list = nullptr;
    for (const auto& [name, value] : fields) list = curl_slist_append(list, (name + ": " + value).c_str());
    // A body goes out as it is: no form type of curl's own and no wait for a 100 Continue.
    if (hasBody && !m_request.valueForHTTPHeaderField("Content-Type")) list = curl_slist_append(list, "Content-Type:");
    // Without a length a server waits for a body that never comes.
    if (!hasBody && sendsZeroLength(m_request)) list = curl_slist_append(list, "Content-Length: 0");
    if (hasBody) list = curl_slist_append(list, "Expect:");
    m_headerList = list;
    if (list) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    // The trust decision is ours (the delegate's, or the standard evaluation for the host), made on every
    // handshake: no host check by curl itself, and no reused connection or resumed session that would skip it.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &CurlCallbacks::sslContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
    if (scheme != "http") {
        // The chain's verdict is our verify callback's, which never consults the CA file curl would load,
        // and curl would parse the whole bundle again for every connection.
        curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    }
    return std::nullopt;
}

std::optional<Error> URLConnection::prepareBody(bool hasBody)
{
    if (m_bodyStream && m_bodyStreamRead) m_bodyStream->close();
    m_bodyStream.reset();
    m_bodyOffset = 0;
    m_bodyError.reset();
    if (!hasBody || m_request.httpBody) return std::nullopt;
    // The first attempt reads the request's own stream; a redirect that keeps the body needs a copy,
    // and a stream that cannot be copied fails the request rather than send what is left of it.
    if (!m_bodyStreamRead) {
        m_bodyStream = m_request.httpBodyStream;
    } else {
        m_bodyStream = m_request.httpBodyStream->copyInputStream();
        if (!m_bodyStream)
            return makeURLError(URLErrorRequestBodyStreamExhausted, m_request.url, "The request body stream cannot be sent again.");
    }
    m_bodyStreamRead = true;
    m_bodyStream->open();
    if (m_bodyStream->streamStatus() == StreamStatus::Error)
        return m_bodyStream->streamError().value_or(makeURLError(URLErrorUnknown, m_request.url, "The request body cannot be read."));
    return std::nullopt;
}

std::size_t URLConnection::onRead(char* buffer, std::size_t length)
{
    if (m_cancelled) return CURL_READFUNC_ABORT;
    touch();
    if (!m_bodyStream) {
        const Bytes& body = *m_request.httpBody;
        const std::size_t take = std::min(length, body.size() - m_bodyOffset);
        std::memcpy(buffer, body.data() + m_bodyOffset, take);
        m_bodyOffset += take;
        touch(take);
        sentBody(take);
        return m_cancelled ? CURL_READFUNC_ABORT : take;
    }
    const std::int64_t got = m_bodyStream->read(reinterpret_cast<std::uint8_t*>(buffer), length);
    if (got >= 0) {
        touch(static_cast<std::size_t>(got));
        sentBody(static_cast<std::size_t>(got));
        return m_cancelled ? CURL_READFUNC_ABORT : static_cast<std::size_t>(got);
    }
    m_bodyError = m_bodyStream->streamError().value_or(makeURLError(URLErrorUnknown, m_request.url, "The request body cannot be read."));
    return CURL_READFUNC_ABORT;
}

void URLConnection::sentBody(std::size_t bytes)
{
    if (bytes == 0) return;
    m_bodySent += static_cast<std::int64_t>(bytes);
    if (auto delegate = m_delegate) delegate->didSendBodyData(*this, static_cast<std::int64_t>(bytes), m_bodySent, m_bodyLength);
}

void URLConnection::touch(std::size_t bytes)
{
    const auto now = std::chrono::steady_clock::now();
    m_deadline = now + idleLimit(m_request);
    if (m_totalDeadline) m_deadline = std::min(m_deadline, *m_totalDeadline);
    if (m_request.slowTransferBytes == 0 || !(m_request.slowTransferInterval > 0)) return;
    // Each window that reaches the floor opens the next one.
    m_windowBytes += bytes;
    if (m_windowBytes >= m_request.slowTransferBytes) {
        m_windowStart = now;
        m_windowBytes = 0;
    }
    m_deadline = std::min(m_deadline, m_windowStart + clampedWait(m_request.slowTransferInterval));
}

void URLConnection::start(TransferLoop& loop)
{
    if (m_loop || m_ended) return;
    m_loop = &loop;
    auto self = shared_from_this();
    // Counted from the first start, across redirects: a trickle of data re-arms only the idle limit.
    if (m_request.totalTimeoutInterval > 0)
        m_totalDeadline = std::chrono::steady_clock::now() + clampedWait(m_request.totalTimeoutInterval);
    if (auto error = configure()) return fail(*error);
    m_windowStart = std::chrono::steady_clock::now();
    m_windowBytes = 0;
    touch();
    loop.add(self);
}

void URLConnection::cancel()
{
    if (m_cancelled || m_ended) return;
    m_cancelled = true;
    auto self = shared_from_this();
    if (m_loop) m_loop->cancelled(*this);
    // The delegate hears nothing more; let it go now.
    m_delegate.reset();
}

void URLConnection::end()
{
    m_ended = true;
    auto self = shared_from_this();
    if (m_loop) m_loop->remove(*this);
}

void URLConnection::fail(const Error& error)
{
    auto self = shared_from_this();
    end();
    std::shared_ptr<URLConnectionDelegate> delegate = std::move(m_delegate);
    if (delegate) delegate->didFailWithError(*this, error);
}

void URLConnection::timedOut()
{
    if (m_totalDeadline && std::chrono::steady_clock::now() >= *m_totalDeadline)
        return fail(makeURLError(URLErrorTimedOut, m_request.url, "The request took longer than its time limit."));
    fail(makeURLError(URLErrorTimedOut, m_request.url, "The request timed out."));
}

void URLConnection::transferDone(int curlCode)
{
    auto self = shared_from_this();
    if (m_cancelled) return m_loop->remove(*this);
    if (curlCode == CURLE_OK && m_redirect) {
        if (++m_redirectCount > kMaximumRedirects)
            return fail(makeURLError(URLErrorHTTPTooManyRedirects, m_request.url, "too many HTTP redirects"));
        URLRequest next = std::move(*m_redirect);
        m_loop->remove(*this);
        m_request = std::move(next);
        if (auto error = configure()) return fail(*error);
        touch();
        m_loop->add(self);
        return;
    }
    if (curlCode == CURLE_OK && !m_responseDelivered && !m_authenticationRetry) headersComplete();
    if (curlCode == CURLE_OK && m_authenticationRetry) {
        m_loop->remove(*this);
        if (auto error = configure()) return fail(*error);
        touch();
        m_loop->add(self);
        return;
    }
    if (m_cancelled) return m_loop->remove(*this);
    if (curlCode != CURLE_OK || m_authenticationError) return fail(errorFor(curlCode));
    end();
    std::shared_ptr<URLConnectionDelegate> delegate = std::move(m_delegate);
    if (delegate) delegate->didFinishLoading(*this);
}

Error URLConnection::errorFor(int curlCode) const
{
    if (m_trustError) return *m_trustError;
    if (m_authenticationError) return *m_authenticationError;
    if (m_bodyError) return *m_bodyError;
    return errorForCurlCode(curlCode, m_request.url, m_errorText);
}

std::size_t URLConnection::onHeader(const char* data, std::size_t length)
{
    if (m_cancelled) return 0;
    touch(length);
    const std::string line = trimHeaderLine(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
        m_headers.clear();
    } else if (line.empty()) {
        long status = 0;
        curl_easy_getinfo(static_cast<CURL*>(m_easy), CURLINFO_RESPONSE_CODE, &status);
        // Interim answers (100 Continue and the like) are followed by the real one.
        if ((status >= 200 || status == 0) && !m_responseDelivered && !m_authenticationRetry) headersComplete();
    } else if (auto field = URLResponse::headerField(line)) {
        m_headers.push_back(std::move(*field));
    }
    return m_cancelled || m_authenticationError ? 0 : length;
}

void URLConnection::headersComplete()
{
    CURL* easy = static_cast<CURL*>(m_easy);
    URLResponse response;
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    response.url = effective ? effective : m_request.url;
    response.statusCode = status;
    response.allHeaderFields = m_headers;
    if (auto type = response.valueForHTTPHeaderField("Content-Type")) response.setContentType(*type);
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
        response.expectedContentLength = length;

    const std::optional<std::string> location = response.valueForHTTPHeaderField("Location");
    std::optional<std::string> target;
    if (isRedirectStatus(status) && location) target = resolveLocation(response.url, *location);
    if (target && m_delegate) {
        URLRequest next = redirectedRequest(m_request, *target, status);
        auto delegate = m_delegate;
        m_redirect = delegate->willSendRequest(*this, next, response);
        if (m_redirect) return;
    }
    if (status == 401 && answerPasswordChallenge(response)) return;
    if (m_authenticationError) return;
    deliverResponse(std::move(response));
}

bool URLConnection::answerPasswordChallenge(const URLResponse& response)
{
    auto delegate = m_delegate;
    if (!response.valueForHTTPHeaderField("WWW-Authenticate") || !delegate) return false;
    const std::vector<HTTPAuthorization::Challenge> offered = HTTPAuthorization::challengesOf(response.allHeaderFields);
    const auto chosen = std::find_if(offered.begin(), offered.end(), &HTTPAuthorization::canAnswer);
    if (chosen == offered.end()) {
        m_authenticationError = unanswerableChallenges(offered, m_request.url);
        return false;
    }
    // The password was right and only the nonce expired: the same answer with the new nonce, not a
    // failure. A server that calls every nonce expired is answered only so often.
    if (m_answer && m_answerSent && m_nonceRenewals < kMaximumRedirects)
        for (const auto& challenge : offered)
            if (m_answer->renewNonce(challenge)) {
                ++m_nonceRenewals;
                m_authenticationRetry = true;
                return true;
            }
    // Refusals count where they happen: an attempt that carried no answer of ours (the first, or one a
    // redirect took elsewhere) meets a first challenge, not a refused password.
    if (!m_answerSent) m_authenticationFailures = 0;
    // A delegate that answers every 401 with a credential the server keeps refusing ends with the 401.
    if (m_authenticationFailures >= kMaximumRedirects) return false;
    std::string host = m_host;
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    AuthenticationChallenge challenge(
        ProtectionSpace{host, HTTPAuthorization::authenticationMethod(*chosen), nullptr, chosen->parameter("realm")},
        m_authenticationFailures);
    delegate->willSendRequestForAuthenticationChallenge(*this, challenge);
    switch (challenge.disposition()) {
    case AuthenticationChallenge::Disposition::UseCredential: {
        const auto& credential = challenge.credential();
        if (!credential || credential->user.empty()) return false;
        m_answer.emplace(m_request.url, *chosen, *credential);
        ++m_authenticationFailures;
        m_authenticationRetry = true;
        return true;
    }
    case AuthenticationChallenge::Disposition::ContinueWithoutCredential: return false;
    default:
        m_authenticationError = makeURLError(URLErrorUserCancelledAuthentication, m_request.url,
                                             challenge.cancelReason().empty() ? "The password request was cancelled."
                                                                              : challenge.cancelReason());
        return false;
    }
}

void URLConnection::deliverResponse(URLResponse response)
{
    m_responseDelivered = true;
    if (auto delegate = m_delegate) delegate->didReceiveResponse(*this, response);
}

std::size_t URLConnection::onBody(const char* data, std::size_t length)
{
    if (m_cancelled) return 0;
    touch(length);
    // The body of a redirect that is being followed, or of a 401 answered by another attempt, is not
    // part of the answer.
    if (m_redirect || m_authenticationRetry) return length;
    if (m_authenticationError) return 0;
    if (!m_responseDelivered) headersComplete();
    if (auto delegate = m_delegate; delegate && !m_cancelled)
        delegate->didReceiveData(*this, reinterpret_cast<const std::uint8_t*>(data), length);
    return m_cancelled ? 0 : length;
}

bool URLConnection::acceptServerTrust(ServerTrust& trust)
{
    if (m_cancelled) return false;
    std::string host = m_host;
    AuthenticationChallenge challenge(ProtectionSpace{host, kAuthenticationMethodServerTrust, &trust});
    if (auto delegate = m_delegate)
        delegate->willSendRequestForAuthenticationChallenge(*this, challenge);
    else
        challenge.continueWithoutCredential();

    switch (challenge.disposition()) {
    case AuthenticationChallenge::Disposition::UseCredential: return true;
    case AuthenticationChallenge::Disposition::ContinueWithoutCredential: {
        if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
        trust.setPolicy(TrustPolicy::ssl(host));
        TrustResult result;
        if (trust.evaluate(result) && (result == TrustResult::Proceed || result == TrustResult::Unspecified)) return true;
        m_trustError = makeURLError(URLErrorServerCertificateUntrusted, m_request.url, trust.failureReason());
        return false;
    }
    default:
        m_trustError = makeURLError(URLErrorUserCancelledAuthentication, m_request.url,
                                    challenge.cancelReason().empty() ? "The server's certificate was not accepted."
                                                                     : challenge.cancelReason());
        return false;
    }
}

Bytes URLConnection::sendSynchronousRequest(const URLRequest& request, std::optional<URLResponse>* response,
                                            std::optional<Error>* error)
{
    auto collector = std::make_shared<Collector>();
    TransferLoop loop;
    auto connection = create(request, collector);
    connection->start(loop);
    while (!collector->done) loop.runOnce(std::chrono::milliseconds(200));
    if (response) *response = collector->response;
    if (error) *error = collector->error;
    RIG_LOG("synchronous %s %s: %s", request.httpMethod.c_str(), request.url.c_str(),
            collector->error ? collector->error->describe().c_str() : "done");
    return collector->error ? Bytes() : std::move(collector->body);
}

}  // namespace platform
