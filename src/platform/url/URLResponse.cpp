#include "platform/url/URLResponse.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <strings.h>

namespace platform {

namespace {

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

std::optional<std::string> URLResponse::valueForHTTPHeaderField(const std::string& field) const
{
    for (const auto& [name, value] : allHeaderFields)
        if (strcasecmp(name.c_str(), field.c_str()) == 0) return value;
    return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> URLResponse::headerField(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    const auto colon = line.find(':');
    if (line.starts_with("HTTP/") || colon == std::string_view::npos) return std::nullopt;
    std::string_view value = line.substr(colon + 1);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    return std::pair{std::string(line.substr(0, colon)), std::string(value)};
}

void URLResponse::setContentType(const std::string& contentType)
{
    const auto semicolon = contentType.find(';');
    mimeType = lower(trim(contentType.substr(0, semicolon)));
    textEncodingName.reset();
    std::size_t cursor = semicolon;
    while (cursor != std::string::npos) {
        const auto next = contentType.find(';', cursor + 1);
        const std::string parameter = trim(contentType.substr(cursor + 1, next == std::string::npos ? next : next - cursor - 1));
        const auto equals = parameter.find('=');
        if (equals != std::string::npos && lower(trim(parameter.substr(0, equals))) == "charset") {
            std::string value = trim(parameter.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            if (!value.empty()) textEncodingName = lower(value);
        }
        cursor = next;
    }
}

std::string URLResponse::localizedStringForStatusCode(std::int64_t statusCode)
{
    static const std::map<std::int64_t, std::string> texts = {
        {200, "no error"}, {201, "created"}, {202, "accepted"}, {204, "no content"}, {206, "partial content"},
        {301, "moved permanently"}, {302, "found"}, {303, "see other"}, {304, "not modified"},
        {307, "temporarily redirected"}, {308, "permanent redirect"}, {400, "bad request"}, {401, "unauthorized"},
        {403, "forbidden"}, {404, "not found"}, {405, "method not allowed"}, {408, "request timed out"},
        {410, "no longer exists"}, {416, "requested range not satisfiable"}, {429, "too many requests"},
        {500, "internal server error"}, {501, "unimplemented"}, {502, "bad gateway"}, {503, "service unavailable"},
        {504, "gateway timed out"},
    };
    if (auto found = texts.find(statusCode); found != texts.end()) return found->second;
    if (statusCode >= 100 && statusCode < 200) return "informational";
    if (statusCode >= 200 && statusCode < 300) return "success";
    if (statusCode >= 300 && statusCode < 400) return "redirected";
    if (statusCode >= 400 && statusCode < 500) return "client error";
    if (statusCode >= 500 && statusCode < 600) return "server error";
    return "unknown";
}

}  // namespace platform
