#include "platform/url/URLRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <strings.h>

namespace platform {

bool URLRequest::isSendableField(std::string_view name, std::string_view value)
{
    constexpr std::string_view kLineBreaking("\r\n\0", 3);
    return !name.empty() && name.find_first_of(kLineBreaking) == std::string_view::npos &&
           value.find_first_of(kLineBreaking) == std::string_view::npos;
}

bool URLRequest::isSendableMethod(std::string_view method)
{
    constexpr std::string_view kMarks("!#$%&'*+-.^_`|~");
    return !method.empty() && std::all_of(method.begin(), method.end(), [&](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || kMarks.find(c) != std::string_view::npos;
    });
}

void URLRequest::setValue(const std::string& value, const std::string& field)
{
    if (!isSendableField(field, value))
        throw std::invalid_argument("The header field \"" + field + "\" holds a line break or NUL and cannot be sent.");
    std::erase_if(headerFields, [&](const auto& entry) { return strcasecmp(entry.first.c_str(), field.c_str()) == 0; });
    if (!value.empty()) headerFields.emplace_back(field, value);
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(const std::string& field) const
{
    for (const auto& [name, value] : headerFields)
        if (strcasecmp(name.c_str(), field.c_str()) == 0) return value;
    return std::nullopt;
}

namespace {

// One part of the URL as curl's own parser reads it: the parser curl connects with, which also takes
// "https:/host" and "https:///host" to mean host "host".
std::string urlPart(const std::string& url, CURLUPart part)
{
    CURLU* parsed = curl_url();
    std::string value;
    char* text = nullptr;
    if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, part, &text, 0) == CURLUE_OK) {
        value = text;
        curl_free(text);
    }
    curl_url_cleanup(parsed);
    return value;
}

}  // namespace

std::string URLRequest::scheme() const
{
    return urlPart(url, CURLUPART_SCHEME);
}

std::string URLRequest::host() const
{
    return urlPart(url, CURLUPART_HOST);
}

}  // namespace platform
