#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "common/InParallel.h"
#include "common/Log.h"
#include "common/NSStringAddition.h"
#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "library/LibraryIdentity.h"
#include "library/LibraryPlaces.h"
#include "library/models/EffectItem.h"
#include "library/store/BackupFile.h"
#include "library/models/PatchItem.h"
#include "platform/bundle/StringFormat.h"
#include "platform/files/FileManager.h"
#include "platform/files/SafeName.h"
#include "platform/files/WorkFolderName.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kStorePatch = "QFXMacApplication/Patch";
constexpr const char* kStoreDevice = "QFXMacApplication/Device";
// How many times a copy looks for another free name when one is taken under it.
constexpr int kCopyNameTries = 8;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Paths taken apart and joined as text, as a path would: the start does both for each of tens of thousands
// of files, and a path's parse of its components cost it more than the file's own link.
std::string lastComponent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string join(const std::string& folder, const std::string& name)
{
    if (folder.empty() || (!name.empty() && name.front() == '/')) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

// A patch name as a file name: the characters no file name may hold are replaced, and a name that is
// still no safe file name gives way to the source file's own name.
std::string CommonUtils::fileNameForPatchName(const std::string& patchName, const std::string& sourceName)
{
    std::string name = patchName;
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == '\0'; }, '_');
    if (name.empty() || name == "." || name == "..") return sourceName;
    // One space keeps a name beginning with "." from becoming a hidden file.
    if (name.front() == '.') name.insert(0, " ");
    name += ".qptc";
    return platform::SafeName::check(name) ? name : sourceName;
}

namespace {

std::shared_ptr<EffectItem> unknownEffectItem()
{
    auto item = EffectItem::initEffectUnknown();
    item->fileName = "UNKNOWN";
    item->effectColor = platform::PlistDictionary{};
    return item;
}

}  // namespace

bool CommonUtils::isUnderFolder(const std::string& path, const std::string& folder) const
{
    const fs::path relative = fs::path(path).lexically_normal().lexically_relative(fs::path(folder).lexically_normal());
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

// ---- the start-up load ----

void CommonUtils::createPatchDirectoryObjectFromLocal()
{
    if (m_isCreatePatchPool.exchange(true)) return;
    m_poolQueue->async([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (alive.lock()) loadPatchPool();
    });
}

void CommonUtils::sendPatchPoolData(Tree tree)
{
    tell([this, tree = std::move(tree)](CommonUtilsDelegate& d) {
        m_isLoadedPatchPool = true;
        d.patchPoolDirectoryObject(tree);
    });
}

// The newest library a cut-off save left aside, when the library itself is missing.
std::string CommonUtils::libraryFolder() const
{
    fs::path path = pathUnderRoot(kStorePatch);
    // The link's target even when it is missing: a save cut off there left the library aside beside it.
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec))) break;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal().string() : resolved.string();
}

std::vector<std::string> CommonUtils::asideFoldersOf(const std::string& folder, bool legacy) const
{
    const std::string parent = fs::path(folder).parent_path().string();
    const std::string name = lastComponent(folder);
    const std::string legacyName = lastComponent(pathUnderRoot(kStorePatchAside));
    std::vector<std::string> older;
    std::vector<std::string> newer;
    for (const std::string& each : m_files.contentsOfDirectory(parent).value_or(std::vector<std::string>{})) {
        if (platform::WorkFolderName::asideOf(each) == name) {
            newer.push_back(each);
            continue;
        }
        const bool stamped = each.size() > legacyName.size() + 1 && each.rfind(legacyName + "-", 0) == 0 &&
                             std::all_of(each.begin() + static_cast<std::ptrdiff_t>(legacyName.size()) + 1, each.end(),
                                         [](char c) { return c >= '0' && c <= '9'; });
        if (legacy && (each == legacyName || stamped)) older.push_back(each);
    }
    // The order is the time in the name, of one width within each kind; an earlier version's are older.
    std::sort(older.begin(), older.end());
    std::sort(newer.begin(), newer.end());
    std::vector<std::string> found;
    for (const auto* names : {&older, &newer})
        for (const auto& each : *names) found.push_back(join(parent, each));
    return found;
}

bool CommonUtils::libraryBehindLink() const
{
    // Only the data folder and the folders below it that the program names: where the user may have put a
    // link to another drive.
    for (const std::string& path : {m_rootPath, pathUnderRoot("QFXMacApplication"), pathUnderRoot(kStorePatch)})
        if (m_files.itemKind(path) == platform::ItemKind::Link) return true;
    return false;
}

namespace {

// Work folders' names end in the time they were made at, of one width.
std::string orderOf(const std::string& name)
{
    const std::size_t dash = name.rfind('-');
    if (dash == std::string::npos) return std::string();
    const std::string order = name.substr(dash + 1);
    return std::all_of(order.begin(), order.end(), [](char c) { return c >= '0' && c <= '9'; }) ? order : std::string();
}

}  // namespace

std::map<std::string, std::string> CommonUtils::cutAsidesOf(const std::string& folder, bool legacy, bool exact) const
{
    std::vector<std::string> asides;
    for (const std::string& aside : asideFoldersOf(folder, legacy))
        if (m_files.itemKind(aside) == platform::ItemKind::Folder) asides.push_back(aside);
    std::map<std::string, std::string> cut;
    if (asides.empty()) return cut;
    // Only a save cut between its two moves leaves its staging folder with the old folder aside: named at the
    // same time (or, by earlier versions, just before it). An aside folder alone is a landed save's leftover,
    // whose removal was cut.
    const std::string parent = fs::path(folder).parent_path().string();
    for (const std::string& name : m_files.contentsOfDirectory(parent).value_or(std::vector<std::string>{})) {
        if (name.rfind(kPatchStagingPrefix, 0) != 0) continue;
        // An earlier version's names held no time: its one staging folder goes with the aside it made last.
        const std::string order = orderOf(name);
        if (order.empty()) {
            if (!exact) cut.emplace(asides.back(), join(parent, name));
            continue;
        }
        for (std::size_t i = 0; i < asides.size(); ++i) {
            const bool pairs = exact ? order == orderOf(asides[i]) : order <= orderOf(asides[i]) && (i == 0 || order > orderOf(asides[i - 1]));
            if (pairs) {
                cut.emplace(asides[i], join(parent, name));
                break;
            }
        }
    }
    return cut;
}

void CommonUtils::recoverLibraryAside()
{
    const std::string library = libraryFolder();
    if (m_files.itemKind(library) != platform::ItemKind::Missing) return;
    // Only an aside that stands for the library: a linked part's old folder set aside beside it is no library.
    const std::vector<std::string> asides = asideFoldersOf(library, true);
    if (asides.empty()) return;
    // The newest is the last save's: the library missing beside a landed save's leftover is one the user
    // deleted since, and it stays deleted. An aside named at its staging folder's time, that folder still
    // beside it, is a cut save's whatever the clock did since: a landed save's named later stays a leftover.
    const auto exact = cutAsidesOf(library, true, true);
    const auto cut = exact.empty() ? cutAsidesOf(library, true, false) : exact;
    std::string newest = exact.empty() ? std::string() : std::prev(exact.end())->first;
    for (const std::string& aside : asides)
        if (exact.empty() && m_files.itemKind(aside) == platform::ItemKind::Folder) newest = aside;
    if (newest.empty()) return;
    if (!cut.contains(newest)) {
        RIG_LOG("no library; %s is a landed save's leftover, not put back", newest.c_str());
        return;
    }
    platform::Error error;
    if (!m_files.moveItem(newest, library, &error))
        RIG_LOG("cannot put back the saved library: %s", error.description.c_str());
}

void CommonUtils::recoverLinkedPartsAside()
{
    const std::string library = libraryFolder();
    for (const char* part : {"Pool", "Backup"}) {
        const std::string at = join(library, part);
        if (m_files.itemKind(at) != platform::ItemKind::Link) continue;
        const std::string target = LibraryIdentity::throughLinks(at);
        if (linksWithinLibrary(library, target)) continue;
        // A folder made again by the user in its stead holds nothing of theirs while it is empty; one they
        // filled is theirs, and the aside stays beside it (no save removes it).
        const platform::ItemKind kind = m_files.itemKind(target);
        const bool empty = kind == platform::ItemKind::Folder &&
                           m_files.contentsOfDirectory(target).value_or(std::vector<std::string>{"?"}).empty();
        if (kind != platform::ItemKind::Missing && !empty) continue;
        // Over nothing, also a folder an earlier version set aside, named just after its staging folder; one
        // named at its staging folder's time first, whatever the clock did since.
        auto cut = cutAsidesOf(target, false, true);
        if (cut.empty() && !empty) cut = cutAsidesOf(target, false, false);
        if (cut.empty()) continue;
        const std::string newest = std::prev(cut.end())->first;
        platform::Error error;
        if ((empty && !m_files.removeItem(target, &error)) || !m_files.moveItem(newest, target, &error))
            RIG_LOG("cannot put back %s: %s", target.c_str(), error.description.c_str());
        else
            RIG_LOG("put back %s, which a cut save left aside", target.c_str());
    }
}

std::optional<OKVPatch> CommonUtils::judgedPatchAt(const std::string& path)
{
    if (auto kept = m_poolFacts.find(path, m_files.fileStamp(path))) return kept;
    if (NSStringAddition::isBlankString(path)) return std::nullopt;
    std::optional<platform::FileStamp> stamp;
    const auto bytes = m_files.readFileStamped(path, stamp, nullptr, OKVPatch::kMaxPatchDataSize);
    if (!bytes || bytes->size() < 4 || !std::equal(bytes->begin(), bytes->begin() + 4, "PTCF")) return std::nullopt;
    auto patch = OKVPatch::initWithData(*bytes);
    if (patch && stamp) m_poolFacts.remember(path, *stamp, *patch);
    return patch;
}

std::optional<CommonUtils::ReadPatch> CommonUtils::readPoolPatch(const std::string& path, bool mark) const
{
    if (!isPathOfFile(path) || m_files.itemKind(path) != platform::ItemKind::File) return std::nullopt;
    const auto patch = getOKVPatchWithPath(path);
    if (!patch) return std::nullopt;
    return ReadPatch{patchItemFromPatch(*patch, path), mark && !m_parser.checkPatchCompatible(*patch)};
}

// A patch of the saved library read once by the load: its node's item, its mark while a device is
// connected, and its effect list and warning while the device's effects are known. The listing told the
// entry is a regular file, and the read refuses anything else.
std::optional<CommonUtils::ReadPatch> CommonUtils::readLoadedPatch(const std::string& path, const PoolJudge& judge,
                                                                   std::unordered_map<std::string, PoolPatchFacts::Facts>& facts,
                                                                   std::string* digest) const
{
    if (!isPathOfFile(path)) return std::nullopt;
    std::optional<platform::FileStamp> stamp;
    const auto bytes = m_files.readFileStamped(path, stamp, nullptr, OKVPatch::kMaxPatchDataSize);
    if (bytes && digest != nullptr) *digest = LibraryIdentity::digestOf(*bytes);
    if (!bytes || bytes->size() < 4 || !std::equal(bytes->begin(), bytes->begin() + 4, "PTCF")) return std::nullopt;
    const auto patch = OKVPatch::initWithData(*bytes);
    if (!patch) return std::nullopt;
    ReadPatch read{patchItemFromPatch(*patch, path)};
    read.incompatible = judgeLoadedPatch(*patch, judge, *read.item);
    // The working copy's link to the same file has the same stamp.
    if (stamp) facts.emplace(path, PoolPatchFacts::factsOf(*stamp, *patch));
    return read;
}

bool CommonUtils::judgeLoadedPatch(const OKVPatch& patch, const PoolJudge& judge, PatchItem& item) const
{
    if (judge.warnings) {
        if (auto list = effectListWithPatch(patch, *judge.tables)) {
            if (const auto warning = patchWarningWithEffectList(*list)) item.isWarning = *warning;
            item.effectDictionnary = std::move(*list);
        }
    }
    return judge.mark && !m_parser.checkPatchCompatible(patch);
}

namespace {

// One top-level entry of the saved library as the load finds it: a patch, or a group with its patches,
// its record, and what it holds that the tree does not show.
struct SavedEntry {
    std::shared_ptr<DirectoryObject> node;
    std::string source;
    std::string record;
    std::vector<std::string> kept;
    // What was read of each patch, by its saved path, kept under its working path once it is placed.
    std::unordered_map<std::string, PoolPatchFacts::Facts> facts;
    // The digest of each file read whole, by its saved path (the library's identity takes them).
    std::vector<std::pair<std::string, std::string>> digests;
    // Whether it was an entry of the listing: a patch or a group (else it is kept at the top, unread).
    bool shown = false;
    // The source it was listed in.
    std::size_t from = 0;
    // Why a group's folder could not be listed.
    std::optional<platform::Error> unlisted;
    // Of a kept pool shown beside the library, and the library holds it as it is.
    bool leftOut = false;
};

void refuse(const std::string& path, const char* why) { RIG_LOG("kept %s in the library, not shown: %s", path.c_str(), why); }

const char* whyNotShown(platform::ItemKind kind)
{
    return kind == platform::ItemKind::File ? "not a readable patch file" : "not a regular file";
}

}  // namespace

// Links `source` into `folder` under `wanted`, else its saved name, else a free name. The link never
// replaces what is there, so it tells itself whether a name is taken: no name is looked up first.
std::optional<std::string> CommonUtils::placeInWorkingCopy(const std::string& source, const std::string& folder,
                                                          const std::string& wanted, const std::string& saved)
{
    platform::Error error;
    for (const std::string& name : {wanted, saved}) {
        const std::string target = join(folder, name);
        if (m_files.linkItem(source, target, &error, platform::Durability::WorkingCopy)) return target;
        if (error.code != EEXIST) break;
    }
    if (error.code == EEXIST) {
        const std::string target = createNewNameForPath(join(folder, saved));
        if (m_files.linkItem(source, target, &error, platform::Durability::WorkingCopy)) return target;
    }
    RIG_LOG("cannot take %s into the working copy: %s", source.c_str(), error.description.c_str());
    return std::nullopt;
}

// A name in `folder` for an entry of the saved library: `wanted`, else its saved name, else a free one.
std::string CommonUtils::workingName(const std::string& folder, const std::string& wanted, const std::string& saved)
{
    for (const std::string& name : {wanted, saved})
        if (m_files.itemKind(join(folder, name)) == platform::ItemKind::Missing) return join(folder, name);
    return createNewNameForPath(join(folder, saved));
}

// The working copy is the saved library's files under their plain names, linked, not copied. Only the
// readable patch files at the top and one group deep are read and shown; everything else (damaged and
// unrecognised files, folders within groups, links, special files) is linked unread where it stood, so
// the save carries it back.
void CommonUtils::loadPatchPool()
{
    // A save cut off between moving the saved library aside and moving its successor in leaves only the
    // old library, whole, aside; it stays the library rather than be dropped by the next save.
    recoverLibraryAside();
    recoverLinkedPartsAside();
    const std::string library = libraryFolder();
    const bool libraryMissing = m_files.itemKind(library) == platform::ItemKind::Missing;
    const std::vector<std::string> all = keptPools();
    // A library that cannot be read counts as missing: it is not shown, and no save replaces it. Which
    // library it is matters before the reading only when a kept pool waits; otherwise it is taken after
    // the reading, from the digests of the files the load read.
    const bool stampLater = all.empty() && m_files.itemKind(library) == platform::ItemKind::Folder;
    LibraryIdentity::Reading identity;
    if (!stampLater) identity = LibraryIdentity::of(m_files, library);
    std::string stamp = identity.identity;
    // A folder of the library or of a kept pool that could not be listed, and why: the run then replaces
    // no library, and the user is told.
    std::vector<std::pair<std::string, platform::Error>> unlisted;
    if (!identity.unreadFolder.empty()) unlisted.emplace_back(identity.unreadFolder, identity.cause);
    // A library behind a link that held it at the last save, missing or empty now, is on a drive or share
    // not mounted: it is one the start could not read, and no save writes a library in its place.
    const LibraryPlaces lastSaved = LibraryPlaces::read(m_files, pathUnderRoot(LibraryPlaces::kFileName));
    m_places = lastSaved;
    const auto away = [&](const std::string& folder) {
        return platform::Error::make("files", ENOENT, "\"" + folder + "\" is missing or empty", {{kUnreadInfo, kAway}});
    };
    const bool libraryAway = libraryBehindLink() && lastSaved.away(m_files, library);
    if (libraryAway) {
        unlisted.emplace_back(LibraryPlaces::resolved(library), away(LibraryPlaces::resolved(library)));
        stamp = kNoLibrary;
    }
    {
        std::lock_guard lock(m_markedMutex);
        m_libraryStamp = stamp;
        m_libraryFiles = std::move(identity.digests);
        m_libraryHeldBack = libraryAway;
    }
    // A run whose last save failed kept its working copy, named for the library it was made against. Over
    // that same library it is the pool the user left, newer than the library, and it is shown (and saved at
    // the next save) instead; older ones made against it are outdated by it. One made against another
    // library (changed since, or missing then) is shown after the library, which it never saw. One a save
    // took is outdated once the library is the one that save wrote; until then it is taken back.
    std::string preferred;
    std::vector<std::string> beside;
    std::vector<std::string> outdated;
    std::optional<std::string> earlier;
    {
        for (auto each = all.rbegin(); each != all.rend(); ++each) {
            std::string path = *each;
            const KeptName name = keptNameOf(lastComponent(path));
            if (name.taken) {
                if (stamp != kNoLibrary && namesLibrary(name.takenFrom, stamp, library, earlier)) {
                    outdated.push_back(path);
                    continue;
                }
                if (m_files.moveItem(path, pathUnderRoot(name.base))) path = pathUnderRoot(name.base);
            }
            if (!name.madeAgainst.empty() && namesLibrary(name.madeAgainst, stamp, library, earlier)) {
                if (preferred.empty()) preferred = path;
                else outdated.push_back(path);
            } else {
                beside.insert(beside.begin(), path);
            }
        }
    }
    // A library deleted since is not brought back: the newest kept pool is the pool as the user left it.
    if (preferred.empty() && libraryMissing && !beside.empty()) {
        preferred = beside.back();
        beside.pop_back();
    }
    dropKeptPools(outdated);
    // A library some folder of which could not be listed shows what could be (no save replaces it).
    const bool readable = stamp != kNoLibrary || m_files.itemKind(library) == platform::ItemKind::Folder;
    if (preferred.empty() && beside.empty() && !readable) {
        if (m_files.itemKind(library) != platform::ItemKind::Missing) RIG_LOG("refused %s: not a readable folder", library.c_str());
        sendPatchPoolData({});
        tellUnlisted(unlisted);
        return;
    }
    // Where the pool's entries come from: the library's parts or the kept pool shown instead, then each
    // kept pool shown beside it (with the name of the group its patches go in).
    struct Source {
        std::string folder;
        bool kept = false;
        std::string group;
    };
    std::vector<Source> sources;
    if (!preferred.empty()) sources.push_back({preferred, true, {}});
    else if (readable) sources.push_back({library, false, {}});
    for (const auto& kept : beside) sources.push_back({kept, true, keptSessionGroupName(keptNameOf(lastComponent(kept)))});
    const std::string local = pathUnderRoot(kTempLocal);
    {
        // Without its working copy the start shows nothing of the library: it counts as one that could not
        // read it, told, and no save of this run replaces the library with what the run adds alone.
        platform::Error error;
        if ((m_files.exists(local) && !m_files.removeItem(local, &error)) || !m_files.createDirectory(local, true, &error)) {
            RIG_LOG("cannot make the working copy %s: %s", local.c_str(), error.description.c_str());
            error.userInfo[kUnreadInfo] = kWorkingCopyNotMade;
            unlisted.emplace_back(local, error);
            {
                std::lock_guard lock(m_markedMutex);
                m_libraryStamp = kNoLibrary;
            }
            sendPatchPoolData({});
            tellUnlisted(unlisted);
            return;
        }
    }
    m_unreadPoolFiles.clear();
    // The marks, and with the device's effects known the warnings, come from the same reading as the tree
    // while a device is connected. The connection is taken first: one begun before the device is looked at
    // makes the judgement look older than it is, and it is made again.
    const std::uint64_t connection = m_unitConnections.latest();
    std::int32_t deviceID = 0;
    {
        std::lock_guard lock(m_publishedMutex);
        if (m_published.isConnectDevice) deviceID = m_published.deviceID;
    }
    std::optional<std::uint64_t> warningsAgainst;
    const PoolJudge judge = poolJudge(deviceID > 0, &warningsAgainst);
    const auto leaf = [](ReadPatch&& read) {
        auto node = std::make_shared<DirectoryObject>();
        node->name = read.item->patchName;
        node->path = read.item->path;
        node->isIncompatible = read.incompatible;
        node->isWarning = read.item->isWarning;
        node->object = std::move(read.item);
        return node;
    };

    // The listing tells each entry's kind: a patch file is opened, never looked up first.
    std::vector<std::tuple<std::string, platform::ItemKind, std::size_t>> listed;
    std::vector<char> whole(sources.size(), 1);
    std::vector<std::string> keptAside;
    for (std::size_t from = 0; from < sources.size(); ++from) {
        const Source& source = sources[from];
        const std::vector<std::string> parts = source.kept ? std::vector<std::string>{source.folder}
                                                           : std::vector<std::string>{join(library, "Pool"), join(library, "Backup")};
        for (const std::string& folder : parts) {
            // A part that is a link to a folder (backups kept on another drive) is read through it.
            const std::string through = source.kept ? folder : LibraryIdentity::throughLinks(folder);
            const platform::ItemKind kind = m_files.itemKind(through);
            if (!source.kept && through != folder && lastSaved.away(m_files, through)) {
                unlisted.emplace_back(through, away(through));
                whole[from] = 0;
                continue;
            }
            if (kind == platform::ItemKind::Missing && through != folder) {
                // Linked to a drive that is not there now: its patches are not lost, only unread.
                unlisted.emplace_back(folder, platform::Error::make("files", ENOENT, "\"" + through + "\" is not there"));
                whole[from] = 0;
                continue;
            }
            if (kind != platform::ItemKind::Folder) {
                if (kind != platform::ItemKind::Missing) RIG_LOG("refused %s: not a folder", folder.c_str());
                if (!source.kept && isLibraryPartKeptAside(folder)) keptAside.push_back(lastComponent(folder));
                continue;
            }
            platform::Error error;
            auto entries = m_files.contentsOfDirectoryWithKinds(folder, &error);
            if (!entries) {
                unlisted.emplace_back(folder, error);
                whole[from] = 0;
                continue;
            }
            for (auto& [name, entryKind] : *entries) listed.emplace_back(join(folder, name), entryKind, from);
        }
    }
    std::vector<SavedEntry> read(listed.size());
    inParallel(listed.size(), [&](std::size_t i) {
        const auto& [path, entryKind, from] = listed[i];
        SavedEntry& entry = read[i];
        entry.source = path;
        entry.from = from;
        if (entryKind != platform::ItemKind::Folder) {
            std::string digest;
            auto patch = entryKind == platform::ItemKind::File ? readLoadedPatch(path, judge, entry.facts, &digest) : std::nullopt;
            if (!digest.empty()) entry.digests.emplace_back(path, std::move(digest));
            if (patch) {
                entry.node = leaf(std::move(*patch));
                entry.shown = true;
            } else {
                refuse(path, whyNotShown(entryKind));
            }
            return;
        }
        entry.shown = true;
        entry.node = std::make_shared<DirectoryObject>();
        entry.node->name = lastComponent(path);
        entry.node->path = path;
        entry.node->isGroup = true;
        platform::Error error;
        auto inside = m_files.contentsOfDirectoryWithKinds(path, &error);
        if (!inside) entry.unlisted = error;
        for (const auto& [inner, childKind] : inside.value_or(std::vector<platform::FolderEntry>{})) {
            const std::string child = join(path, inner);
            if (childKind == platform::ItemKind::File && inner == BackupFile::kFileName) {
                entry.record = child;
                continue;
            }
            std::string digest;
            auto patch = childKind == platform::ItemKind::File ? readLoadedPatch(child, judge, entry.facts, &digest) : std::nullopt;
            if (!digest.empty()) entry.digests.emplace_back(child, std::move(digest));
            if (patch) {
                entry.node->childDirectories.push_back(leaf(std::move(*patch)));
            } else {
                refuse(child, childKind == platform::ItemKind::Folder ? "a group within a group" : whyNotShown(childKind));
                entry.kept.push_back(child);
            }
        }
        entry.node->isBackUpAllGroup = !entry.record.empty();
    });
    for (const auto& entry : read)
        if (entry.unlisted) {
            unlisted.emplace_back(entry.source, *entry.unlisted);
            whole[entry.from] = 0;
        }
    // Which library this is, taken from the reading's digests on a thread of the load's own while the
    // working copy is placed below: the two share nothing but the file system, and the stamp is set before
    // the tree is handed over, so nothing reads it before it is taken. The digests leave the entries here,
    // since the entries move on this thread meanwhile.
    std::jthread identityTaken;
    if (stampLater) {
        std::vector<std::vector<std::pair<std::string, std::string>>> digests;
        digests.reserve(read.size());
        for (auto& entry : read) digests.push_back(std::move(entry.digests));
        identityTaken = std::jthread([this, &identity, &library, digests = std::move(digests)]() mutable {
            // Every source is the library here: what the reading took of its files is not read again.
            // Each file's place in the library cut from its path as a string: the paths read there are the
            // library's own joined with the names listed, and tens of thousands of them taken apart as paths
            // cost the start more than their reading.
            LibraryIdentity::Known known;
            std::size_t count = 0;
            for (const auto& each : digests) count += each.size();
            known.reserve(count);
            const std::string prefix = library.empty() || library.back() == '/' ? library : library + "/";
            for (auto& each : digests) {
                for (auto& [path, digest] : each) {
                    const bool under = !prefix.empty() && path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
                    known.emplace(under ? path.substr(prefix.size()) : fs::path(path).lexically_relative(library).string(),
                                  std::move(digest));
                }
                // Each group's paths go as soon as their places are taken.
                std::vector<std::pair<std::string, std::string>>().swap(each);
            }
            identity = LibraryIdentity::of(m_files, library, std::move(known));
        });
    }
    // What a kept pool shown beside the library holds that the library holds too, byte for byte at the same
    // place, is not brought in again: only what its session added or changed comes in. That holds for
    // whatever the start could read of the library, whole or not.
    if (readable) {
        const auto inLibrary = savedEntries();
        const auto plainOf = [](const std::string& path) {
            return OKVLocalFileController::getFileNameFromIndexSavingName(lastComponent(path));
        };
        const auto heldIn = [&](const std::map<std::string, std::string>& there, const std::string& path) {
            const auto found = there.find(plainOf(path));
            return found != there.end() && LibraryIdentity::sameContent(m_files, path, found->second);
        };
        std::optional<GroupsHeld> libraryGroups;
        std::map<std::string, std::string> top;
        for (const auto& [key, path] : inLibrary)
            if (key.first == "Pool") top.emplace(key.second, path);
        // What of the library's group `there` the kept group `entry` holds byte for byte stays out; whether it
        // held any of what the library's group holds, or that holds nothing.
        const auto takeOutHeld = [&](SavedEntry& entry, const std::string& there) {
            std::map<std::string, std::string> children;
            for (const auto& name : m_files.contentsOfDirectory(there).value_or(std::vector<std::string>{}))
                children.emplace(plainOf(name), join(there, name));
            std::set<std::string> held;
            const auto heldHere = [&](const std::string& path) {
                if (!heldIn(children, path)) return false;
                held.insert(plainOf(path));
                return true;
            };
            std::erase_if(entry.node->childDirectories, [&](const auto& child) { return heldHere(child->patchItem()->path); });
            std::erase_if(entry.kept, heldHere);
            entry.leftOut = entry.node->childDirectories.empty() && entry.kept.empty();
            const auto owned = ownedInGroup(there);
            const auto patches = std::count_if(owned.begin(), owned.end(), [](const auto& each) { return each.first != BackupFile::kFileName; });
            return patches == 0 || std::any_of(owned.begin(), owned.end(), [&](const auto& each) { return held.contains(each.first); });
        };
        // A library group that a kept group of its name holds any of stands for no other group of that kept
        // pool: one holding the same is the session's copy of it. One it holds nothing of (the empty group a
        // start that could not read it showed) may be another's of the pool under another name.
        std::map<std::size_t, std::set<std::string>> claimed;
        std::vector<char> named(read.size(), 0);
        for (const bool byName : {true, false})
            for (std::size_t i = 0; i < read.size(); ++i) {
                SavedEntry& entry = read[i];
                if (sources[entry.from].group.empty()) continue;
                if (!entry.shown || !entry.node->isGroup) {
                    if (byName) entry.leftOut = heldIn(top, entry.source);
                    continue;
                }
                if (named[i] != 0) continue;
                const std::string there = libraryGroupOf(inLibrary, entry.source, !entry.record.empty(), byName, claimed[entry.from], libraryGroups);
                if (there.empty()) continue;
                named[i] = 1;
                if (takeOutHeld(entry, there) && byName) claimed[entry.from].insert(there);
            }
    }
    std::vector<SavedEntry> entries;
    std::vector<std::pair<std::string, std::size_t>> keptAtTop;
    // What could not be placed in the working copy, and where the save puts it in the library: a library's
    // under its own part, a kept pool's under the part of its group (a backup group's in "Backup").
    std::vector<std::pair<std::string, std::string>> unplaced;
    const auto unplace = [&](const std::string& path, std::size_t from, bool backup) {
        const Source& source = sources[from];
        const fs::path below = fs::path(path).lexically_relative(fs::path(source.folder));
        unplaced.emplace_back(path, (source.kept ? fs::path(backup ? "Backup" : "Pool") / below : below).string());
    };
    // A kept pool shown beside the library brings its patches in a group named for its session, its groups
    // after it.
    std::vector<SavedEntry> sessions(sources.size());
    std::vector<char> brings(sources.size(), 0);
    for (auto& entry : read) {
        if (entry.leftOut) continue;
        brings[entry.from] = 1;
        if (!entry.shown) {
            keptAtTop.emplace_back(std::move(entry.source), entry.from);
            continue;
        }
        const Source& source = sources[entry.from];
        if (source.group.empty() || entry.node->isGroup) {
            entries.push_back(std::move(entry));
            continue;
        }
        SavedEntry& session = sessions[entry.from];
        if (!session.node) {
            session.node = std::make_shared<DirectoryObject>();
            session.node->name = source.group;
            session.node->isGroup = true;
            session.source = join(source.folder, source.group);
            session.node->path = session.source;
            session.from = entry.from;
            session.shown = true;
        }
        session.node->childDirectories.push_back(entry.node);
        session.facts.merge(entry.facts);
    }
    for (std::size_t from = 0; from < sources.size(); ++from)
        if (!sources[from].group.empty() && sessions[from].node) entries.push_back(std::move(sessions[from]));

    // Each source's saved order, by the number each saved name starts with; a kept pool shown beside the
    // library after it, its session group first.
    Tree roots;
    roots.reserve(entries.size());
    std::unordered_map<const DirectoryObject*, SavedEntry*> saved;
    for (std::size_t from = 0; from < sources.size(); ++from) {
        Tree part;
        std::shared_ptr<DirectoryObject> session;
        for (auto& entry : entries) {
            if (entry.from != from) continue;
            saved[entry.node.get()] = &entry;
            if (!sources[from].group.empty() && entry.source == join(sources[from].folder, sources[from].group) && !session)
                session = entry.node;
            else
                part.push_back(entry.node);
        }
        m_localFileController.sortChildDirectoryInDirectoryObjectList(part);
        if (session) roots.push_back(session);
        roots.insert(roots.end(), part.begin(), part.end());
    }

    const auto place = [&](const std::string& source, const std::string& target) {
        platform::Error error;
        if (!m_files.linkItem(source, target, &error, platform::Durability::WorkingCopy)) {
            RIG_LOG("cannot take %s into the working copy: %s", source.c_str(), error.description.c_str());
            return false;
        }
        return true;
    };
    const auto plainName = [](const std::string& savedName) {
        return OKVLocalFileController::getFileNameFromIndexSavingName(savedName);
    };
    // What was read of a file now stands for its link in the working copy.
    const auto keepFacts = [&](SavedEntry& entry, const std::string& source, const std::string& target) {
        if (const auto found = entry.facts.find(source); found != entry.facts.end())
            m_poolFacts.remember(target, std::move(found->second));
    };
    // A unit that connected while the files were read (the demo's unit does, a few milliseconds into the
    // load) is judged for here, from what the reading kept of each file, as the working copy is placed:
    // otherwise the tree came unmarked and a pass of its own followed, taking every path again on the main
    // thread and every file's stamp on the pool's queue before the marks showed.
    const std::uint64_t lateConnection = m_unitConnections.latest();
    std::int32_t lateDevice = 0;
    {
        std::lock_guard lock(m_publishedMutex);
        if (m_published.isConnectDevice) lateDevice = m_published.deviceID;
    }
    std::optional<std::uint64_t> lateAgainst;
    const PoolJudge late = poolJudge(lateDevice > 0, &lateAgainst);
    const bool judgeAgain = late.mark && (lateDevice != deviceID || lateConnection != connection ||
                                          (late.warnings && lateAgainst != warningsAgainst));
    // A file whose facts were not kept (its stamp could not be taken) leaves the pool to the unit's own pass.
    std::atomic<bool> unjudged{false};
    const auto judgeLate = [&](DirectoryObject& node, const SavedEntry& entry, const std::string& source) {
        PatchItem* item = node.patchItem();
        const auto found = entry.facts.find(source);
        if (item == nullptr || found == entry.facts.end()) {
            unjudged = true;
            return;
        }
        node.isIncompatible = judgeLoadedPatch(PoolPatchFacts::patchOf(found->second), late, *item);
        node.isWarning = item->isWarning;
    };
    // The top-level patches and the groups' folders take their names in the saved order.
    // A group's folder is named here, in the saved order, and made below with its links.
    std::vector<std::pair<std::shared_ptr<DirectoryObject>, std::string>> groups;
    std::vector<SavedEntry*> groupEntries;
    std::vector<std::pair<SavedEntry*, std::string>> topPlaced;
    std::unordered_set<std::string> claimed;
    const auto taken = [&](const std::string& path) {
        return claimed.contains(path) || m_files.itemKind(path) != platform::ItemKind::Missing;
    };
    for (const auto& root : roots) {
        SavedEntry& entry = *saved[root.get()];
        const std::string savedName = lastComponent(entry.source);
        if (!root->isGroup) {
            if (judgeAgain) judgeLate(*root, entry, entry.source);
            const std::string wanted = plainName(savedName);
            if (const auto target = placeInWorkingCopy(entry.source, local, claimed.contains(join(local, wanted)) ? savedName : wanted,
                                                       savedName)) {
                topPlaced.emplace_back(&entry, *target);
                root->path = *target;
                root->patchItem()->path = *target;
            }
            continue;
        }
        const std::string plain = join(local, plainName(savedName));
        std::string folder = plain;
        for (int counter = 1; taken(folder); ++counter) folder = plain + " (" + std::to_string(counter) + ")";
        claimed.insert(folder);
        groups.emplace_back(root, folder);
        groupEntries.push_back(&entry);
    }
    // Each group's folder and patches, the groups side by side.
    std::vector<std::vector<std::pair<std::string, std::string>>> linked(groups.size());
    std::vector<char> made(groups.size(), 0);
    inParallel(groups.size(), [&](std::size_t i) {
        const auto& [root, folder] = groups[i];
        if (judgeAgain)
            for (const auto& child : root->childDirectories) judgeLate(*child, *groupEntries[i], child->patchItem()->path);
        platform::Error error;
        if (!m_files.createDirectory(folder, true, &error)) {
            RIG_LOG("cannot create %s: %s", folder.c_str(), error.description.c_str());
            return;
        }
        made[i] = 1;
        root->name = lastComponent(folder);
        root->path = folder;
        m_localFileController.sortChildDirectoryInDirectoryObjectList(root->childDirectories);
        for (const auto& child : root->childDirectories) {
            PatchItem* item = child->patchItem();
            const std::string source = item->path;
            const std::string savedName = lastComponent(source);
            if (const auto target = placeInWorkingCopy(source, folder, plainName(savedName), savedName)) {
                linked[i].emplace_back(source, *target);
                child->path = item->path = *target;
            }
        }
    });
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (!made[i]) continue;
        const auto& [root, folder] = groups[i];
        SavedEntry& entry = *groupEntries[i];
        for (const std::string& kept : entry.kept) {
            const std::string target = workingName(folder, lastComponent(kept), lastComponent(kept));
            if (linkTree(kept, target, 1)) m_unreadPoolFiles.keep(root.get(), lastComponent(target));
            else unplace(kept, entry.from, root->isBackUpAllGroup);
        }
        if (root->isBackUpAllGroup) {
            std::optional<std::string> recordedName;
            if (place(entry.record, join(folder, BackupFile::kFileName))) {
                const auto record = BackupFile::readBackupFileWithPath(entry.record, m_rootPath);
                root->modelName = record ? record->modelName() : std::nullopt;
                recordedName = record ? record->backupName() : std::nullopt;
            }
            root->name = OKVLocalFileController::backupGroupDisplayName(root->name.value_or(""), recordedName);
        }
    }
    for (const auto& [kept, from] : keptAtTop) {
        const std::string target = workingName(local, lastComponent(kept), lastComponent(kept));
        if (linkTree(kept, target, 1)) m_unreadPoolFiles.keep(nullptr, lastComponent(target));
        else unplace(kept, from, false);
    }
    // A kept pool is shown instead of the library only while what the library holds that the identity
    // counts is unchanged; anything else there may have come since (a note, a tool's files) and is saved.
    if (!preferred.empty() && m_files.itemKind(library) == platform::ItemKind::Folder) {
        std::map<std::pair<bool, std::string>, std::string> keptGroups;
        for (std::size_t i = 0; i < groups.size(); ++i)
            if (made[i])
                keptGroups.emplace(std::pair(groups[i].first->isBackUpAllGroup, plainName(lastComponent(saved[groups[i].first.get()]->source))),
                                   groups[i].second);
        std::set<std::string> shown;
        for (const auto& root : roots) {
            shown.insert(root->path.value_or(""));
            for (const auto& child : root->childDirectories) shown.insert(child->path.value_or(""));
        }
        carryLibraryStrays(library, keptGroups, shown, unplaced);
    }
    if (identityTaken.joinable()) {
        identityTaken.join();
        stamp = identity.identity;
        const auto told = [&](const auto& each) { return each.first == identity.unreadFolder; };
        if (!identity.unreadFolder.empty() && std::none_of(unlisted.begin(), unlisted.end(), told))
            unlisted.emplace_back(identity.unreadFolder, identity.cause);
        std::lock_guard lock(m_markedMutex);
        m_libraryStamp = stamp;
        m_libraryFiles = std::move(identity.digests);
    }
    const bool judgedLate = judgeAgain && !unjudged.load();
    {
        std::lock_guard lock(m_markedMutex);
        m_unplaced = std::move(unplaced);
        m_markedRoots.clear();
        for (const auto& root : roots) m_markedRoots.push_back(root.get());
        m_markedDevice = judgedLate ? lateDevice : deviceID;
        m_markedConnection = judgedLate ? lateConnection : connection;
        m_poolWarningsAgainst = judgedLate ? lateAgainst : warningsAgainst;
    }
    // What the kept pools shown beside the library brought in, as the pool names it.
    std::string brought;
    for (const auto& root : roots)
        if (!sources[saved[root.get()]->from].group.empty())
            brought += (brought.empty() ? "\"" : ", \"") + root->name.value_or("") + "\"";
    // A pool that holds a kept one is saved without an edit; both stay on disk until a save writes them. One
    // the library already holds whole goes now; one that could not be read whole stays for a later start.
    std::vector<std::string> heldWhole;
    {
        std::lock_guard lock(m_markedMutex);
        m_keptLoaded.clear();
        for (std::size_t from = 0; from < sources.size(); ++from) {
            if (!sources[from].kept || whole[from] == 0) continue;
            if (!sources[from].group.empty() && brings[from] == 0) heldWhole.push_back(sources[from].folder);
            else m_keptLoaded.push_back(sources[from].folder);
        }
        // What the load could not list would be saved away: no save replaces this library.
        if (!unlisted.empty()) m_libraryStamp = kNoLibrary;
    }
    dropKeptPools(heldWhole);
    // Read whole, the library and its parts lie where this start found them: a save judges them against that.
    if (unlisted.empty()) m_places = LibraryPlaces::of(m_files, library);
    m_poolFromKept.store(!m_keptLoaded.empty());
    sendPatchPoolData(std::move(roots));
    tellUnlisted(unlisted);
    for (const auto& part : keptAside)
        tell([part, aside = keptAsideName(part)](CommonUtilsDelegate& d) { d.patchLibraryPartKeptAside(part, aside); });
    if (!preferred.empty()) tell([](CommonUtilsDelegate& d) { d.patchPoolKeptFromLastRun(); });
    std::vector<std::string> without;
    {
        std::lock_guard lock(m_markedMutex);
        without.swap(m_keptWithout);
    }
    if (!without.empty()) {
        // The first few, and how many in all: thousands of names help no one.
        constexpr std::size_t kNamed = 3;
        std::string files;
        for (std::size_t i = 0; i < std::min(kNamed, without.size()); ++i) files += (i > 0 ? ", \"" : "\"") + without[i] + "\"";
        if (without.size() > kNamed) files += ", \u2026 (" + std::to_string(without.size()) + ")";
        tell([files](CommonUtilsDelegate& d) { d.patchPoolKeptWithout(files); });
    }
    if (!brought.empty()) tell([brought](CommonUtilsDelegate& d) { d.patchPoolKeptBesideLibrary(brought); });
    // Kept once the tree is handed over: only the pool's queue looks them up, and this load holds it until
    // they are all in.
    std::size_t placedFiles = topPlaced.size();
    for (const auto& each : linked) placedFiles += each.size();
    m_poolFacts.reserve(m_poolFacts.size() + placedFiles);
    for (const auto& [entry, target] : topPlaced) keepFacts(*entry, entry->source, target);
    for (std::size_t i = 0; i < groups.size(); ++i)
        for (const auto& [source, target] : linked[i]) keepFacts(*groupEntries[i], source, target);
}

bool CommonUtils::namesLibrary(const std::string& named, const std::string& stamp, const std::string& library,
                               std::optional<std::string>& earlier) const
{
    if (named == stamp) return true;
    if (stamp == kNoLibrary || !LibraryIdentity::isEarlier(named)) return false;
    if (!earlier) earlier = LibraryIdentity::earlierOf(m_files, library);
    return named == *earlier;
}

std::map<std::string, std::string> CommonUtils::ownedInGroup(const std::string& folder) const
{
    std::map<std::string, std::string> owned;
    for (const auto& [name, kind] : m_files.contentsOfDirectoryWithKinds(folder).value_or(std::vector<platform::FolderEntry>{}))
        if (LibraryIdentity::owns(name, kind, true))
            owned.emplace(OKVLocalFileController::getFileNameFromIndexSavingName(name), join(folder, name));
    return owned;
}

std::string CommonUtils::libraryGroupOf(const std::map<std::pair<std::string, std::string>, std::string>& inLibrary,
                                        const std::string& group, bool backup, bool byNameOnly, std::set<std::string>& claimed,
                                        std::optional<GroupsHeld>& libraryGroups) const
{
    const auto claim = [&](const std::string& path) {
        claimed.insert(path);
        return path;
    };
    const std::string plain = OKVLocalFileController::getFileNameFromIndexSavingName(lastComponent(group));
    if (byNameOnly) {
        // Where its record says, or else in the other part (a backup without its record).
        const std::string part = backup ? "Backup" : "Pool";
        for (const std::string& in : {part, std::string(backup ? "Pool" : "Backup")})
            if (const auto found = inLibrary.find({in, plain}); found != inLibrary.end()) return found->second;
        return {};
    }
    // Renamed by hand between the runs: a case-insensitive share gives back another case of the same name.
    const auto sameLetters = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (const auto& [key, path] : inLibrary)
        if (!claimed.contains(path) && sameLetters(key.second, plain) && m_files.itemKind(path) == platform::ItemKind::Folder)
            return claim(path);
    // Or under another name altogether (as the start that could not read the library's group of its name
    // gave it one of its own): the library's group holding what it holds, name by name and byte for byte.
    const auto owned = ownedInGroup(group);
    if (owned.empty()) return {};
    if (!libraryGroups) {
        libraryGroups.emplace();
        for (const auto& [key, path] : inLibrary)
            if (m_files.itemKind(path) == platform::ItemKind::Folder) libraryGroups->emplace(path, ownedInGroup(path));
    }
    for (const auto& [path, theirs] : *libraryGroups) {
        if (theirs.size() != owned.size() || claimed.contains(path)) continue;
        const bool same = std::equal(owned.begin(), owned.end(), theirs.begin(), [&](const auto& mine, const auto& other) {
            return mine.first == other.first && LibraryIdentity::sameContent(m_files, mine.second, other.second);
        });
        if (same) return claim(path);
    }
    return {};
}

void CommonUtils::carryLibraryStrays(const std::string& library, const std::map<std::pair<bool, std::string>, std::string>& groups,
                                     const std::set<std::string>& shown, std::vector<std::pair<std::string, std::string>>& unplaced)
{
    const std::string local = pathUnderRoot(kTempLocal);
    // The program never writes these: where the kept pool holds one of the name too, the library's is the
    // newer and takes its place, unless the pool shows that one.
    const auto clear = [&](const std::string& target) {
        const platform::ItemKind kind = m_files.itemKind(target);
        if (kind == platform::ItemKind::Missing) return true;
        return !shown.contains(target) && m_files.removeItem(target);
    };
    for (const char* part : {"Pool", "Backup"}) {
        const std::string folder = LibraryIdentity::throughLinks(join(library, part));
        for (const auto& [name, kind] : m_files.contentsOfDirectoryWithKinds(folder).value_or(std::vector<platform::FolderEntry>{})) {
            const std::string path = join(folder, name);
            const std::string below = std::string(part) + "/" + name;
            if (!LibraryIdentity::owns(name, kind, false)) {
                // Saved where it stood; the working copy's own of the name would be saved at the top of "Pool".
                if (clear(join(local, name))) unplaced.emplace_back(path, below);
                continue;
            }
            if (kind != platform::ItemKind::Folder) continue;
            const auto group = groups.find({std::string(part) == "Backup", OKVLocalFileController::getFileNameFromIndexSavingName(name)});
            for (const auto& [inner, innerKind] :
                 m_files.contentsOfDirectoryWithKinds(path).value_or(std::vector<platform::FolderEntry>{})) {
                if (LibraryIdentity::owns(inner, innerKind, true)) continue;
                const std::string stray = join(path, inner);
                // A group the session deleted or renamed, or a patch file the group's save would take for
                // one it no longer shows: kept where it stood.
                if (group == groups.end() || (innerKind == platform::ItemKind::File && isShownPatchFile(stray))) {
                    unplaced.emplace_back(stray, below + "/" + inner);
                    continue;
                }
                const std::string target = join(group->second, inner);
                if (clear(target) && !linkTree(stray, target, 1)) unplaced.emplace_back(stray, below + "/" + inner);
            }
        }
    }
}

void CommonUtils::tellUnlisted(const std::vector<std::pair<std::string, platform::Error>>& unlisted)
{
    {
        std::lock_guard lock(m_markedMutex);
        m_libraryUnread.clear();
    }
    if (unlisted.empty()) return;
    for (const auto& [folder, cause] : unlisted) RIG_LOG("cannot list %s: %s", folder.c_str(), cause.description.c_str());
    const std::string reason = m_readFailureWords(unlisted.front().first, unlisted.front().second);
    {
        std::lock_guard lock(m_markedMutex);
        m_libraryUnread = reason;
    }
    tell([reason](CommonUtilsDelegate& d) { d.patchLibraryNotRead(reason); });
}

std::string CommonUtils::defaultReadFailureWords(const std::string& folder, const platform::Error& cause)
{
    const std::string unread = cause.info(kUnreadInfo);
    std::string why = cause.domain == "files" && cause.code != 0 ? std::strerror(static_cast<int>(cause.code)) : cause.description;
    if (unread == kAway) why = "it is missing or empty, as a drive or share that is not mounted leaves it";
    return "\"" + folder + "\" could not be " + (unread == kWorkingCopyNotMade ? "made" : "read") + ": " + why;
}

std::vector<MappingObject> CommonUtils::updateAttributesOfPatchPool(const std::vector<std::string>& list,
                                                                    const std::vector<MappingObject>& backupList) const
{
    std::vector<MappingObject> entries;
    entries.reserve(list.size());
    for (const std::string& path : list) {
        MappingObject entry = MappingObject::initWithFilePath(path);
        entry.isNew = false;
        const std::string folder = lastComponent(fs::path(path).parent_path().string());
        for (const MappingObject& backup : backupList) {
            if (NSStringAddition::isEqualToPath(folder, lastComponent(fs::path(backup.filePath.value_or("")).parent_path().string()))) {
                entry.isBackup = true;
                break;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

// ---- the tree ----

DirectoryObject::Item CommonUtils::itemForPath(const std::string& path, int type, std::string& name) const
{
    if (type == 1) {
        if (auto item = getEffectItemWithPath(path)) {
            name = item->effectName;
            return item;
        }
        return std::monostate();
    }
    if (auto item = getPatchItemWithPath(path)) {
        name = item->patchName;
        return item;
    }
    return std::monostate();
}

CommonUtils::Tree CommonUtils::convertToDirectoryObject(const std::vector<std::string>& paths, int type) const
{
    std::vector<MappingObject> entries;
    entries.reserve(paths.size());
    for (const auto& path : paths) entries.push_back(MappingObject::initWithFilePath(path));
    return convertToDirectoryObject(entries, type);
}

CommonUtils::Tree CommonUtils::convertToDirectoryObject(const std::vector<MappingObject>& list, int type) const
{
    std::string base = m_rootPath;
    if (type == 1) base = pathUnderRoot(kTempEffectPool);
    if (type == 2) base = pathUnderRoot(kTempPatch);
    if (type == 3) base = pathUnderRoot(kTempLocal);

    Tree roots;
    const auto leafFor = [&](const MappingObject& entry, bool topLevel) {
        auto node = std::make_shared<DirectoryObject>();
        const std::string path = entry.filePath.value_or("");
        node->isGroup = entry.isGroup;
        if (entry.isGroup && topLevel) {
            node->name = lastComponent(path);
            return node;
        }
        std::string name;
        node->object = itemForPath(path, type, name);
        if (type == 1) {
            node->name = std::holds_alternative<std::monostate>(node->object) ? entry.fileName.value_or("") : name;
            if (!topLevel && std::holds_alternative<std::monostate>(node->object)) node->object = unknownEffectItem();
            node->fileName = entry.fileName;
            node->isNew = entry.isNew;
        } else if (!std::holds_alternative<std::monostate>(node->object)) {
            node->name = name;
        }
        node->path = path;
        node->isIncompatible = entry.isIncompatibility;
        return node;
    };
    const auto groupFor = [](const std::string& name, const MappingObject& entry) {
        auto node = std::make_shared<DirectoryObject>();
        node->name = name;
        node->path = entry.filePath;
        node->hasNewChild = entry.isNew;
        node->isBackUpAllGroup = entry.isBackup;
        node->isIncompatible = entry.isIncompatibility;
        node->isGroup = entry.isGroup;
        return node;
    };
    const auto childNamed = [](Tree& nodes, const std::string& name) -> std::shared_ptr<DirectoryObject> {
        const auto found = std::find_if(nodes.begin(), nodes.end(), [&](const auto& n) { return n->name == name; });
        return found == nodes.end() ? nullptr : *found;
    };

    for (MappingObject entry : list) {
        const std::string path = entry.filePath.value_or("");
        if (m_files.exists(path)) entry.isGroup = m_files.isDirectory(path);
        // Entries outside the tree's folder have no place in it.
        if (!isUnderFolder(path, base)) continue;
        const fs::path relative = fs::path(path).lexically_normal().lexically_relative(fs::path(base).lexically_normal());
        const std::vector<std::string> components(relative.begin(), relative.end());
        if (components.empty()) continue;
        if (components.size() == 1) {
            roots.push_back(leafFor(entry, true));
            continue;
        }
        auto root = childNamed(roots, components.front());
        if (!root) {
            root = groupFor(components.front(), entry);
            roots.push_back(root);
        }
        auto parent = root;
        for (std::size_t i = 1; i + 1 < components.size(); ++i) {
            auto child = childNamed(parent->childDirectories, components[i]);
            if (!child) {
                child = groupFor(components[i], entry);
                parent->childDirectories.push_back(child);
            }
            parent = child;
        }
        parent->childDirectories.push_back(leafFor(entry, false));
        if (entry.isNew) parent->hasNewChild = root->hasNewChild = true;
        parent->isGroup = root->isGroup = true;
        if (type == 3) root->isIncompatible = false;
    }
    return roots;
}

// ---- the incompatibility marks ----

namespace {

// Every patch node under `nodes` with its file's path, taken on the caller's thread.
void collectPatchNodes(const CommonUtils::Tree& nodes,
                       std::vector<std::pair<std::shared_ptr<DirectoryObject>, std::string>>& leaves)
{
    for (const auto& node : nodes) {
        if (!node) continue;
        if (node->isGroup) {
            collectPatchNodes(node->childDirectories, leaves);
            continue;
        }
        const PatchItem* item = node->patchItem();
        leaves.emplace_back(node, item ? item->path : std::string());
    }
}

}  // namespace

void CommonUtils::updateDirectoryObjectForPatchPool(const Tree& nodes)
{
    std::int32_t deviceID = 0;
    {
        std::lock_guard lock(m_publishedMutex);
        if (!m_published.isConnectDevice || m_published.deviceID < 1) return;
        deviceID = m_published.deviceID;
    }
    std::vector<const DirectoryObject*> roots;
    roots.reserve(nodes.size());
    for (const auto& node : nodes) roots.push_back(node.get());
    {
        // The tree the load just handed over was marked from the same reading, for this connection of this
        // device; the next update marks again.
        std::lock_guard lock(m_markedMutex);
        const bool alreadyMarked =
            m_markedDevice == deviceID && m_markedConnection == m_unitConnections.latest() && roots == m_markedRoots;
        m_markedDevice = 0;
        if (alreadyMarked) return;
        if (roots != m_markedRoots) m_poolWarningsAgainst.reset();
        m_markedRoots = roots;
        ++m_poolJudgementsUnderWay;
    }
    // Taking the paths is a slice of the main loop's own, after the caller's turn (a pool's tree has just
    // been shown); the files are judged on the pool's queue; the marks are set on the main thread, where
    // the interface reads them.
    m_dispatch.main().async([this, alive = std::weak_ptr<bool>(m_alive), nodes, roots = std::move(roots),
                             connection = m_unitConnections.asked()]() mutable {
        if (!alive.lock()) return;
        std::vector<std::pair<std::shared_ptr<DirectoryObject>, std::string>> leaves;
        collectPatchNodes(nodes, leaves);
        markPatchNodesLater(std::move(leaves), std::move(roots), connection);
    });
}

std::optional<std::uint64_t> CommonUtils::poolWarningsJudgedAgainst(const Tree& nodes)
{
    std::lock_guard lock(m_markedMutex);
    if (nodes.size() != m_markedRoots.size() ||
        !std::equal(nodes.begin(), nodes.end(), m_markedRoots.begin(),
                    [](const auto& node, const DirectoryObject* root) { return node.get() == root; }))
        return std::nullopt;
    if (m_poolJudgementsUnderWay > 0) return effectTablesGeneration();
    return m_poolWarningsAgainst;
}

void CommonUtils::markPatchNodesLater(std::vector<std::pair<std::shared_ptr<DirectoryObject>, std::string>> leaves,
                                      std::optional<std::vector<const DirectoryObject*>> roots, std::uint64_t connection)
{
    m_poolQueue->async([this, alive = std::weak_ptr<bool>(m_alive), leaves = std::move(leaves), roots = std::move(roots),
                        connection]() mutable {
        if (!alive.lock()) return;
        // Ends a judgement of the pool whose top-level nodes are `roots` (none: a part of a pool) on the
        // main thread; `against` is what its warnings were judged against, when it judged them. An empty
        // pool is a whole pool too.
        const auto land = [this, alive, roots](std::function<void()> apply, std::optional<std::uint64_t> against) {
            m_dispatch.main().async([this, alive, roots, apply = std::move(apply), against] {
                if (!alive.lock()) return;
                if (roots) {
                    std::lock_guard lock(m_markedMutex);
                    if (m_poolJudgementsUnderWay > 0) --m_poolJudgementsUnderWay;
                    if (*roots == m_markedRoots) m_poolWarningsAgainst = against;
                }
                apply();
            });
        };
        std::optional<std::uint64_t> against;
        const PoolJudge judge = poolJudge(true, &against);
        const std::size_t count = leaves.size();
        std::vector<char> marks(count, 0);
        std::vector<std::optional<platform::PlistDictionary>> lists(judge.warnings ? count : 0);
        std::vector<std::optional<bool>> warnings(judge.warnings ? count : 0);
        // Files the load did not read as they are now, read here and kept for the next judgement.
        std::vector<std::optional<std::pair<platform::FileStamp, OKVPatch>>> fresh(count);
        std::atomic<bool> gone{false};
        // On the load's threads, as each file is judged on its own: the facts kept are only looked up here,
        // and kept anew once all are judged.
        inParallel(count, [&](std::size_t i) {
            if (gone.load()) return;
            if (!publishedConnected() || m_parser.getDeviceID() < 1) {
                gone = true;
                return;
            }
            const std::string& path = leaves[i].second;
            // What the load read of the file, while the file is as it was read.
            std::optional<OKVPatch> patch = m_poolFacts.find(path, m_files.fileStamp(path));
            if (!patch && !NSStringAddition::isBlankString(path)) {
                std::optional<platform::FileStamp> stamp;
                const auto bytes = m_files.readFileStamped(path, stamp, nullptr, OKVPatch::kMaxPatchDataSize);
                if (bytes && bytes->size() >= 4 && std::equal(bytes->begin(), bytes->begin() + 4, "PTCF"))
                    patch = OKVPatch::initWithData(*bytes);
                if (patch && stamp) fresh[i].emplace(*stamp, *patch);
            }
            marks[i] = !(patch && m_parser.checkPatchCompatible(*patch));
            if (!judge.warnings) return;
            lists[i] = patch ? effectListWithPatch(*patch, *judge.tables) : std::nullopt;
            warnings[i] = lists[i] ? patchWarningWithEffectList(*lists[i]) : std::nullopt;
        });
        if (gone.load()) {
            // Only about the connection it was judged for: one begun since (the unit back before this landed)
            // is not the one it met gone, and the window would drop it and remove the folders it reads into.
            land([this, connection] {
                if (m_unitConnections.isCurrent(connection))
                    tellAbout(connection, [](CommonUtilsDelegate& d) { d.deviceDisonnect(); });
            }, std::nullopt);
            return;
        }
        for (std::size_t i = 0; i < count; ++i)
            if (fresh[i]) m_poolFacts.remember(leaves[i].second, fresh[i]->first, fresh[i]->second);
        land([this, leaves = std::move(leaves), marks = std::move(marks), lists = std::move(lists),
              warnings = std::move(warnings)]() mutable {
            for (std::size_t i = 0; i < leaves.size(); ++i) {
                DirectoryObject& node = *leaves[i].first;
                node.isIncompatible = marks[i];
                PatchItem* item = node.patchItem();
                if (i >= lists.size() || item == nullptr) continue;
                if (lists[i]) {
                    item->effectDictionnary = std::move(*lists[i]);
                    if (warnings[i]) item->isWarning = *warnings[i];
                } else {
                    updatePatchWarningWithPatchItem(*item);
                }
                node.isWarning = item->isWarning;
            }
            tell([](CommonUtilsDelegate& d) { d.patchPoolMarksUpdated(); });
        }, against);
    });
}

std::optional<OKVPatch> CommonUtils::getOKVPatchWithPath(const std::optional<std::string>& path,
                                                         platform::Error* error) const
{
    if (NSStringAddition::isBlankString(path)) return std::nullopt;
    const auto bytes = m_files.readFile(*path, error, OKVPatch::kMaxPatchDataSize);
    if (!bytes) return std::nullopt;
    std::optional<OKVPatch> patch;
    if (bytes->size() >= 4 && std::equal(bytes->begin(), bytes->begin() + 4, "PTCF"))
        patch = OKVPatch::initWithData(*bytes);
    if (!patch && error != nullptr)
        *error = platform::Error::make(kPatchErrorDomain, kNotAPatchFile, "\"" + *path + "\" is no patch file");
    return patch;
}

// ---- copying ----

std::string CommonUtils::copyFileList(const std::vector<CopySource>& list, const std::string& destination)
{
    if (list.empty()) return std::string();
    const std::string home = homeFolder();
    const bool absolute = contains(destination, m_rootPath) || (!home.empty() && contains(destination, home));
    const std::string folder = absolute ? destination : pathUnderRoot(destination);
    // Working folders under "Temp" are rebuilt at every start from what stays on disk, so their copies
    // need no flush of their own.
    const bool working = isUnderFolder(folder, pathUnderRoot(kTemp));
    if (!contains(folder, "QFXMacApplication")) {
        // Only a working folder under "Temp" is emptied first; any other destination may hold the
        // user's own files, so it is only made when missing.
        platform::Error error;
        if (working && m_files.exists(folder) && !m_files.removeItem(folder, &error))
            return std::string();
        if (!m_files.exists(folder) && !m_files.createDirectory(folder, true, &error)) return std::string();
    }
    const bool numbered = contains(destination, kStorePatch) || contains(destination, kStoreDevice);
    bool replace = true;
    for (std::size_t i = 0; i < list.size(); ++i) {
        MappingObject entry = std::visit(
            [](const auto& element) -> MappingObject {
                using T = std::decay_t<decltype(element)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    return MappingObject::initWithFilePath(element);
                } else if constexpr (std::is_same_v<T, std::shared_ptr<PatchItem>>) {
                    return MappingObject::initWithFilePath(element ? element->path : std::string());
                } else if constexpr (std::is_same_v<T, std::shared_ptr<DirectoryObject>>) {
                    if (!element) return MappingObject();
                    std::string path = element->path.value_or("");
                    if (const PatchItem* patch = element->patchItem()) path = patch->path;
                    if (const EffectItem* effect = element->effectItem()) path = effect->path;
                    MappingObject made = MappingObject::initWithFilePath(path);
                    made.isBackup = element->isBackUpAllGroup;
                    return made;
                } else {
                    return element;
                }
            },
            list[i]);
        const std::string source = entry.filePath.value_or("");
        if (source.empty()) continue;
        std::string target = folder;
        std::string finalName;
        if (numbered) {
            std::string name = lastComponent(source);
            if (contains(name, "]")) name = getFileNameFromIndexSavingName(name);
            finalName = platform::StringFormat::format("[%d] %@", {static_cast<std::int64_t>(i), name});
            replace = false;
        } else if (destination == kTempEffectPool) {
            target = (fs::path(folder) / entry.category.value_or("")).string();
        }
        const std::string copied = copyFileFromFilePath(
            source, target, replace, working ? platform::Durability::WorkingCopy : platform::Durability::Durable);
        if (!copied.empty() && !finalName.empty()) {
            platform::Error error;
            if (!m_files.moveItem(copied, (fs::path(folder) / finalName).string(), &error))
                RIG_LOG("rename file error: %s", error.description.c_str());
        }
    }
    return destination;
}

std::string CommonUtils::copyFileFromFilePath(const std::string& source, const std::string& destination, bool replace,
                                              platform::Durability durability, platform::Error* why)
{
    platform::Error error;
    // Every failure below leaves `error` filled; the caller that asks is told why.
    const auto failed = [&] {
        if (why != nullptr) *why = error;
        return std::string();
    };
    std::string store = pathUnderRoot(kStorePatch);
    if (!isUnderFolder(source, store)) store = libraryFolder();
    const bool fromStore = isUnderFolder(source, store);
    if (fromStore) replace = false;
    if (!m_files.exists(source)) {
        error = platform::Error::make("files", ENOENT, "\"" + source + "\" is gone");
        return failed();
    }

    const std::string sourceName = lastComponent(source);
    std::string name = sourceName;
    bool renamed = false;
    if (!contains(name, "(") && !contains(name, "[") && isPathOfFile(source)) {
        if (const auto item = getPatchItemWithPath(source)) {
            name = fileNameForPatchName(item->patchName, sourceName);
            renamed = name != sourceName;
        }
    }
    fs::path folder(destination);
    if (fromStore) {
        // The group folders stay in the path; "Pool" or "Backup" goes.
        const fs::path below = fs::path(source).lexically_normal().lexically_relative(fs::path(store).lexically_normal());
        std::vector<fs::path> parts(below.begin(), below.end());
        if (!parts.empty()) parts.erase(parts.begin());
        if (!renamed && !parts.empty() && parts.back() == name) parts.pop_back();
        for (const auto& part : parts) folder /= part;
    } else if (isUnderFolder(source, pathUnderRoot(kTempEffectList))) {
        std::string deviceName;
        {
            std::lock_guard lock(m_publishedMutex);
            deviceName = m_published.deviceName;
        }
        if (platform::SafeName::check(deviceName)) folder /= deviceName;
    }
    fs::path file;
    // Only a patch file's path names a file: a group's folder may hold a dot ("Live 2.0"), and an
    // existing folder is a folder whatever its name.
    if (isPathOfFile(folder.string()) && !m_files.isDirectory(folder.string())) {
        file = folder;
    } else {
        if (!m_files.exists(folder.string()) && !m_files.createDirectory(folder.string(), true, &error)) return failed();
        file = folder / name;
    }
    const std::string home = homeFolder();
    if (!home.empty() && isUnderFolder(file.string(), home) && !isUnderFolder(file.string(), m_rootPath) &&
        contains(file.filename().string(), "]"))
        file.replace_filename(getFileNameFromIndexSavingName(file.filename().string()));
    if (m_files.exists(file.string())) {
        if (!replace) {
            file = createNewNameForPath(file.string());
        } else if (!m_files.isDirectory(source) && !m_files.isDirectory(file.string())) {
            // The file in the way is replaced whole or not at all, so a failed copy keeps it, and a file
            // replaced by itself (the same path) stays as it was instead of being removed first.
            const auto bytes = m_files.readFile(source, &error);
            if (!bytes || !m_files.writeAtomically(file.string(), *bytes, &error, durability)) {
                RIG_LOG("cannot replace the file: %s", error.description.c_str());
                return failed();
            }
            return file.string();
        } else if (!m_files.removeItem(file.string(), &error)) {
            return failed();
        }
    }
    // A copy made beside this one (a step's own copy of a dropped patch while the pool's queue copies the
    // rest of the drop) may take the free name between the look above and the copy: the next free name is
    // taken then, as it would have been had that copy come first.
    for (int tries = 0; !m_files.copyItem(source, file.string(), &error, durability); ++tries) {
        if (replace || error.domain != "files" || error.code != EEXIST || tries >= kCopyNameTries) {
            RIG_LOG("cannot copy the file: %s", error.description.c_str());
            return failed();
        }
        file = createNewNameForPath(file.string());
    }
    return file.string();
}

// ---- saving on system events ----

void CommonUtils::setPatchPoolSaver(std::function<void()> saver)
{
    std::lock_guard lock(m_serverMutex);
    m_patchPoolSaver = std::move(saver);
}

bool CommonUtils::saveLoadedPatchPool()
{
    std::function<void()> saver;
    {
        std::lock_guard lock(m_serverMutex);
        saver = m_patchPoolSaver;
    }
    if (!m_isLoadedPatchPool || !saver) return false;
    saver();
    return true;
}
