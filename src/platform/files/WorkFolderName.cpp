#include "platform/files/WorkFolderName.h"

#include <algorithm>

namespace platform {

namespace {

constexpr std::string_view kUnique = "XXXXXX";
constexpr std::string_view kAside = ".old-";

bool digits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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
    if (asideOf(name)) return true;
    // The purposes the program's replaces use; the last one names the folder.
    for (std::string_view purpose : {".new-", ".old-", ".unzip-"}) {
        const std::size_t at = name.rfind(purpose);
        if (at != std::string_view::npos && at >= 1 && name.size() == at + purpose.size() + kUnique.size()) return true;
    }
    return false;
}

std::string WorkFolderName::aside(std::string_view name, std::string_view order)
{
    std::string text = ".";
    text.append(name).append(kAside).append(order);
    return text;
}

std::optional<std::string> WorkFolderName::asideOf(std::string_view name)
{
    if (!name.starts_with(".")) return std::nullopt;
    // The last mark is the aside's own: a folder's name may hold one too.
    const std::size_t at = name.rfind(kAside);
    if (at == std::string_view::npos || at < 2 || !digits(name.substr(at + kAside.size()))) return std::nullopt;
    return std::string(name.substr(1, at - 1));
}

}  // namespace platform
