#include "app/patch/DroppedPaths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char lower, char c) { return std::tolower(static_cast<unsigned char>(c)) == lower; });
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Links resolved as far as the path exists; the rest taken as written, without "." and "..".
fs::path resolved(const std::string& path)
{
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::path(path), ec);
    return ec ? fs::path(path).lexically_normal() : canonical;
}

}  // namespace

std::vector<std::string> DroppedPaths::localPathsOfUriList(std::string_view list)
{
    std::vector<std::string> paths;
    while (!list.empty()) {
        const std::size_t end = list.find('\n');
        const std::string_view line = trimmed(list.substr(0, end));
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (auto path = localPathOfFileURL(line)) paths.push_back(std::move(*path));
    }
    return paths;
}

std::optional<std::string> DroppedPaths::localPathOfFileURL(std::string_view url)
{
    if (!startsWithNoCase(url, "file:")) return std::nullopt;
    url.remove_prefix(5);
    if (url.substr(0, 2) == "//") {
        url.remove_prefix(2);
        const std::size_t slash = url.find('/');
        const std::string_view host = url.substr(0, slash);
        if (!host.empty() && !(host.size() == 9 && startsWithNoCase(host, "localhost"))) return std::nullopt;
        url.remove_prefix(slash == std::string_view::npos ? url.size() : slash);
    }
    // A query or fragment is no part of a file's name; a "?" or "#" in a name comes escaped.
    url = url.substr(0, std::min(url.find('?'), url.find('#')));
    std::string path;
    path.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && hexValue(url[i + 1]) >= 0 && hexValue(url[i + 2]) >= 0) {
            path.push_back(static_cast<char>(hexValue(url[i + 1]) * 16 + hexValue(url[i + 2])));
            i += 2;
        } else {
            path.push_back(url[i]);
        }
    }
    return path;
}

bool DroppedPaths::holdsControlCharacter(std::string_view path)
{
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (byte < 0x20 || byte == 0x7F) return true;
        // U+0080 to U+009F in UTF-8.
        if (byte == 0xC2 && i + 1 < path.size() && (static_cast<unsigned char>(path[i + 1]) & 0xE0) == 0x80) return true;
    }
    return false;
}

namespace {

// A resolved path as a string, without a trailing separator (but for the root): the form the comparison
// below takes.
std::string resolvedFolder(const std::string& path)
{
    std::string folder = resolved(path).native();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// `inner` is `outer` or inside it, both resolved (so without "." and ".." and doubled separators), by
// whole components: "/a/bc" is not inside "/a/b".
bool isInside(std::string_view inner, std::string_view outer)
{
    if (outer == "/") return true;
    return inner.starts_with(outer) && (inner.size() == outer.size() || inner[outer.size()] == '/');
}

// A drop of thousands of files from one folder resolves that folder once, and from its 32nd file on learns
// which of its names are links from one listing, rather than resolving every file's path component by
// component on the main thread (at the drag's entry and again at the drop).
constexpr std::size_t kListFolderFrom = 32;

struct DropFolder {
    std::string resolved;
    bool inside = false;
    std::size_t looked = 0;
    bool listed = false;
    std::unordered_set<std::string> links;
};

// A folder that cannot be listed has each of its files looked at.
void listLinks(DropFolder& folder)
{
    std::error_code error;
    fs::directory_iterator entries(folder.resolved, error);
    if (error) return;
    for (const fs::directory_entry& entry : entries) {
        std::error_code kind;
        if (entry.is_symlink(kind) || kind) folder.links.insert(entry.path().filename().native());
    }
    folder.listed = true;
}

}  // namespace

bool DroppedPaths::isInsideFolder(const std::string& path, const std::string& folder)
{
    return isInside(resolvedFolder(path), resolvedFolder(folder));
}

bool DroppedPaths::refusesDrop(const std::vector<std::string>& paths, const std::string& ownFolder)
{
    for (const std::string& path : paths)
        if (path.empty() || path.front() != '/' || holdsControlCharacter(path)) return true;
    if (ownFolder.empty()) return false;
    const std::string own = resolvedFolder(ownFolder);
    std::unordered_map<std::string, DropFolder> folders;
    std::string lastParent;
    DropFolder* folder = nullptr;
    for (const std::string& path : paths) {
        const std::string_view written(path);
        const std::size_t slash = written.rfind('/');
        const std::string_view name = written.substr(slash + 1);
        if (name.empty() || name == "." || name == "..") {
            if (isInside(resolvedFolder(path), own)) return true;
            continue;
        }
        const std::string_view parent = slash == 0 ? std::string_view("/") : written.substr(0, slash);
        if (!folder || parent != lastParent) {
            lastParent = parent;
            auto [at, fresh] = folders.try_emplace(lastParent);
            folder = &at->second;
            if (fresh) {
                folder->resolved = resolvedFolder(lastParent);
                folder->inside = isInside(folder->resolved, own);
            }
        }
        bool link = false;
        if (++folder->looked == kListFolderFrom) listLinks(*folder);
        if (folder->listed) {
            link = !folder->links.empty() && folder->links.contains(std::string(name));
        } else {
            std::error_code error;
            link = fs::is_symlink(fs::symlink_status(path, error)) && !error;
        }
        // A link named by the drop is followed to wherever it leads; any other name is its folder's.
        if (link ? isInside(resolvedFolder(path), own) : folder->inside) return true;
    }
    return false;
}
