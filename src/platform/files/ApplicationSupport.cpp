#include "platform/files/ApplicationSupport.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace platform {

std::string ApplicationSupport::dataDirectory()
{
    // The XDG rules say a relative XDG_DATA_HOME is invalid and must be ignored.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr && home[0] != '\0' ? home : "";
    if (base.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
            base = entry->pw_dir;
    }
    return base + "/.local/share";
}

std::string ApplicationSupport::rootFolder()
{
    return dataDirectory() + "/" + kRootFolderName;
}

}  // namespace platform
