#pragma once

#include <string_view>

namespace platform {

// Compares version texts the way people read them: runs of digits compare by their value ("1.10" is
// newer than "1.9", "1.02" equals "1.2"), every other character compares by its byte, case-sensitively;
// when one text is a prefix of the other, the shorter one is older ("1.0" before "1.0.1").
class VersionComparison {
public:
    // Negative when `a` is older than `b`, zero when they are the same version, positive when newer.
    static int compare(std::string_view a, std::string_view b);
    static bool isNewer(std::string_view candidate, std::string_view current)
    {
        return compare(candidate, current) > 0;
    }
};

}  // namespace platform
