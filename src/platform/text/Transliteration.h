#pragma once

#include <optional>
#include <string>

namespace platform {

// Rewrites UTF-8 text through a compound transform in the ICU rule syntax.
class Transliteration {
public:
    // Nothing when the transform does not exist or the text is not valid UTF-8.
    static std::optional<std::string> apply(const std::string& utf8, const std::string& transform);
};

}  // namespace platform
