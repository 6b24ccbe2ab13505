#include "server/DownloadTempFolder.h"

#include <filesystem>
#include <mutex>
#include <set>

namespace fs = std::filesystem;

namespace {

std::mutex& lock()
{
    static std::mutex mutex;
    return mutex;
}

std::set<std::string>& claimed()
{
    static std::set<std::string> paths;
    return paths;
}

// "<stem>-<n><extension>": the extension stays last, so an archive is still known by it.
bool isDownloadOf(const std::string& name, const fs::path& component)
{
    if (name == component.string()) return true;
    const std::string stem = component.stem().string() + "-";
    const std::string extension = component.extension().string();
    if (name.size() <= stem.size() + extension.size() || !name.starts_with(stem) || !name.ends_with(extension))
        return false;
    const std::string digits = name.substr(stem.size(), name.size() - stem.size() - extension.size());
    return digits.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string DownloadTempFolder::claim(const std::string& folder, const std::string& component)
{
    static unsigned long long counter = 0;
    const fs::path name(component);
    std::lock_guard guard(lock());
    std::error_code ec;
    while (true) {
        const fs::path path = fs::path(folder) / (name.stem().string() + "-" + std::to_string(++counter) +
                                                  name.extension().string());
        if (claimed().count(path.string()) || fs::exists(fs::symlink_status(path, ec))) continue;
        claimed().insert(path.string());
        return path.string();
    }
}

void DownloadTempFolder::release(const std::string& path)
{
    std::lock_guard guard(lock());
    claimed().erase(path);
}

void DownloadTempFolder::wipe(const std::string& folder)
{
    std::lock_guard guard(lock());
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (claimed().count(it->path().string())) continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

std::optional<std::string> DownloadTempFolder::latest(const std::string& folder, const std::string& component)
{
    std::optional<std::string> newest;
    fs::file_time_type newestTime{};
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        if (!it->is_regular_file(entryError) || !isDownloadOf(it->path().filename().string(), component)) continue;
        const auto time = it->last_write_time(entryError);
        if (!entryError && (!newest || time > newestTime)) {
            newest = it->path().string();
            newestTime = time;
        }
    }
    return newest;
}
