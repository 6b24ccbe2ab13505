#include "library/UnnamedCopies.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string_view>

#include "platform/files/LocalFileManager.h"

namespace {

std::size_t hashOf(const std::vector<std::uint8_t>& bytes)
{
    return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace

UnnamedCopies::UnnamedCopies(platform::FileManager& files, std::string folder, std::set<std::string> named, std::uint64_t limit)
    : files_(files), folder_(std::move(folder)), named_(std::move(named)), limit_(limit)
{
}

void UnnamedCopies::list()
{
    listed_ = true;
    const auto look = [&](const std::string& relative, int depth, const auto& self) -> void {
        const std::string path = relative.empty() ? folder_ : (std::filesystem::path(folder_) / relative).string();
        for (const std::string& name : files_.contentsOfDirectory(path).value_or(std::vector<std::string>{})) {
            // A copy cut in its writing is no copy.
            if (platform::LocalFileManager::isTemporaryName(name)) continue;
            const std::string inner = relative.empty() ? name : (std::filesystem::path(relative) / name).string();
            const std::string full = (std::filesystem::path(folder_) / inner).string();
            const platform::ItemKind kind = files_.itemKind(full);
            if (kind == platform::ItemKind::Folder) {
                if (depth == 0) self(inner, 1, self);
                continue;
            }
            if (kind != platform::ItemKind::File || named_.count(inner) != 0) continue;
            if (const auto bytes = files_.readFile(full, nullptr, limit_)) byHash_[hashOf(*bytes)].push_back(inner);
        }
    };
    look(std::string(), 0, look);
}

std::optional<std::string> UnnamedCopies::take(const std::vector<std::uint8_t>& bytes)
{
    if (!listed_) list();
    const auto found = byHash_.find(hashOf(bytes));
    if (found == byHash_.end()) return std::nullopt;
    auto& paths = found->second;
    for (auto at = paths.begin(); at != paths.end(); ++at) {
        const auto held = files_.readFile((std::filesystem::path(folder_) / *at).string(), nullptr, limit_);
        if (!held || *held != bytes) continue;
        std::string taken = std::move(*at);
        paths.erase(at);
        return taken;
    }
    return std::nullopt;
}

std::optional<std::string> UnnamedCopies::takeWhere(const std::function<std::optional<std::uint64_t>(const std::string&)>& rank,
                                                    const std::function<bool(const std::vector<std::uint8_t>&)>& holds)
{
    if (!listed_) list();
    std::vector<std::string>* bestIn = nullptr;
    std::vector<std::string>::iterator best;
    std::uint64_t bestRank = 0;
    for (auto& [hash, paths] : byHash_)
        for (auto at = paths.begin(); at != paths.end(); ++at) {
            const auto ranked = rank(*at);
            if (!ranked || (bestIn != nullptr && *ranked >= bestRank)) continue;
            const auto held = files_.readFile((std::filesystem::path(folder_) / *at).string(), nullptr, limit_);
            if (!held || !holds(*held)) continue;
            bestIn = &paths;
            best = at;
            bestRank = *ranked;
        }
    if (bestIn == nullptr) return std::nullopt;
    std::string taken = std::move(*best);
    bestIn->erase(best);
    return taken;
}
