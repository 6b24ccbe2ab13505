#include "library/LibraryIdentity.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace {

// As deep as a save carries folders below a group.
constexpr int kMaxDepth = 34;

class Hash {
public:
    void mix(const std::string& text)
    {
        for (const unsigned char c : text) m_value = (m_value ^ c) * 1099511628211ULL;
        m_value = (m_value ^ 0xFFU) * 1099511628211ULL;
    }
    std::string text() const
    {
        char out[20];
        std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(m_value));
        return out;
    }

private:
    std::uint64_t m_value = 14695981039346656037ULL;
};

std::string linkTarget(const std::string& path)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(path, ec);
    return ec ? std::string("?") : target.string();
}

bool walk(platform::FileManager& files, const std::string& folder, const std::string& relative, int depth, Hash& hash,
          LibraryIdentity::Reading& reading, const std::map<std::string, std::string>& partsAt)
{
    platform::Error error;
    const auto listed = files.contentsOfDirectoryWithKinds(folder, &error);
    if (!listed) {
        reading.unreadFolder = folder;
        reading.cause = error;
        return false;
    }
    for (const auto& entry : *listed) {
        const std::string path = (fs::path(folder) / entry.name).string();
        const std::string name = relative.empty() ? entry.name : relative + "/" + entry.name;
        platform::ItemKind kind = entry.kind;
        std::string through = path;
        // The library's own parts may lie elsewhere, on another drive.
        if (kind == platform::ItemKind::Link && relative.empty() && (entry.name == "Pool" || entry.name == "Backup")) {
            const auto staged = partsAt.find(entry.name);
            through = staged != partsAt.end() ? staged->second : LibraryIdentity::throughLinks(path);
            if (files.itemKind(through) == platform::ItemKind::Folder) kind = platform::ItemKind::Folder;
        }
        switch (kind) {
        case platform::ItemKind::File: {
            const auto stamp = files.fileStamp(path);
            const std::uint64_t size = stamp ? stamp->size : files.fileSize(path).value_or(0);
            const std::int64_t seconds = stamp ? stamp->modifiedNs / 1000000000 : 0;
            hash.mix("F " + name + " " + std::to_string(size) + " " + std::to_string(seconds));
            break;
        }
        case platform::ItemKind::Folder:
            hash.mix("D " + name);
            if (depth < kMaxDepth && !walk(files, through, name, depth + 1, hash, reading, partsAt)) return false;
            break;
        case platform::ItemKind::Link:
            hash.mix("L " + name + " " + linkTarget(path));
            break;
        default:
            hash.mix("S " + name);
            break;
        }
    }
    return true;
}

}  // namespace

LibraryIdentity::Reading LibraryIdentity::of(platform::FileManager& files, const std::string& library,
                                             const std::map<std::string, std::string>& partsAt)
{
    Reading reading;
    if (files.itemKind(library) != platform::ItemKind::Folder) return reading;
    Hash hash;
    if (walk(files, library, "", 0, hash, reading, partsAt)) reading.identity = hash.text();
    return reading;
}

std::string LibraryIdentity::throughLinks(const std::string& path)
{
    fs::path at = path;
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(at, ec))) break;
        const fs::path target = fs::read_symlink(at, ec);
        if (ec) break;
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return at.lexically_normal().string();
}

namespace {

bool same(platform::FileManager& files, const std::string& a, const std::string& b, int depth)
{
    const platform::ItemKind kind = files.itemKind(a);
    if (kind != files.itemKind(b)) return false;
    switch (kind) {
    case platform::ItemKind::File: {
        const auto left = files.readFile(a);
        return left && left == files.readFile(b);
    }
    case platform::ItemKind::Link:
        return linkTarget(a) == linkTarget(b);
    case platform::ItemKind::Folder: {
        if (depth >= kMaxDepth) return false;
        const auto left = files.contentsOfDirectory(a);
        if (!left || left != files.contentsOfDirectory(b)) return false;
        for (const auto& name : *left)
            if (!same(files, (fs::path(a) / name).string(), (fs::path(b) / name).string(), depth + 1)) return false;
        return true;
    }
    default:
        return false;
    }
}

}  // namespace

bool LibraryIdentity::sameContent(platform::FileManager& files, const std::string& a, const std::string& b)
{
    return same(files, a, b, 0);
}
