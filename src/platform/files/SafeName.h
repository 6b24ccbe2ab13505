#pragma once

#include <cstddef>
#include <string_view>

#include "platform/error/Error.h"

namespace platform {

// Checks a name that came from outside (the device, the server, an archive) before it becomes a file or
// folder name: a name that passes stays inside the folder it is joined to.
class SafeName {
public:
    static constexpr std::size_t kMaxBytes = 255;

    // False, with a "files" error (EINVAL, or ENAMETOOLONG) naming the text, for an empty name, "." or
    // "..", a name holding "/", "\" or NUL, or one longer than kMaxBytes bytes.
    static bool check(std::string_view name, Error* error = nullptr);
};

}  // namespace platform
