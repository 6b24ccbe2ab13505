#include "library/LibraryIdentity.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "common/InParallel.h"
#include "library/store/BackupFile.h"

namespace fs = std::filesystem;

namespace {

// As deep as a save carries folders below a group.
constexpr int kMaxDepth = 34;
// The patch files' extension, as the load tells a patch file by its name.
constexpr const char* kPatchExtension = ".qptc";
// A file's bytes are read up to this much; a larger one (no patch is) counts by its size.
constexpr std::uint64_t kDigestLimit = 16ULL << 20;

// 128 bits over 64-bit words: the chance that two versions of a library meet is nil, and a large library's
// files are hashed at the pace they are read. Not a cryptographic hash: it tells versions apart that a user,
// a tool or a disk made, not ones made to collide, which nothing here has reason to fear.
class Digest {
public:
    void add(const std::uint8_t* data, std::size_t size)
    {
        std::size_t at = 0;
        for (; at + 8 <= size; at += 8) {
            std::uint64_t word;
            std::memcpy(&word, data + at, 8);
            mix(word);
        }
        std::uint64_t tail = 0;
        if (size > at) std::memcpy(&tail, data + at, size - at);
        mix(tail);
        // The length ends each piece, so two pieces never read as one.
        mix(static_cast<std::uint64_t>(size));
    }
    void add(const std::string& text) { add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()); }
    std::string text() const
    {
        char out[40];
        std::snprintf(out, sizeof out, "%016llx%016llx", static_cast<unsigned long long>(finish(m_a)),
                      static_cast<unsigned long long>(finish(m_b ^ m_a)));
        return out;
    }

private:
    void mix(std::uint64_t word)
    {
        m_a = std::rotl((m_a ^ (word * 0x87C37B91114253D5ULL)), 31) * 0x4CF5AD432745937FULL + word;
        m_b = std::rotl((m_b + (word * 0x4CF5AD432745937FULL)), 27) * 0x87C37B91114253D5ULL ^ word;
    }
    static std::uint64_t finish(std::uint64_t value)
    {
        value ^= value >> 33;
        value *= 0xFF51AFD7ED558CCDULL;
        value ^= value >> 33;
        value *= 0xC4CEB9FE1A85EC53ULL;
        return value ^ (value >> 33);
    }
    std::uint64_t m_a = 0x9E3779B97F4A7C15ULL;
    std::uint64_t m_b = 0xC2B2AE3D27D4EB4FULL;
};

std::string linkTarget(const std::string& path)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(path, ec);
    return ec ? std::string("?") : target.string();
}

bool hidden(const std::string& name) { return name.empty() || name[0] == '.'; }

// The extension as a path tells it, for a name that is not hidden: the text after its last dot.
bool isPatchName(const std::string& name)
{
    const std::size_t length = std::strlen(kPatchExtension);
    return name.size() > length && name.compare(name.size() - length, length, kPatchExtension) == 0;
}

// What the walk owns, in the library's order: a part or group by its relative path, or a file with its path.
struct Owned {
    char kind = 'F';
    std::string relative;
    std::string path;
    std::string digest;
    // A file whose digest was handed over: its relative path and digest as the caller's map held them.
    LibraryIdentity::Known::node_type taken;

    const std::string& relativePath() const { return taken.empty() ? relative : taken.key(); }
    const std::string& fileDigest() const { return taken.empty() ? digest : taken.mapped(); }
};

// The caller's digests: looked up, or taken over.
struct Digests {
    const LibraryIdentity::Known* known = nullptr;
    LibraryIdentity::Known* taken = nullptr;
};

std::optional<std::vector<platform::FolderEntry>> listed(platform::FileManager& files, const std::string& folder,
                                                         LibraryIdentity::Reading& reading)
{
    platform::Error error;
    auto entries = files.contentsOfDirectoryWithKinds(folder, &error);
    if (!entries) {
        reading.unreadFolder = folder;
        reading.cause = error;
    }
    return entries;
}

// The path of `name` in `folder`, joined as text: a library of tens of thousands of files is walked at
// the start, where taking each path apart and together again cost more than the listing.
std::string inFolder(const std::string& folder, const std::string& name)
{
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// A file the caller's digests name takes its digest from them, and needs no path to be read by.
void addFile(std::vector<Owned>& owned, std::string relative, const std::string& folder, const std::string& name,
             const Digests& digests)
{
    if (digests.known != nullptr)
        if (const auto found = digests.known->find(relative); found != digests.known->end()) {
            owned.push_back({'F', std::move(relative), {}, found->second, {}});
            return;
        }
    if (digests.taken != nullptr)
        if (auto node = digests.taken->extract(relative); !node.empty()) {
            owned.push_back({'F', {}, {}, {}, std::move(node)});
            return;
        }
    owned.push_back({'F', std::move(relative), inFolder(folder, name), {}, {}});
}

bool walkPart(platform::FileManager& files, const std::string& folder, const std::string& part, std::vector<Owned>& owned,
              LibraryIdentity::Reading& reading, const Digests& known)
{
    const auto entries = listed(files, folder, reading);
    if (!entries) return false;
    owned.push_back({'P', part, {}, {}, {}});
    for (const auto& entry : *entries) {
        if (!LibraryIdentity::owns(entry.name, entry.kind, false)) continue;
        std::string relative = part + "/" + entry.name;
        if (entry.kind != platform::ItemKind::Folder) {
            addFile(owned, std::move(relative), folder, entry.name, known);
            continue;
        }
        const std::string path = inFolder(folder, entry.name);
        owned.push_back({'G', relative, {}, {}, {}});
        const auto inside = listed(files, path, reading);
        if (!inside) return false;
        for (const auto& child : *inside)
            if (LibraryIdentity::owns(child.name, child.kind, true))
                addFile(owned, relative + "/" + child.name, path, child.name, known);
    }
    return true;
}

LibraryIdentity::Reading identityOf(platform::FileManager& files, const std::string& library,
                                    const std::map<std::string, std::string>& partsAt, const Digests& known)
{
    LibraryIdentity::Reading reading;
    if (files.itemKind(library) != platform::ItemKind::Folder) return reading;
    const auto top = listed(files, library, reading);
    if (!top) return reading;
    std::vector<Owned> owned;
    for (const auto& entry : *top) {
        if (entry.name != "Pool" && entry.name != "Backup") continue;
        std::string through = (fs::path(library) / entry.name).string();
        // The library's own parts may lie elsewhere, on another drive.
        if (entry.kind == platform::ItemKind::Link) {
            const auto staged = partsAt.find(entry.name);
            through = staged != partsAt.end() ? staged->second : LibraryIdentity::throughLinks(through);
            if (files.itemKind(through) != platform::ItemKind::Folder) continue;
        } else if (entry.kind != platform::ItemKind::Folder) {
            continue;
        }
        if (!walkPart(files, through, entry.name, owned, reading, known)) return reading;
    }
    std::vector<std::size_t> unread;
    for (std::size_t i = 0; i < owned.size(); ++i)
        if (owned[i].kind == 'F' && owned[i].taken.empty() && !owned[i].path.empty()) unread.push_back(i);
    // A few files are read on the caller's thread alone.
    inParallel(unread.size(), [&](std::size_t i) {
        Owned& file = owned[unread[i]];
        if (const auto bytes = files.readFile(file.path, nullptr, kDigestLimit)) {
            file.digest = LibraryIdentity::digestOf(*bytes);
            return;
        }
        // A file that cannot be read now still counts by its size, and stands apart from any readable one.
        file.digest = "? " + std::to_string(files.fileSize(file.path).value_or(0));
    }, 64);
    Digest digest;
    std::string named;
    for (const auto& item : owned) {
        named.assign(1, item.kind);
        named += ' ';
        named += item.relativePath();
        digest.add(named);
        if (item.kind == 'F') digest.add(item.fileDigest());
    }
    reading.identity = digest.text();
    for (auto& item : owned) {
        if (item.kind != 'F') continue;
        if (!item.taken.empty()) reading.digests.insert(std::move(item.taken));
        else reading.digests.emplace(std::move(item.relative), std::move(item.digest));
    }
    return reading;
}

}  // namespace

LibraryIdentity::Reading LibraryIdentity::of(platform::FileManager& files, const std::string& library,
                                             const std::map<std::string, std::string>& partsAt, const Known* known)
{
    return identityOf(files, library, partsAt, Digests{known, nullptr});
}

LibraryIdentity::Reading LibraryIdentity::of(platform::FileManager& files, const std::string& library, Known&& known)
{
    Reading reading = identityOf(files, library, {}, Digests{nullptr, &known});
    if (!reading.unreadFolder.empty()) return reading;
    // What is left of `known` the walk did not find. One the identity would count, were it there, was read
    // where it is no longer: the library changed, or another took its place, since the caller read it, and
    // the walk's own reads of what it found instead would name that library as the one the caller read.
    for (const auto& [relative, digest] : known) {
        const std::size_t first = relative.find('/');
        const std::size_t last = relative.rfind('/');
        if (first == std::string::npos) continue;
        const bool inGroup = last != first;
        if (inGroup && (relative.find('/', first + 1) != last ||
                        !owns(relative.substr(first + 1, last - first - 1), platform::ItemKind::Folder, false)))
            continue;
        if (!owns(relative.substr(last + 1), platform::ItemKind::File, inGroup)) continue;
        reading.unreadFolder = library;
        reading.cause = platform::Error::make("library", 0, "it changed while it was read (\"" + relative + "\" went)");
        return reading;
    }
    return reading;
}

std::string LibraryIdentity::anotherPlaceThan(platform::FileManager& files, const std::string& library, const Known& known)
{
    if (files.itemKind(library) != platform::ItemKind::Folder) return {};
    Reading reading;
    const auto top = listed(files, library, reading);
    if (!top) return {};
    // The library's own parts lie where it does; a linked one may lie on a drive of its own.
    std::vector<std::pair<std::string, std::vector<Owned>>> places;
    places.emplace_back(library, std::vector<Owned>{});
    for (const auto& entry : *top) {
        if (entry.name != "Pool" && entry.name != "Backup") continue;
        std::string through = (fs::path(library) / entry.name).string();
        std::vector<Owned>* owned = &places.front().second;
        if (entry.kind == platform::ItemKind::Link) {
            through = throughLinks(through);
            if (files.itemKind(through) != platform::ItemKind::Folder) continue;
            owned = &places.emplace_back(through, std::vector<Owned>{}).second;
        } else if (entry.kind != platform::ItemKind::Folder) {
            continue;
        }
        if (!walkPart(files, through, entry.name, *owned, reading, Digests{})) return {};
    }
    for (const auto& [place, owned] : places) {
        bool counted = false;
        bool same = false;
        for (const auto& item : owned) {
            if (item.kind != 'F') continue;
            counted = true;
            const auto found = known.find(item.relative);
            if (found == known.end()) continue;
            const auto bytes = files.readFile(item.path, nullptr, kDigestLimit);
            if (bytes && digestOf(*bytes) == found->second) {
                same = true;
                break;
            }
        }
        if (counted && !same) return place;
    }
    return {};
}

namespace {

// The earlier version's identity, as it wrote it: a 64-bit FNV-1a hash over the library's walk.
class EarlierHash {
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

bool walkEarlier(platform::FileManager& files, const std::string& folder, const std::string& relative, int depth, EarlierHash& hash)
{
    const auto listed = files.contentsOfDirectoryWithKinds(folder);
    if (!listed) return false;
    for (const auto& entry : *listed) {
        const std::string path = (fs::path(folder) / entry.name).string();
        const std::string name = relative.empty() ? entry.name : relative + "/" + entry.name;
        platform::ItemKind kind = entry.kind;
        std::string through = path;
        if (kind == platform::ItemKind::Link && relative.empty() && (entry.name == "Pool" || entry.name == "Backup")) {
            through = LibraryIdentity::throughLinks(path);
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
            if (depth < kMaxDepth && !walkEarlier(files, through, name, depth + 1, hash)) return false;
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

std::string LibraryIdentity::earlierOf(platform::FileManager& files, const std::string& library)
{
    if (files.itemKind(library) != platform::ItemKind::Folder) return kNone;
    EarlierHash hash;
    return walkEarlier(files, library, "", 0, hash) ? hash.text() : kNone;
}

bool LibraryIdentity::isEarlier(const std::string& identity)
{
    return identity.size() == 16 &&
           std::all_of(identity.begin(), identity.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool LibraryIdentity::owns(const std::string& name, platform::ItemKind kind, bool inGroup)
{
    if (hidden(name)) return false;
    if (kind == platform::ItemKind::Folder) return !inGroup;
    return kind == platform::ItemKind::File && (isPatchName(name) || (inGroup && name == BackupFile::kFileName));
}

std::string LibraryIdentity::digestOf(const std::vector<std::uint8_t>& bytes)
{
    Digest digest;
    digest.add(bytes.data(), bytes.size());
    return digest.text();
}

std::string LibraryIdentity::throughLinks(const std::string& path)
{
    // A link made to "folder/" (as a shell completes it) names the folder itself: its parent is where its
    // staging and aside folders go, never the folder.
    const auto plain = [](fs::path each) {
        each = each.lexically_normal();
        if (!each.has_filename() && each.has_relative_path()) each = each.parent_path();
        return each;
    };
    fs::path at = plain(path);
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(at, ec))) break;
        const fs::path target = fs::read_symlink(at, ec);
        if (ec) break;
        at = plain(target.is_absolute() ? target : at.parent_path() / target);
    }
    return at.string();
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
