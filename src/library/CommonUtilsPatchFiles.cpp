#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "common/Log.h"
#include "device/formats/OKVPatch.h"
#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/store/OKVLocalFileController.h"
#include "platform/bundle/Localizer.h"
#include "platform/files/FileManager.h"
#include "platform/files/SafeName.h"
#include "platform/text/ShiftJis.h"
#include "platform/text/Utf8.h"

namespace fs = std::filesystem;

namespace {

// How many threads make the copies a step on many patches of a drop takes.
constexpr std::size_t kCopyMakers = 4;
constexpr std::size_t kNameBytes = 10;
constexpr std::size_t kCommentBytes = 200;

bool isBlank(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c) != 0; });
}

std::string replaceAll(std::string text, char from, char to)
{
    std::replace(text.begin(), text.end(), from, to);
    return text;
}

Bytes withoutZeroBytes(Bytes bytes)
{
    bytes.erase(std::remove(bytes.begin(), bytes.end(), std::uint8_t{0}), bytes.end());
    return bytes;
}

// The longest prefix of UTF-8 text that fits `limit` bytes without splitting a character.
Bytes cutUtf8(const std::string& text, std::size_t limit)
{
    std::size_t end = std::min(limit, text.size());
    while (end > 0 && end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end));
}

// The longest prefix of Shift-JIS bytes that fits `limit` without splitting a double-byte character.
Bytes cutShiftJis(const Bytes& bytes, std::size_t limit)
{
    std::size_t end = 0;
    while (end < bytes.size()) {
        const std::uint8_t lead = bytes[end];
        const std::size_t width = ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) ? 2 : 1;
        if (end + width > limit) break;
        end += width;
    }
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(end, bytes.size())));
}

std::string fileNameOf(const std::string& path) { return fs::path(path).filename().string(); }
std::string join(const std::string& folder, const std::string& name) { return (fs::path(folder) / name).string(); }

}  // namespace

// ---- paths and names ----

std::string CommonUtils::absolutePath(const std::string& path) const
{
    const char* home = std::getenv("HOME");
    // A path given from "/" is absolute wherever it points (exports go to any mounted folder).
    if (path.find(m_rootPath) != std::string::npos || path.rfind('/', 0) == 0) return path;
    if (home != nullptr && *home != '\0' && path.find(home) != std::string::npos) return path;
    return join(m_rootPath, fs::path(path).relative_path().string());
}

std::string CommonUtils::groupFolderName(const std::string& groupName) { return replaceAll(groupName, ':', '-'); }

// The extension as a path tells it (a hidden name's only dot begins no extension), read off the text: the
// start asks it of every file it reads.
bool CommonUtils::isPathOfFile(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= start) return false;
    return path.compare(dot, std::string::npos, ".qptc") == 0;
}

std::string CommonUtils::createNewDirectoryPath(const std::string& path)
{
    for (int counter = 1;; ++counter) {
        const std::string candidate = path + " (" + std::to_string(counter) + ")";
        if (!m_files.exists(candidate)) return candidate;
    }
}

void CommonUtils::removeFileWithPath(const std::string& path)
{
    const std::string absolute = absolutePath(path);
    platform::Error error;
    if (m_files.exists(absolute) && !m_files.removeItem(absolute, &error))
        RIG_LOG("cannot remove %s: %s", absolute.c_str(), error.description.c_str());
}

void CommonUtils::removeDeviceDataFolder()
{
    for (const char* folder : {kTempEffectList, kTempDevice, kDevicePatch}) removeFileWithPath(folder);
}

void CommonUtils::removeDeviceDataFolderAfterPoolWork()
{
    const std::uint64_t lost = m_unitConnections.asked();
    if (!isPoolWorkPending() && m_afterPoolWork.empty()) {
        // On the state queue, ordered with the connection states: never under a read there.
        post([this, lost] { removeDeviceDataFolderOf(lost); });
        return;
    }
    ++m_deviceFolderRemovals;
    afterPoolWork([this, lost] {
        // On the state queue, where a connection state waiting for it is taken next.
        post([this, lost] {
            removeDeviceDataFolderOf(lost);
            --m_deviceFolderRemovals;
        });
    });
}

void CommonUtils::removeDeviceDataFolderOf(std::uint64_t connection)
{
    if (!m_unitConnections.isCurrent(connection)) {
        RIG_LOG("the unit's folders belong to a later connection: kept");
        return;
    }
    removeDeviceDataFolder();
}

// ---- reading patch files ----

bool CommonUtils::checkFilePatchWithfilePath(const std::string& path)
{
    if (!isPathOfFile(path)) return false;
    const auto patch = getOKVPatchWithPath(absolutePath(path));
    return patch && std::string(patch->ckID().c_str()) == "PTCF";
}

std::shared_ptr<PatchItem> CommonUtils::readFilePatchWithPath(const std::string& path)
{
    auto item = getPatchItemWithPath(absolutePath(path));
    if (item) getEffectListWithPatch(*item);
    return item;
}

bool CommonUtils::publishedConnected() const
{
    std::lock_guard lock(m_publishedMutex);
    return m_published.isConnectDevice;
}

std::int32_t CommonUtils::getNumberOfSlotsInBank()
{
    return publishedConnected() ? m_parser.getNumberOfPatchsInABank() : 0;
}

bool CommonUtils::isPatchFileIncompatibleWithPath(const std::string& path)
{
    std::int32_t deviceID = 0;
    {
        std::lock_guard lock(m_publishedMutex);
        if (!m_published.isConnectDevice) return false;
        deviceID = m_published.deviceID;
    }
    if (path.empty() || deviceID <= 0 || !checkFilePatchWithfilePath(path)) return false;
    const auto patch = getOKVPatchWithPath(absolutePath(path));
    return !patch || !m_parser.checkPatchCompatible(*patch);
}

void CommonUtils::updateIncompatiblePathItemInDirectory(DirectoryObject& node)
{
    const PatchItem* item = node.patchItem();
    if (item != nullptr && publishedConnected()) node.isIncompatible = isPatchFileIncompatibleWithPath(item->path);
}

// ---- rewriting names and comments ----

std::optional<StoredPatchTexts> CommonUtils::storedPatchTexts(const std::string& path) const
{
    const auto patch = getOKVPatchWithPath(absolutePath(path));
    if (!patch) return std::nullopt;
    const std::string& name = patch->patchName();
    return StoredPatchTexts{Bytes(name.begin(), name.end()),
                            m_preferredLocalization == "ja" ? patch->commentJP().content() : patch->commentEN().content()};
}

bool CommonUtils::editFilePatch(PatchItem& item, const StoredPatchTexts* restore)
{
    std::lock_guard lock(m_editMutex);
    auto patch = getOKVPatchWithPath(absolutePath(item.path));
    if (!patch) return false;
    // A field the item holds as the file reads keeps its stored bytes: a name that is not UTF-8, or a
    // comment that does not decode in the interface language, reads as "", and writing that back would
    // erase it whenever the other field is edited.
    const auto stored = patchItemFromPatch(*patch, item.path);
    const bool restoreName = restore && restore->name;
    const bool restoreComment = restore && restore->comment;
    if (restoreName) {
        patch->setPatchName(std::string(restore->name->begin(), restore->name->end()));
    } else if (item.patchName != stored->patchName) {
        const Bytes name = cutUtf8(item.patchName, kNameBytes);
        patch->setPatchName(std::string(name.begin(), name.end()));
    }
    const bool commentEdited = item.patchComment != stored->patchComment;
    if (restoreComment && preferredLocalization() == "ja") {
        patch->commentJP().setContent(*restore->comment);
    } else if (restoreComment) {
        patch->commentEN().setContent(*restore->comment);
    } else if (commentEdited && preferredLocalization() == "ja") {
        Bytes bytes;
        if (!isBlank(item.patchComment)) {
            const auto encoded = platform::ShiftJis::encode(item.patchComment);
            if (!encoded) return false;
            bytes = cutShiftJis(*encoded, kCommentBytes);
        }
        patch->commentJP().setContent(withoutZeroBytes(std::move(bytes)));
    } else if (commentEdited) {
        patch->commentEN().setContent(isBlank(item.patchComment)
                                          ? Bytes(kCommentBytes, 0)
                                          : withoutZeroBytes(cutUtf8(item.patchComment, kCommentBytes)));
    }
    const Bytes written = patch->getByteData();
    item.path = absolutePath(item.path);

    // The former file is copied (never moved) under a name of its own, so a failure can always go back
    // to exactly what was there; the original is replaced whole or not at all. It is kept apart from the
    // unit's folder, which a unit let go has removed on the state queue whatever is edited meanwhile.
    platform::Error error;
    const std::string keptFolder = pathUnderRoot(kTempFormerFiles);
    if (!m_files.createDirectory(keptFolder, true, &error)) {
        RIG_LOG("cannot keep the former patch file: %s", error.description.c_str());
        return false;
    }
    std::string former = join(keptFolder, fileNameOf(item.path));
    if (m_files.exists(former)) former = createNewNameForPath(former);
    if (!m_files.copyItem(item.path, former, &error)) {
        RIG_LOG("cannot keep the former patch file: %s", error.description.c_str());
        return false;
    }
    if (!patch->writeToFile(m_files, item.path, &error)) {
        RIG_LOG("cannot rewrite %s: %s", item.path.c_str(), error.description.c_str());
        return false;
    }
    // The file must hold the record as built, the fields kept included, and read back under the item's name.
    const auto readBack = getPatchItemWithPath(item.path);
    if (readBack && restoreName) item.patchName = readBack->patchName;
    if (readBack && readBack->patchName == item.patchName && m_files.readFile(item.path) == written) {
        // The item shows what the file holds: a comment cut at its limit or changed by its encoding
        // would otherwise differ from what the unit gets.
        item.patchComment = readBack->patchComment;
        return true;
    }
    const auto formerBytes = m_files.readFile(former, &error);
    if (!formerBytes || !m_files.writeAtomically(item.path, *formerBytes, &error))
        RIG_LOG("cannot put back %s: %s", item.path.c_str(), error.description.c_str());
    return false;
}

// ---- copies and moves ----

std::shared_ptr<PatchItem> CommonUtils::writeFilePatchWithPath(const std::string& source, const std::string& toPath,
                                                               const PatchWriteInfo& info, platform::Error* error)
{
    const std::string from = replaceAll(source, ':', '-');
    std::string target = replaceAll(toPath, ':', '-');
    const auto patch = getOKVPatchWithPath(absolutePath(from), error);
    if (!patch) return nullptr;
    const bool intoDevice = target.find(pathUnderRoot(kTempDevicePatch)) != std::string::npos ||
                            target.find(pathUnderRoot("Device")) != std::string::npos;
    if (intoDevice && publishedConnected() && !m_parser.checkPatchCompatible(*patch)) return nullptr;
    const std::string patchName(patch->patchName().c_str());
    if (info.copiedToFinder && !patchName.empty()) {
        if (!m_files.createDirectory(target, true, error)) return nullptr;
        // The patch name's "/" and the like are replaced as in the pool's copies, never refused.
        const std::string name = fileNameForPatchName(
            (info.index >= 0 ? std::to_string(info.index) + " - " : std::string()) + patchName, fileNameOf(from));
        if (!platform::SafeName::check(name)) return nullptr;
        target = join(target, name);
    }
    // A working folder under "Temp" (the pool's, the device's) is rebuilt at every start and the pool's
    // save flushes what it keeps: its copies need no flush of their own, a hundred of which held a drop
    // into the pool for most of a second.
    const std::string destination = absolutePath(target);
    const auto durability =
        isUnderFolder(destination, pathUnderRoot(kTemp)) ? platform::Durability::WorkingCopy : platform::Durability::Durable;
    const std::string copied = copyFileFromFilePath(absolutePath(from), destination, info.replace, durability, error);
    if (copied.empty() || !m_files.exists(copied)) return nullptr;
    return readFilePatchWithPath(copied);
}

void CommonUtils::readFilePatchesLater(std::vector<std::string> paths,
                                       std::function<void(std::vector<std::shared_ptr<PatchItem>>)> done)
{
    // Thousands of files dropped from a file manager are read here, never on the main thread. The busy
    // line names them from the drop on: their copies are counted only once all are read.
    ++m_poolReadsPending;
    m_poolFilesReading += paths.size();
    tell([files = m_poolFilesReading](CommonUtilsDelegate& delegate) { delegate.poolFilesReading(files); });
    m_poolQueue->async([this, alive = std::weak_ptr<bool>(m_alive), paths = std::move(paths),
                        done = std::move(done)]() mutable {
        const std::size_t count = paths.size();
        if (!alive.lock()) return;
        std::vector<std::shared_ptr<PatchItem>> items;
        for (const auto& path : paths)
            if (checkFilePatchWithfilePath(path))
                if (auto item = readFilePatchWithPath(path)) items.push_back(std::move(item));
        m_dispatch.main().async([this, alive = std::move(alive), items = std::move(items), done = std::move(done),
                                 count]() mutable {
            if (!alive.lock()) return;
            done(std::move(items));
            m_poolFilesReading -= count;
            tell([files = m_poolFilesReading](CommonUtilsDelegate& delegate) { delegate.poolFilesReading(files); });
            // The copies the read asked for are pool work by now: a step waiting for the end waits for them.
            --m_poolReadsPending;
            runAfterPoolWorkLater();
        });
    });
}

CommonUtils::CopiedPatch CommonUtils::copyOnePatch(const PatchCopy& copy)
{
    // As writeFilePatchWithPath, but the copy is not read back: its item and mark come from the source as
    // read for the copy, which holds the same bytes. Thousands of these go into the pool at a drop.
    CopiedPatch result;
    const std::string from = absolutePath(replaceAll(copy.source, ':', '-'));
    const std::string target = replaceAll(copy.toPath, ':', '-');
    const auto patch = getOKVPatchWithPath(from, &result.error);
    if (!patch) return result;
    const bool intoDevice = target.find(pathUnderRoot(kTempDevicePatch)) != std::string::npos ||
                            target.find(pathUnderRoot("Device")) != std::string::npos;
    bool connected = false;
    std::int32_t deviceID = 0;
    {
        std::lock_guard lock(m_publishedMutex);
        connected = m_published.isConnectDevice;
        deviceID = m_published.deviceID;
    }
    const bool incompatible = connected && !m_parser.checkPatchCompatible(*patch);
    if (intoDevice && incompatible) return result;
    const std::string destination = absolutePath(target);
    const auto durability =
        isUnderFolder(destination, pathUnderRoot(kTemp)) ? platform::Durability::WorkingCopy : platform::Durability::Durable;
    const std::string copied = copyFileFromFilePath(from, destination, false, durability, &result.error);
    if (copied.empty()) return result;
    result.item = patchItemFromPatch(*patch, copied);
    getEffectListWithPatch(*result.item);
    result.isIncompatible =
        incompatible && deviceID > 0 && isPathOfFile(copied) && std::string(patch->ckID().c_str()) == "PTCF";
    return result;
}

void CommonUtils::tellPoolCopiesProgress()
{
    const auto [made, asked] = m_copyLedger.progress();
    tell([made = made, asked = asked](CommonUtilsDelegate& delegate) { delegate.poolCopiesProgress(made, asked); });
}

void CommonUtils::writeFilePatchesLater(std::vector<PatchCopy> copies,
                                        std::function<void(std::vector<CopiedPatch>)> done)
{
    auto gathered = std::make_shared<std::vector<CopiedPatch>>(copies.size());
    writeFilePatchesLaterInParts(std::move(copies), [gathered, done = std::move(done)](auto results, bool last) {
        for (auto& [index, result] : results) (*gathered)[index] = std::move(result);
        if (last) done(std::move(*gathered));
    });
}

void CommonUtils::writeFilePatchesLaterInParts(std::vector<PatchCopy> copies, CopiesLanded landed)
{
    std::vector<PoolCopyLedger::Copy> asked;
    asked.reserve(copies.size());
    for (const auto& copy : copies) asked.emplace_back(absolutePath(copy.source), absolutePath(copy.toPath));
    const std::uint64_t number = m_copyLedger.open(asked);
    auto batch = std::make_shared<CopyBatch>();
    batch->results.resize(copies.size());
    batch->handedBack.assign(copies.size(), false);
    batch->copies = std::move(copies);
    batch->landed = std::move(landed);
    m_copyBatches.emplace(number, batch);
    tellPoolCopiesProgress();
    // A drop of many patches must not hold the main thread, nor must a step that meets none of its copies
    // wait for them (settlePoolWorkFor).
    runPoolWork([this, number, batch]() -> std::function<void()> {
        constexpr std::size_t kToldEvery = 64;
        for (std::size_t i = 0; i < batch->copies.size(); ++i) {
            // Withdrawn (and handed back by the withdrawal), or taken by a step that makes it itself.
            if (!m_copyLedger.begin(number, i)) continue;
            batch->results[i] = copyOnePatch(batch->copies[i]);
            m_copyLedger.made(number, i);
            if ((i + 1) % kToldEvery == 0) tellPoolCopiesProgress();
        }
        return [this, number, batch] {
            m_copyLedger.close(number);
            m_copyBatches.erase(number);
            tellPoolCopiesProgress();
            std::vector<std::pair<std::size_t, CopiedPatch>> rest;
            rest.reserve(batch->results.size());
            for (std::size_t i = 0; i < batch->results.size(); ++i)
                if (!batch->handedBack[i]) rest.emplace_back(i, std::move(batch->results[i]));
            batch->landed(std::move(rest), true);
        };
    });
}

void CommonUtils::landCopiesOf(const std::vector<std::string>& files) { landCopies(m_copyLedger.copiesOf(files)); }

void CommonUtils::landCopies(const std::vector<std::pair<std::uint64_t, std::size_t>>& copies)
{
    // The copies not begun are taken here; several (a step on many patches of a drop) are made side by
    // side off the main thread, which only waits for them, as for the copies already under way.
    struct Taken {
        CopyBatch* batch;
        std::uint64_t number;
        std::size_t index;
    };
    std::vector<Taken> taken;
    std::vector<std::pair<std::uint64_t, std::size_t>> underWay;
    for (const auto& [number, index] : copies) {
        const auto found = m_copyBatches.find(number);
        if (found == m_copyBatches.end() || found->second->handedBack[index]) continue;
        if (m_copyLedger.take(number, index)) taken.push_back({found->second.get(), number, index});
        else underWay.emplace_back(number, index);
    }
    const auto make = [this](const Taken& each) {
        each.batch->results[each.index] = copyOnePatch(each.batch->copies[each.index]);
        m_copyLedger.made(each.number, each.index);
    };
    if (taken.size() == 1) {
        make(taken.front());
    } else if (!taken.empty()) {
        // Threads of the step's own: the shared pool may be busy for seconds with work that has nothing
        // to do with the pool (an effect archive unpacked), which the main thread would then wait for.
        std::atomic<std::size_t> next{0};
        const std::size_t count = std::min<std::size_t>(kCopyMakers, taken.size());
        std::vector<std::jthread> makers;
        makers.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            makers.emplace_back([&] {
                for (std::size_t at = next++; at < taken.size(); at = next++) make(taken[at]);
            });
    }
    std::map<std::uint64_t, std::vector<std::pair<std::size_t, CopiedPatch>>> early;
    const auto handBack = [&](std::uint64_t number, std::size_t index) {
        CopyBatch& batch = *m_copyBatches.at(number);
        m_copyLedger.landed(number, index);
        batch.handedBack[index] = true;
        early[number].emplace_back(index, std::move(batch.results[index]));
    };
    for (const Taken& each : taken) handBack(each.number, each.index);
    for (const auto& [number, index] : underWay) {
        // Under way on the pool's queue: waited for alone (made meanwhile when the queue had not begun it).
        if (m_copyLedger.takeOrWait(number, index)) {
            CopyBatch& batch = *m_copyBatches.at(number);
            batch.results[index] = copyOnePatch(batch.copies[index]);
            m_copyLedger.made(number, index);
        }
        handBack(number, index);
    }
    if (early.empty()) return;
    tellPoolCopiesProgress();
    for (auto& [number, results] : early)
        if (const auto found = m_copyBatches.find(number); found != m_copyBatches.end())
            found->second->landed(std::move(results), false);
}

void CommonUtils::runPoolWork(std::function<std::function<void()>()> work)
{
    ++m_poolWorkPending;
    m_poolQueue->async([this, alive = std::weak_ptr<bool>(m_alive), work = std::move(work)] {
        if (!alive.lock()) return;
        std::function<void()> landing = work();
        {
            std::lock_guard lock(m_landingMutex);
            m_landings.push_back(std::move(landing));
        }
        m_landingReady.notify_all();
        m_dispatch.main().async([this, alive] {
            if (alive.lock()) landPoolWork();
        });
    });
}

void CommonUtils::landPoolWork()
{
    if (m_landing) return;
    m_landing = true;
    for (;;) {
        std::function<void()> next;
        {
            std::lock_guard lock(m_landingMutex);
            if (m_landings.empty()) break;
            next = std::move(m_landings.front());
            m_landings.pop_front();
        }
        --m_poolWorkPending;
        if (next) next();
    }
    m_landing = false;
    runAfterPoolWorkLater();
}

void CommonUtils::afterPoolWork(std::function<void()> then)
{
    if (!isPoolWorkPending() && m_afterPoolWork.empty()) return then();
    m_afterPoolWork.push_back(std::move(then));
    runAfterPoolWorkLater();
}

void CommonUtils::runAfterPoolWorkLater()
{
    if (m_afterPoolWork.empty() || isPoolWorkPending() || m_afterPoolWorkPosted) return;
    m_afterPoolWorkPosted = true;
    m_dispatch.main().async([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.lock()) return;
        m_afterPoolWorkPosted = false;
        // Work asked since (by a landing's own steps) is waited for too.
        if (isPoolWorkPending()) return;
        auto waiting = std::move(m_afterPoolWork);
        m_afterPoolWork.clear();
        for (auto& then : waiting) then();
    });
}

void CommonUtils::settlePoolWorkFor(const std::vector<std::string>& paths)
{
    if (m_landing) return;
    landPoolWork();
    if (m_poolWorkPending.load() == 0) return;
    // A patch moved by a step still on the queue names the file where it was until its move lands, and its
    // group's folder is not yet what the tree shows: a step on any file or folder lands those moves first.
    if (!paths.empty() && m_poolMoves.waiting()) settlePoolMoves();
    if (m_poolWorkPending.load() == 0) return;
    std::vector<std::string> files;
    std::vector<std::string> folders;
    const fs::path local = fs::path(pathUnderRoot(kTempLocal)).lexically_normal();
    for (const auto& path : paths) {
        if (path.empty()) continue;
        std::string absolute = absolutePath(path);
        // Only the pool's own folder holds group folders, whose names may end as a patch file's do: a
        // path there is looked at, the thousands of a group's files are not.
        const bool file = isPathOfFile(absolute) && (fs::path(absolute).lexically_normal().parent_path() != local ||
                                                     m_files.itemKind(absolute) != platform::ItemKind::Folder);
        (file ? files : folders).push_back(std::move(absolute));
    }
    landCopiesOf(files);
    if (const auto met = m_copyLedger.lastMet(files, folders, pathUnderRoot(kTempLocal))) settlePoolWorkThrough(*met);
}

std::vector<bool> CommonUtils::withdrawPoolCopies(const std::vector<PatchCopy>& copies, bool handOver)
{
    std::vector<PoolCopyLedger::Copy> asked;
    asked.reserve(copies.size());
    for (const auto& copy : copies) asked.emplace_back(absolutePath(copy.source), absolutePath(copy.toPath));
    // What is withdrawn is handed back at once, as not wanted: its node leaves the pool before the caller
    // goes on, and names no file it could act on (the file it would have been copied from is the user's).
    // Short enough to be copied without an allocation: an undo of a drop of thousands hands back as many.
    const platform::Error notWanted = platform::Error::make("files", ECANCELED, "not wanted");
    std::map<std::uint64_t, std::vector<std::pair<std::size_t, CopiedPatch>>> withdrawn;
    const PoolCopyLedger::Withdrawal withdrawal = m_copyLedger.withdraw(asked, handOver);
    std::vector<bool> taken(copies.size(), false);
    for (std::size_t i = 0; i < withdrawal.withdrawn.size(); ++i) {
        const auto& [number, index] = withdrawal.withdrawn[i];
        const auto found = m_copyBatches.find(number);
        if (found == m_copyBatches.end() || found->second->handedBack[index]) continue;
        found->second->handedBack[index] = true;
        taken[withdrawal.asked[i]] = true;
        CopiedPatch result;
        result.error = notWanted;
        result.handedOver = handOver;
        withdrawn[number].emplace_back(index, std::move(result));
    }
    if (!withdrawn.empty()) {
        tellPoolCopiesProgress();
        for (auto& [number, results] : withdrawn)
            if (const auto found = m_copyBatches.find(number); found != m_copyBatches.end())
                found->second->landed(std::move(results), false);
    }
    // Those too late to withdraw land now, alone, so the caller finds them in their nodes.
    landCopies(withdrawal.underWay);
    return taken;
}

void CommonUtils::settlePoolWorkThrough(std::uint64_t batch)
{
    // The work is landed in the order asked: the batch's landing comes after all asked before it.
    while (!m_landing && m_copyBatches.count(batch) > 0) {
        {
            std::unique_lock lock(m_landingMutex);
            m_landingReady.wait(lock, [this] { return !m_landings.empty(); });
        }
        landPoolWork();
    }
}

void CommonUtils::settlePoolWork()
{
    // A landing may ask for more work (a drop read, then copied): wait until nothing asked is left. Only
    // for the work asked, not for whatever else the queue holds after it (a pass over the whole pool's
    // warnings queued behind a drop's copies takes longer than the copies' end).
    while (!m_landing && m_poolWorkPending.load() > 0) {
        {
            std::unique_lock lock(m_landingMutex);
            m_landingReady.wait(lock, [this] { return !m_landings.empty(); });
        }
        landPoolWork();
    }
}

void CommonUtils::copyGroup(const DirectoryObject& group, const std::string& toPath)
{
    const std::string folderName = groupFolderName(group.name.value_or(""));
    if (!platform::SafeName::check(folderName)) return;
    std::string folder = join(toPath, folderName);
    if (m_files.exists(folder)) folder = createNewDirectoryPath(folder);
    platform::Error error;
    if (!m_files.createDirectory(folder, true, &error)) {
        RIG_LOG("cannot create %s: %s", folder.c_str(), error.description.c_str());
        return;
    }
    const bool deviceFolder = folder.find(pathUnderRoot("Device")) != std::string::npos;
    for (std::size_t i = 0; i < group.childDirectories.size(); ++i) {
        const PatchItem* item = group.childDirectories[i]->patchItem();
        if (item == nullptr || !m_files.exists(absolutePath(item->path))) continue;
        if (deviceFolder) {
            const auto patch = getOKVPatchWithPath(absolutePath(item->path));
            if (!patch || !publishedConnected() || !m_parser.checkPatchCompatible(*patch)) continue;
        }
        writeFilePatchWithPath(item->path, folder, {false, true, static_cast<std::int64_t>(i)});
    }
}

std::string CommonUtils::movePatchItem(PatchItem& item, const std::string& groupName)
{
    return movePatchItems({&item}, groupName).front();
}

std::vector<std::string> CommonUtils::movePatchItems(const std::vector<PatchItem*>& items, const std::string& groupName)
{
    std::vector<std::string> paths;
    paths.reserve(items.size());
    for (const PatchItem* item : items) paths.push_back(item != nullptr ? item->path : std::string());
    return movePatchFiles(paths, groupName);
}

std::vector<std::string> CommonUtils::movePatchFiles(const std::vector<std::string>& paths, const std::string& groupName)
{
    std::vector<std::string> moved(paths.size());
    const std::string folderName = groupFolderName(groupName);
    if (!groupName.empty() && !platform::SafeName::check(folderName)) return moved;
    const std::string local = pathUnderRoot(kTempLocal);
    const std::string folder = groupName.empty() ? local : join(local, folderName);
    if (!m_files.isDirectory(folder)) return moved;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (isBlank(paths[i])) continue;
        const std::string from = absolutePath(paths[i]);
        // The pool moves only what its own working copy holds.
        if (!isUnderFolder(from, local)) continue;
        std::string target = join(folder, fileNameOf(from));
        if (target == from) {
            if (m_files.exists(from)) moved[i] = target;
            continue;
        }
        // The move itself tells a name taken (it never replaces a file) and a file gone: thousands of a
        // drop's patches moved cost one step on the disk each, not a look-up before it besides.
        platform::Error error;
        bool done = m_files.moveItem(from, target, &error);
        if (!done && error.code == EEXIST) {
            target = createNewNameForPath(target);
            done = m_files.moveItem(from, target, &error);
        }
        if (!done) {
            if (error.code != ENOENT) RIG_LOG("cannot move %s: %s", from.c_str(), error.description.c_str());
            continue;
        }
        moved[i] = std::move(target);
    }
    return moved;
}

void CommonUtils::movePatchFilesLater(std::vector<std::string> paths, std::string groupName,
                                      std::function<void(std::vector<std::string>)> done)
{
    m_poolMoves.asked(paths);
    runPoolWork([this, paths = std::move(paths), groupName = std::move(groupName),
                 done = std::move(done)]() mutable -> std::function<void()> {
        auto moved = std::make_shared<std::vector<std::string>>(movePatchFiles(paths, groupName));
        return [this, moved, paths = std::move(paths), done = std::move(done)] {
            const auto due = m_poolMoves.landed(paths);
            if (done) done(std::move(*moved));
            for (const auto& step : due) step();
        };
    });
}

void CommonUtils::settlePoolMovesOf(const std::vector<std::string>& paths)
{
    if (m_poolMoves.moves(paths)) settlePoolMoves();
}

void CommonUtils::whenPoolMovesLanded(std::function<void()> step)
{
    m_poolMoves.whenLanded(std::move(step));
}

void CommonUtils::settlePoolMoves()
{
    // The moves are landed in the order asked, with everything asked before them.
    while (!m_landing && m_poolMoves.waiting()) {
        {
            std::unique_lock lock(m_landingMutex);
            m_landingReady.wait(lock, [this] { return !m_landings.empty(); });
        }
        landPoolWork();
    }
}

std::int32_t CommonUtils::renameGroup(DirectoryObject& group, const std::string& newName)
{
    const std::string newFolder = groupFolderName(newName);
    if (newName.find_first_not_of(":*?<>|\\/\"") == std::string::npos || !platform::SafeName::check(newFolder))
        return 2;
    const std::string oldFolder = groupFolderName(group.name.value_or(""));
    const std::string from = join(pathUnderRoot(kTempLocal), oldFolder);
    const std::string to = join(pathUnderRoot(kTempLocal), newFolder);
    if (m_files.exists(to)) return 1;
    platform::Error error;
    if (!platform::SafeName::check(oldFolder) || !m_files.moveItem(from, to, &error)) {
        RIG_LOG("cannot rename group %s: %s", oldFolder.c_str(), error.description.c_str());
        return 2;
    }
    // Only what lies in the group's own folder moves with it: a folder above it may bear the same name.
    const auto rename = [&](std::string& path) {
        const std::string absolute = absolutePath(path);
        if (!isUnderFolder(absolute, from)) return;
        path = (fs::path(to) / fs::path(absolute).lexically_normal().lexically_relative(fs::path(from).lexically_normal()))
                   .string();
    };
    for (auto& child : group.childDirectories) {
        if (child->path) rename(*child->path);
        if (PatchItem* item = child->patchItem()) rename(item->path);
    }
    group.name = newName;
    group.path = to;
    return 0;
}
