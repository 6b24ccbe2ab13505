#include "platform/files/SafeName.h"

#include <cerrno>
#include <string>

namespace platform {

bool SafeName::check(std::string_view name, Error* error)
{
    const char* reason = nullptr;
    int code = EINVAL;
    if (name.empty())
        reason = "is empty";
    else if (name == "." || name == "..")
        reason = "names a folder link";
    else if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
        reason = "holds a path separator or NUL";
    else if (name.size() > kMaxBytes) {
        reason = "is too long";
        code = ENAMETOOLONG;
    }
    if (reason == nullptr)
        return true;
    if (error != nullptr) {
        std::string shown(name.substr(0, 64));
        for (char& c : shown)
            if (c == '\0')
                c = '?';
        *error = Error::make("files", code, "the name \"" + shown + "\" " + reason, {{"name", shown}});
    }
    return false;
}

}  // namespace platform
