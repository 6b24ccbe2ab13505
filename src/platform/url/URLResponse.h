#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The head of a response: where it came from, its status, MIME type, text encoding and header fields.
// Responses to URLs other than http(s) carry no status or header fields (isHTTP is false).
struct URLResponse {
    std::string url;
    bool isHTTP = true;
    std::int64_t statusCode = 0;
    // Lower case, without parameters; empty when the server sent no Content-Type.
    std::string mimeType;
    // The "charset" parameter of the Content-Type, when given.
    std::optional<std::string> textEncodingName;
    // -1 when the length is not known in advance.
    std::int64_t expectedContentLength = -1;
    std::vector<std::pair<std::string, std::string>> allHeaderFields;

    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    // One header line as the server sent it (line end included or not) split into name and value, the
    // value without its leading blanks; nothing for a status line, a blank line or a line without ':'.
    static std::optional<std::pair<std::string, std::string>> headerField(std::string_view line);
    // Fills mimeType and textEncodingName from a Content-Type value.
    void setContentType(const std::string& contentType);

    // The short English text for a status code ("not found" for 404).
    static std::string localizedStringForStatusCode(std::int64_t statusCode);
};

}  // namespace platform
