#include "platform/bundle/Bundle.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/Log.h"

namespace platform {
namespace {

bool isFolder(const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

}  // namespace

std::optional<std::string> Bundle::locateResources()
{
    std::vector<std::filesystem::path> candidates;
    if (const char* variable = std::getenv("RIG_RESOURCES"); variable != nullptr && variable[0] != '\0')
        candidates.emplace_back(variable);
    std::error_code failure;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", failure);
    if (!failure) {
        candidates.push_back(executable.parent_path() / "resources");
        candidates.push_back(executable.parent_path().parent_path() / "share" / "pexo-rigmora");
    }
#ifdef RIG_SOURCE_RESOURCES
    candidates.emplace_back(RIG_SOURCE_RESOURCES);
#endif
    for (const auto& candidate : candidates)
        if (isFolder(candidate))
            return candidate.string();
    return std::nullopt;
}

Bundle Bundle::main()
{
    auto found = locateResources();
    if (!found)
        RIG_LOG("no resources folder found; every table falls back to its defaults");
    return Bundle(found.value_or(std::string()));
}

std::optional<StringsTable> Bundle::table(const std::string& name, const std::string& language) const
{
    if (resources_.empty())
        return std::nullopt;
    std::string path = resources_ + "/" + (language.empty() ? "" : language + ".lproj/") + name + ".strings";
    std::vector<std::string> problems;
    auto table = StringsTable::load(path, &problems);
    for (const auto& problem : problems)
        RIG_LOG("skipped in strings table: %s", problem.c_str());
    return table;
}

}  // namespace platform
