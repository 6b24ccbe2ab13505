#pragma once

#include <optional>
#include <string>

namespace platform {

// URL texts read as the connections read them (curl's parser), for callers that keep a base URL.
class RelativeURL {
public:
    // The text resolved against the base, or the text alone without a base; nothing when the result is
    // not an absolute URL.
    static std::optional<std::string> resolve(const std::optional<std::string>& base, const std::string& text);
    // The URL with a "/" after a path that does not end in one, so that relative texts resolve below its
    // last segment instead of replacing it. A URL without a path comes back unchanged.
    static std::string withDirectoryPath(const std::string& url);
};

}  // namespace platform
