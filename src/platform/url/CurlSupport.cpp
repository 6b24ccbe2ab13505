#include "platform/url/CurlSupport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <strings.h>

#include "common/Log.h"
#include "platform/url/URLError.h"

namespace platform {

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isRedirectStatus(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string trimHeaderLine(const char* data, std::size_t length)
{
    std::string line(data, length);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

std::optional<std::string> resolveLocation(const std::string& base, const std::string& location)
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

namespace {

// "scheme://host:port" lower-cased, or nothing when the URL does not parse.
std::optional<std::string> originOf(const std::string& url)
{
    CURLU* handle = curl_url();
    std::optional<std::string> origin;
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        std::string parts;
        for (const CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
            char* text = nullptr;
            if (curl_url_get(handle, part, &text, CURLU_DEFAULT_PORT) == CURLUE_OK) {
                parts += text;
                curl_free(text);
            }
            parts += '|';
        }
        for (char& c : parts) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        origin = parts;
    }
    curl_url_cleanup(handle);
    return origin;
}

}  // namespace

bool sameOrigin(const std::string& a, const std::string& b)
{
    const auto first = originOf(a);
    return first && first == originOf(b);
}

URLRequest redirectedRequest(const URLRequest& request, const std::string& target, long status)
{
    URLRequest next = request;
    next.url = target;
    if ((status == 303 && next.httpMethod != "HEAD") || ((status == 301 || status == 302) && next.httpMethod == "POST")) {
        next.httpMethod = "GET";
        next.httpBody.reset();
        next.httpBodyStream.reset();
        next.setValue("", "Content-Type");
        next.setValue("", "Content-Length");
    }
    if (!sameOrigin(request.url, target))
        for (const char* field : {"Authorization", "Proxy-Authorization", "Cookie"}) next.setValue("", field);
    return next;
}

bool sendsZeroLength(const URLRequest& request)
{
    const std::string& method = request.httpMethod;
    if (method != "POST" && method != "PUT" && method != "PATCH") return false;
    const auto declared = request.valueForHTTPHeaderField("Content-Length");
    return !declared || declared->empty();
}

std::optional<Error> unsendableField(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& url)
{
    for (const auto& [name, value] : fields)
        if (!URLRequest::isSendableField(name, value)) {
            std::string shown;
            for (char c : name) shown += c == '\r' || c == '\n' || c == '\0' ? '?' : c;
            return makeURLError(URLErrorUnknown, url, "The request's header field \"" + shown +
                                                          "\" holds a line break or NUL; the request is not sent.");
        }
    return std::nullopt;
}

std::optional<Error> unsendableMethod(const URLRequest& request)
{
    if (URLRequest::isSendableMethod(request.httpMethod)) return std::nullopt;
    return makeURLError(URLErrorUnknown, request.url, "The request's method is not a single word; the request is not sent.");
}

Error unanswerableChallenges(const std::vector<HTTPAuthorization::Challenge>& offered, const std::string& url)
{
    // Each scheme named once, and briefly: the list and the names are the server's to make as long as
    // its header.
    constexpr std::size_t kLongestList = 120;
    std::vector<std::string> named;
    std::string schemes;
    for (const auto& challenge : offered) {
        if (std::any_of(named.begin(), named.end(), [&](const std::string& seen) { return strcasecmp(seen.c_str(), challenge.scheme.c_str()) == 0; }))
            continue;
        named.push_back(challenge.scheme);
        schemes += (schemes.empty() ? "" : ", ") + challenge.scheme;
        if (schemes.size() > kLongestList) {
            schemes = schemes.substr(0, kLongestList) + "...";
            break;
        }
    }
    return makeURLError(URLErrorUserAuthenticationRequired, url,
                        "The server asks for a password in a way this program cannot answer" +
                            (schemes.empty() ? std::string(".") : " (" + schemes + ")."));
}

std::string requestTarget(const std::string& url)
{
    CURLU* parsed = curl_url();
    std::string target = "/";
    char* text = nullptr;
    if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        if (curl_url_get(parsed, CURLUPART_PATH, &text, 0) == CURLUE_OK) target = text;
        curl_free(text);
        text = nullptr;
        if (curl_url_get(parsed, CURLUPART_QUERY, &text, 0) == CURLUE_OK) target += std::string("?") + text;
        curl_free(text);
    }
    curl_url_cleanup(parsed);
    return target;
}

std::chrono::milliseconds clampedWait(double seconds)
{
    constexpr double kLongestWait = 365.0 * 24 * 3600;
    if (!(seconds > 0)) return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(static_cast<long long>(std::min(seconds, kLongestWait) * 1000.0));
}

Error errorForCurlCode(int curlCode, const std::string& url, const char* detail)
{
    // CURLE_TOO_LARGE of libcurl 8.6 and later.
    constexpr int kCurlTooLarge = 100;
    const std::string text = detail && detail[0] ? detail : curl_easy_strerror(static_cast<CURLcode>(curlCode));
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
    case CURLE_PEER_FAILED_VERIFICATION: code = URLErrorServerCertificateUntrusted; break;
    case CURLE_SSL_CONNECT_ERROR: code = URLErrorSecureConnectionFailed; break;
    // What the server sent breaks the protocol or curl's bounds: curl reports a header line beyond its
    // limit as out of memory (newer versions as too large), which says nothing true about this machine.
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_OUT_OF_MEMORY:
    case kCurlTooLarge:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_BAD_CONTENT_ENCODING:
        RIG_LOG("%s: %s", url.c_str(), text.c_str());
        return makeURLError(URLErrorBadServerResponse, url, "The server sent a malformed or oversized answer.");
    default: break;
    }
    return makeURLError(code, url, text);
}

}  // namespace platform
