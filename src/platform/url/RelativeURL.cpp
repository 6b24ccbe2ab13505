#include "platform/url/RelativeURL.h"

#include <curl/curl.h>

#include <memory>

#include "platform/url/CurlSupport.h"

namespace platform {

std::optional<std::string> RelativeURL::resolve(const std::optional<std::string>& base, const std::string& text)
{
    initialiseCurlOnce();
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    if (!url) return std::nullopt;
    if (base && curl_url_set(url.get(), CURLUPART_URL, base->c_str(), 0) != CURLUE_OK) return std::nullopt;
    if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return std::nullopt;
    char* resolved = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK) return std::nullopt;
    std::string result = resolved;
    curl_free(resolved);
    return result;
}

std::string RelativeURL::withDirectoryPath(const std::string& url)
{
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const auto pathStart = url.find_first_of("/?#", scheme + 3);
    if (pathStart == std::string::npos || url[pathStart] != '/') return url;
    const auto pathEnd = std::min(url.find_first_of("?#", pathStart), url.size());
    if (url[pathEnd - 1] == '/') return url;
    return url.substr(0, pathEnd) + "/" + url.substr(pathEnd);
}

}  // namespace platform
