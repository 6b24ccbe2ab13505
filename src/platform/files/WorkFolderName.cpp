#include "platform/files/WorkFolderName.h"

namespace platform {

namespace {

constexpr std::string_view kUnique = "XXXXXX";

}  // namespace

std::string WorkFolderName::pattern(std::string_view name, std::string_view purpose)
{
    std::string text = ".";
    text.append(name).append(".").append(purpose).append("-").append(kUnique);
    return text;
}

bool WorkFolderName::is(std::string_view name)
{
    if (!name.starts_with(".")) return false;
    // The purposes the program's replaces use; the last one names the folder.
    for (std::string_view purpose : {".new-", ".old-", ".unzip-"}) {
        const std::size_t at = name.rfind(purpose);
        if (at != std::string_view::npos && at >= 1 && name.size() == at + purpose.size() + kUnique.size()) return true;
    }
    return false;
}

}  // namespace platform
