#include "platform/url/URLConnection.h"

#include <curl/curl.h>

#include <cstring>

#include "common/Log.h"
#include "platform/url/TransferLoop.h"
#include "platform/url/URLError.h"

namespace platform {

namespace {

constexpr int kMaximumRedirects = 16;

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string trimLine(const char* data, std::size_t length)
{
    std::string line(data, length);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

std::chrono::milliseconds idleLimit(const URLRequest& request)
{
    const double seconds = request.timeoutInterval > 0 ? request.timeoutInterval : 60.0;
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0));
}

// A Location value made absolute against the URL that answered with it.
std::optional<std::string> resolve(const std::string& base, const std::string& location)
{
    CURLU* url = curl_url();
    std::optional<std::string> resolved;
    char* text = nullptr;
    if (curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
        resolved = text;
        curl_free(text);
    }
    curl_url_cleanup(url);
    return resolved;
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
    if (m_headerList) curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
}

bool URLConnection::configure()
{
    if (!m_easy) m_easy = curl_easy_init();
    CURL* easy = static_cast<CURL*>(m_easy);
    if (!easy) return false;
    curl_easy_reset(easy);
    if (m_headerList) curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
    m_headerList = nullptr;
    m_headers.clear();
    m_responseDelivered = false;
    m_redirect.reset();
    m_trustError.reset();

    curl_easy_setopt(easy, CURLOPT_URL, m_request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlCallbacks::header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlCallbacks::body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idleLimit(m_request).count()));

    if (m_request.httpMethod == "HEAD")
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    else if (m_request.httpMethod == "GET")
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    else
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_request.httpMethod.c_str());

    curl_slist* list = nullptr;
    for (const auto& [name, value] : m_request.headerFields) list = curl_slist_append(list, (name + ": " + value).c_str());
    m_headerList = list;
    if (list) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    // The trust decision is ours (the delegate's, or the standard evaluation for the host), made on every
    // handshake: no host check by curl itself, and no reused connection or resumed session that would skip it.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &CurlCallbacks::sslContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
    if (m_request.url.rfind("https:", 0) == 0 || m_request.url.rfind("HTTPS:", 0) == 0) {
        curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    }
    return true;
}

void URLConnection::touch()
{
    m_deadline = std::chrono::steady_clock::now() + idleLimit(m_request);
}

void URLConnection::start(TransferLoop& loop)
{
    if (m_loop || m_ended) return;
    m_loop = &loop;
    auto self = shared_from_this();
    if (!configure()) return fail(makeURLError(URLErrorUnknown, m_request.url, "cannot create a transfer"));
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
        if (!configure()) return fail(makeURLError(URLErrorUnknown, m_request.url, "cannot create a transfer"));
        touch();
        m_loop->add(self);
        return;
    }
    if (curlCode != CURLE_OK) return fail(errorFor(curlCode));
    if (!m_responseDelivered) headersComplete();
    if (m_cancelled) return m_loop->remove(*this);
    end();
    std::shared_ptr<URLConnectionDelegate> delegate = std::move(m_delegate);
    if (delegate) delegate->didFinishLoading(*this);
}

Error URLConnection::errorFor(int curlCode) const
{
    if (m_trustError) return *m_trustError;
    const std::string detail = m_errorText[0] ? m_errorText : curl_easy_strerror(static_cast<CURLcode>(curlCode));
    std::int64_t code = URLErrorUnknown;
    switch (curlCode) {
    case CURLE_COULDNT_RESOLVE_HOST: code = URLErrorCannotFindHost; break;
    case CURLE_COULDNT_CONNECT: code = URLErrorCannotConnectToHost; break;
    case CURLE_OPERATION_TIMEDOUT: code = URLErrorTimedOut; break;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING: code = URLErrorNetworkConnectionLost; break;
    case CURLE_URL_MALFORMAT: code = URLErrorBadURL; break;
    case CURLE_UNSUPPORTED_PROTOCOL: code = URLErrorUnsupportedURL; break;
    case CURLE_WEIRD_SERVER_REPLY: code = URLErrorBadServerResponse; break;
    case CURLE_PEER_FAILED_VERIFICATION: code = URLErrorServerCertificateUntrusted; break;
    case CURLE_SSL_CONNECT_ERROR: code = URLErrorSecureConnectionFailed; break;
    default: break;
    }
    return makeURLError(code, m_request.url, detail);
}


std::size_t URLConnection::onHeader(const char* data, std::size_t length)
{
    if (m_cancelled) return 0;
    touch();
    const std::string line = trimLine(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
        m_headers.clear();
    } else if (line.empty()) {
        long status = 0;
        curl_easy_getinfo(static_cast<CURL*>(m_easy), CURLINFO_RESPONSE_CODE, &status);
        // Interim answers (100 Continue and the like) are followed by the real one.
        if (status >= 200 || status == 0) headersComplete();
    } else if (auto field = URLResponse::headerField(line)) {
        m_headers.push_back(std::move(*field));
    }
    return m_cancelled ? 0 : length;
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
    if (isRedirect(status) && location) target = resolve(response.url, *location);
    if (target && m_delegate) {
        URLRequest next = m_request;
        next.url = *target;
        if (status == 303 && next.httpMethod != "HEAD") next.httpMethod = "GET";
        auto delegate = m_delegate;
        m_redirect = delegate->willSendRequest(*this, next, response);
        if (m_redirect) return;
    }
    deliverResponse(std::move(response));
}

void URLConnection::deliverResponse(URLResponse response)
{
    m_responseDelivered = true;
    if (auto delegate = m_delegate) delegate->didReceiveResponse(*this, response);
}

std::size_t URLConnection::onBody(const char* data, std::size_t length)
{
    if (m_cancelled) return 0;
    touch();
    // The body of a redirect that is being followed is not part of the answer.
    if (m_redirect) return length;
    if (!m_responseDelivered) headersComplete();
    if (auto delegate = m_delegate; delegate && !m_cancelled)
        delegate->didReceiveData(*this, reinterpret_cast<const std::uint8_t*>(data), length);
    return m_cancelled ? 0 : length;
}

bool URLConnection::acceptServerTrust(ServerTrust& trust)
{
    if (m_cancelled) return false;
    std::string host = m_request.host();
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
        m_trustError = makeURLError(URLErrorServerCertificateUntrusted, m_request.url,
                                    "The certificate for this server is invalid: " + trust.failureReason());
        return false;
    }
    default:
        m_trustError = makeURLError(URLErrorUserCancelledAuthentication, m_request.url,
                                    "The server's certificate was not accepted.");
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
