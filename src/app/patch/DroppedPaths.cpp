#include "app/patch/DroppedPaths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

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

bool isInsideResolved(const std::string& path, const fs::path& outer)
{
    const fs::path inner = resolved(path);
    auto at = inner.begin();
    for (auto part = outer.begin(); part != outer.end(); ++part, ++at) {
        // A trailing separator of the folder is an empty last component.
        if (part->empty() && std::next(part) == outer.end()) break;
        if (at == inner.end() || *at != *part) return false;
    }
    return true;
}

}  // namespace

bool DroppedPaths::isInsideFolder(const std::string& path, const std::string& folder)
{
    return isInsideResolved(path, resolved(folder));
}

bool DroppedPaths::refusesDrop(const std::vector<std::string>& paths, const std::string& ownFolder)
{
    // The program's folder is resolved once for all the paths of a drop, which may be thousands.
    const fs::path own = ownFolder.empty() ? fs::path() : resolved(ownFolder);
    for (const std::string& path : paths) {
        if (path.empty() || path.front() != '/' || holdsControlCharacter(path)) return true;
        if (!ownFolder.empty() && isInsideResolved(path, own)) return true;
    }
    return false;
}
