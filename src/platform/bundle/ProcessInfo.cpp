#include "platform/bundle/ProcessInfo.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/utsname.h>

namespace platform {
namespace {

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void addLanguage(std::vector<std::string>& languages, const std::string& locale)
{
    std::string tag = ProcessInfo::languageTag(locale);
    if (!tag.empty() && std::find(languages.begin(), languages.end(), tag) == languages.end())
        languages.push_back(std::move(tag));
}

}  // namespace

std::string ProcessInfo::languageTag(const std::string& locale)
{
    std::string tag = locale.substr(0, locale.find_first_of(".@"));
    if (tag == "C" || tag == "POSIX")
        return {};
    std::replace(tag.begin(), tag.end(), '_', '-');
    return tag;
}

ProcessInfo ProcessInfo::current()
{
    ProcessInfo info;
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (locale = variable(name); !locale.empty())
            break;
    if (!languageTag(locale).empty()) {
        // Like gettext, LANGUAGE counts only under a real locale.
        const std::string list = variable("LANGUAGE");
        for (std::size_t start = 0; start <= list.size();) {
            const std::size_t end = std::min(list.find(':', start), list.size());
            addLanguage(info.preferredLanguages, list.substr(start, end - start));
            start = end + 1;
        }
        addLanguage(info.preferredLanguages, locale);
    }
    std::error_code error;
    info.executableName = std::filesystem::read_symlink("/proc/self/exe", error).filename().string();
    info.bundleIdentifier = "org.pexo.rigmora";
    info.shortVersion = info.bundleVersion = RIG_VERSION;
    utsname system{};
    if (::uname(&system) == 0)
        info.operatingSystemVersion = system.release;
    return info;
}

}  // namespace platform
