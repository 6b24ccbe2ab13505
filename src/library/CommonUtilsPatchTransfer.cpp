#include <algorithm>
#include <filesystem>
#include <optional>

#include "common/Log.h"
#include "device/sequencer/ParserDataController.h"
#include "device/transport/AllPatch.h"
#include "library/CommonUtils.h"
#include "library/models/PatchItem.h"
#include "platform/bundle/Configuration.h"
#include "platform/files/FileManager.h"

namespace fs = std::filesystem;

namespace {

// The items are the interface's, read and changed on its thread while a flow runs on ours: a flow
// takes their paths when it is asked for and never touches the items themselves.
std::vector<std::optional<std::string>> pathsOf(const std::vector<std::shared_ptr<PatchItem>>& items)
{
    std::vector<std::optional<std::string>> paths;
    for (const auto& item : items) paths.push_back(item ? std::optional<std::string>(item->path) : std::nullopt);
    return paths;
}

}  // namespace

// ---- state shared with the reset ----

void CommonUtils::publishPatchList()
{
    std::lock_guard lock(m_publishedMutex);
    m_publishedPatchList = m_allPatchDataList;
}

std::vector<PatchObject> CommonUtils::allPatchDataList()
{
    std::lock_guard lock(m_publishedMutex);
    return m_publishedPatchList;
}

void CommonUtils::clearPatchTransfer()
{
    m_selectPatchBlock = nullptr;
    m_writeOnePatchBlock = nullptr;
    m_writeGroupPatchsBlock = nullptr;
    m_writeAllPatchBlock = nullptr;
    m_allPatchDataList.clear();
    m_deviceSlotBytes.clear();
    m_unitHolds.clear();
    m_slotWrites.clear();
    m_unitCopies.clear();
    publishPatchList();
}

std::uint64_t CommonUtils::askSlotWrites(const std::vector<std::size_t>& positions, const std::vector<std::string>& paths)
{
    const std::uint64_t write = ++m_slotWritesAsked;
    for (std::size_t i = 0; i < positions.size() && i < paths.size(); ++i) {
        std::string label;
        if (positions[i] < m_allPatchDataList.size()) {
            const PatchObject& slot = m_allPatchDataList[positions[i]];
            label = m_parser.getOffsetNameOfPatchWithNumGroup(slot.groupNum, slot.bankNum, slot.patchNum);
        }
        // A unit whose layout names no slot still has its slots told, by their row in the list.
        if (label.empty()) label = std::to_string(positions[i] + 1);
        m_slotWrites.push_back(SlotWrite{write, positions[i], paths[i], std::nullopt, std::move(label)});
    }
    return write;
}

std::vector<std::string> CommonUtils::slotsNotTaken() const
{
    std::vector<std::string> labels;
    for (const SlotWrite& asked : m_slotWrites)
        if (std::find(labels.begin(), labels.end(), asked.label) == labels.end())
            labels.push_back(asked.label);
    return labels;
}

void CommonUtils::endSlotWrites(std::uint64_t write)
{
    std::erase_if(m_slotWrites, [write](const SlotWrite& asked) { return asked.write == write; });
}

void CommonUtils::takeSlotWriteBytes(std::uint64_t write)
{
    for (SlotWrite& asked : m_slotWrites)
        if (asked.write == write) asked.bytes = m_files.readFile(asked.path);
}

void CommonUtils::landSlotWrite(const SlotWrite& landed)
{
    if (landed.position >= m_allPatchDataList.size()) return;
    m_allPatchDataList[landed.position].path = landed.path;
    if (landed.position < m_unitHolds.size()) m_unitHolds[landed.position] = landed.path;
    m_deviceSlotBytes.resize(m_allPatchDataList.size());
    m_deviceSlotBytes[landed.position] = landed.bytes ? landed.bytes : m_files.readFile(landed.path);
    publishPatchList();
}

void CommonUtils::endSlotWritesLanded(std::uint64_t write)
{
    // A slot the unit took was recorded as it took it, and a change it reported since stands; only a slot
    // whose taking was not told is recorded now.
    for (const SlotWrite& asked : m_slotWrites)
        if (asked.write == write) landSlotWrite(asked);
    endSlotWrites(write);
}

bool CommonUtils::validIndex(std::int64_t index) const
{
    if (index >= 0 && static_cast<std::size_t>(index) < m_allPatchDataList.size()) return true;
    RIG_LOG("dropped patch position %lld of %zu", static_cast<long long>(index), m_allPatchDataList.size());
    return false;
}

// ---- requests ----

void CommonUtils::selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index)
{
    const auto watchdog = static_cast<float>(m_configuration.floating(platform::Configuration::kCommand_Time_Out));
    // Taken here, on the caller's thread, as the writes do: the interface may rename the item on its own
    // thread while the selection waits in the queue.
    const std::string path = item ? absolutePath(item->path) : std::string();
    addRequest(
        RequestKind::SelectPatch,
        [this, item, index, path] {
            m_selectPatchBlock = [this, item](std::int32_t state) {
                tell([item, state](CommonUtilsDelegate& d) { d.selectPatchItem(item, state); });
                finishRequest(RequestKind::SelectPatch);
            };
            if (!item || !validIndex(index)) {
                const auto block = std::exchange(m_selectPatchBlock, nullptr);
                post([block] { block(0); });
                return;
            }
            PatchObject& entry = m_allPatchDataList[static_cast<std::size_t>(index)];
            entry.path = path;
            publishPatchList();
            m_parser.selectPatch(entry);
        },
        watchdog, false);
}

void CommonUtils::writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index)
{
    writeToDeviceWithPatchGroup({item}, {index});
}

void CommonUtils::writeToDeviceWithPatchGroup(const std::vector<std::shared_ptr<PatchItem>>& items,
                                              const std::vector<std::int64_t>& indexes)
{
    const bool one = items.size() == 1 && indexes.size() == 1;
    const RequestKind kind = one ? RequestKind::WriteOnePatch : RequestKind::WriteGroupPatchs;
    const float timeOut = static_cast<float>(m_configuration.floating(platform::Configuration::kCommand_Time_Out));
    const float watchdog = one ? 3 * timeOut : 2 * timeOut * static_cast<float>(std::min(items.size(), indexes.size()));
    // Made absolute here, on the caller's thread, for the caller to compare with the slots' paths.
    for (const auto& item : items)
        if (item) item->path = absolutePath(item->path);
    const auto paths = pathsOf(items);
    // Asked from now on: a change the unit reports for one of these slots before our patch lands there
    // was made to the patch the unit held, which our write then replaces.
    auto write = std::make_shared<std::uint64_t>(0);
    post([this, write, paths, indexes] {
        std::vector<std::size_t> positions;
        std::vector<std::string> asked;
        for (std::size_t i = 0; i < paths.size() && i < indexes.size(); ++i) {
            if (!paths[i] || indexes[i] < 0 || static_cast<std::size_t>(indexes[i]) >= m_allPatchDataList.size()) continue;
            positions.push_back(static_cast<std::size_t>(indexes[i]));
            asked.push_back(*paths[i]);
        }
        if (m_isConnectDevice) *write = askSlotWrites(positions, asked);
    });
    addRequest(kind, [this, paths, indexes, kind, one, write] {
        m_runningSlotWrite = *write;
        std::vector<PatchObject> written;
        std::vector<std::size_t> positions;
        for (std::size_t i = 0; i < paths.size() && i < indexes.size(); ++i) {
            if (!paths[i] || !validIndex(indexes[i])) continue;
            const auto position = static_cast<std::size_t>(indexes[i]);
            PatchObject copy = m_allPatchDataList[position].copy();
            copy.path = *paths[i];
            written.push_back(copy);
            positions.push_back(position);
        }
        if (written.empty()) {
            endSlotWrites(*write);
            finishRequest(kind);
            return;
        }
        takeSlotWriteBytes(*write);
        PatchResultBlock& stored = one ? m_writeOnePatchBlock : m_writeGroupPatchsBlock;
        stored = [this, written, positions, kind, write](std::int32_t state) mutable {
            if (state == 1) {
                endSlotWritesLanded(*write);
                finishRequest(kind);
                return;
            }
            endSlotWrites(*write);
            for (std::size_t i = 0; i < written.size(); ++i) {
                if (positions[i] >= m_allPatchDataList.size()) continue;
                auto old = recoverFailedWrite(written[i], positions[i]);
                tell([state, old, position = positions[i]](CommonUtilsDelegate& d) {
                    d.writePatchItemWithFailedState(state, old, static_cast<std::uint32_t>(position));
                });
            }
            publishPatchList();
            finishRequest(kind);
        };
        if (one)
            m_parser.writeOnePatchDataDumpWithAllPatch(written.front());
        else
            m_parser.writeGroupPatchDataDumpWithAllPatch(written);
    }, watchdog);
}

std::shared_ptr<PatchItem> CommonUtils::recoverFailedWrite(PatchObject& written, std::size_t index)
{
    PatchObject& entry = m_allPatchDataList[index];
    // The edit that did not reach the device stays reachable as a working copy of its own.
    m_files.createDirectory(pathUnderRoot(kTempDevicePatch), true);
    const std::string kept = copyFileFromFilePath(
        written.path, pathUnderRoot(kTempDevicePatch) + "/" + fs::path(written.path).filename().string(), false);
    if (!kept.empty()) written.path = kept;
    // A slot whose file was rewritten in place before the write gets back what the device still holds.
    if (index < m_deviceSlotBytes.size() && m_deviceSlotBytes[index] && !entry.path.empty() &&
        m_files.readFile(entry.path) != m_deviceSlotBytes[index]) {
        platform::Error error;
        if (!m_files.writeAtomically(entry.path, *m_deviceSlotBytes[index], &error))
            RIG_LOG("cannot put back slot %zu: %s", index, error.description.c_str());
    }
    return getPatchItemWithPath(entry.path);
}

void CommonUtils::writeToDeviceWithPatchList(const std::vector<std::shared_ptr<PatchItem>>& items)
{
    const float timeOut = static_cast<float>(m_configuration.floating(platform::Configuration::kCommand_Time_Out));
    post([this, paths = pathsOf(items), timeOut] {
        if (!m_isLoadedPatchList) return;
        std::vector<std::size_t> positions;
        std::vector<std::string> asked;
        for (std::size_t i = 0; i < m_allPatchDataList.size(); ++i) {
            positions.push_back(i);
            asked.push_back(i < paths.size() && paths[i] ? absolutePath(*paths[i]) : absolutePath(m_allPatchDataList[i].path));
        }
        const std::uint64_t write = m_isConnectDevice ? askSlotWrites(positions, asked) : 0;
        addRequest(RequestKind::WriteAllPatch, [this, paths, write] {
            m_runningSlotWrite = write;
            std::vector<PatchObject> list = m_allPatchDataList;
            for (std::size_t i = 0; i < list.size() && i < paths.size(); ++i)
                if (paths[i]) list[i].path = absolutePath(*paths[i]);
            takeSlotWriteBytes(write);
            m_writeAllPatchBlock = [this, write](std::int32_t state) {
                // Each slot took its new file as the unit took it.
                if (state == 1) endSlotWritesLanded(write);
                else endSlotWrites(write);
                tell([state](CommonUtilsDelegate& d) { d.writePatchListWithState(state); });
                finishRequest(RequestKind::WriteAllPatch);
            };
            m_parser.writeAllPatchDataDumpWithAllPatch(AllPatch::initWithPatchList(list));
        }, timeOut * static_cast<float>(m_allPatchDataList.size()) / 5.0F);
    });
}

// ---- results ----

// The end every patch request shares: a lost or vanished device resets the queue, any other state goes
// to the request's own result block. A result of a request that is no longer running changes nothing.
void CommonUtils::finishPatchRequest(std::int32_t state, RequestKind kind, PatchResultBlock CommonUtils::*stored)
{
    post([this, state, kind, stored] {
        if (!isRunning(kind)) return;
        const PatchResultBlock block = std::exchange(this->*stored, nullptr);
        if (state == -1 || state == -3) {
            // The unit stopped answering or failed in the middle: the slots it was still to take may hold
            // the old patch, the new one or neither, whatever the list showed.
            const std::vector<std::string> unsure = kind == RequestKind::SelectPatch ? std::vector<std::string>() : slotsNotTaken();
            reset();
            if (unsure.empty()) tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
            else tell([unsure](CommonUtilsDelegate& d) { d.deviceLostDuringWrite(unsure); });
            // The reset dropped the closing eject, and the unit is let go already: the quit ends now
            // rather than at its watchdog.
            if (m_isQuitting) forceCloseOnState();
        } else if (state == -2) {
            reset();
            forceEject();
            tell([](CommonUtilsDelegate& d) { d.deviceDisonnect(); });
        } else if (block) {
            block(state);
        } else {
            finishRequest(kind);
        }
        resetTimer();
    });
}

void CommonUtils::selectPatchWithState(std::int32_t state)
{
    finishPatchRequest(state, RequestKind::SelectPatch, &CommonUtils::m_selectPatchBlock);
}

void CommonUtils::writeOnePatchDataDumpWithState(std::int32_t state)
{
    finishPatchRequest(state, RequestKind::WriteOnePatch, &CommonUtils::m_writeOnePatchBlock);
}

void CommonUtils::writeGroupPatchDataDumpWithState(std::int32_t state)
{
    finishPatchRequest(state, RequestKind::WriteGroupPatchs, &CommonUtils::m_writeGroupPatchsBlock);
}

void CommonUtils::writeAllPatchDataDumpWithState(std::int32_t state)
{
    finishPatchRequest(state, RequestKind::WriteAllPatch, &CommonUtils::m_writeAllPatchBlock);
}

void CommonUtils::patchTransferProgress(std::int32_t done, std::int32_t total)
{
    post([this, done, total] {
        if (!isRunning(RequestKind::GetQFXList) && !isRunning(RequestKind::WriteAllPatch) &&
            !isRunning(RequestKind::WriteGroupPatchs))
            return;
        // One report per twentieth of the transfer (each patch of a short one) and always the last, so a
        // long dump does not flood the interface's thread.
        constexpr std::int64_t kSteps = 20;
        if (total <= 0 || done <= 0 || done > total) return;
        if (done != total && done * kSteps / total == (done - 1) * kSteps / total) return;
        tell([done, total](CommonUtilsDelegate& d) { d.deviceWorkProgress(done, total); });
    });
}

// The dump is the last step of the connect read: its end ends the read.
void CommonUtils::endConnectRead()
{
    m_isGettingDataDevice = false;
    if (isRunning(RequestKind::GetQFXList)) finishRequest(RequestKind::GetQFXList);
}

void CommonUtils::finishDump(std::int32_t failedState)
{
    tell([failedState](CommonUtilsDelegate& d) {
        d.deviceLetGo();
        d.getPatchListWithFailedState(failedState);
    });
    endConnectRead();
    forceEject();
}

void CommonUtils::getAllPatchDataDumpWithState(std::int32_t state,
                                               const std::optional<std::vector<PatchObject>>& allPatchData)
{
    post([this, state, allPatchData] {
        // Only the connect read asks for the dump: a result after the reset that dropped it (sleep, an eject,
        // a lost unit) changes nothing, whether or not another request runs by now.
        if (!isRunning(RequestKind::GetQFXList) || m_dumpAskedIn != m_generation) return;
        m_dumpAskedIn.reset();
        if (state == -4 || state == -1) {
            m_isGettingDataDevice = false;
            reset();
            tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
            return;
        }
        if (state == -2) {
            reset();
            forceEject();
            tell([](CommonUtilsDelegate& d) { d.deviceDisonnect(); });
            return;
        }
        if (state != 1 || !allPatchData || allPatchData->empty()) {
            finishDump(state == 1 ? 0 : state);
            return;
        }
        const std::string folder = pathUnderRoot(kTempDevicePatch);
        removeFileWithPath(folder);
        platform::Error error;
        if (!m_files.createDirectory(folder, true, &error)) {
            RIG_LOG("cannot make the device patch folder: %s", error.description.c_str());
            finishDump(0);
            return;
        }
        CommonUtilsDelegate::Items items;
        std::vector<std::string> offsetNames;
        std::vector<std::optional<Bytes>> slotBytes;
        std::vector<PatchObject> list = *allPatchData;
        for (PatchObject& patch : list) {
            if (!m_isConnectDevice) {
                forceEject();
                return;
            }
            auto item = std::make_shared<PatchItem>();
            std::optional<Bytes> bytes;
            if (!patch.path.empty()) {
                bytes = m_files.readFile(absolutePath(patch.path));
                // Each row gets a file of its own: the device layer rewrites its slot file whenever the
                // unit reports a change there, and after a reorder that slot's file would be another
                // row's patch.
                const std::string own = (fs::path(folder) / fs::path(patch.path).filename()).string();
                if (bytes && m_files.writeAtomically(own, *bytes, &error, platform::Durability::WorkingCopy))
                    patch.path = own;
                else if (bytes)
                    RIG_LOG("cannot make the working copy of slot %s: %s", patch.path.c_str(), error.description.c_str());
                // An unreadable slot keeps its place with an empty, marked item, so every later slot
                // keeps the position that writes address it by.
                if (auto read = getPatchItemWithPath(absolutePath(patch.path)))
                    item = read;
                else
                    item->isWarning = true;
            }
            getEffectListWithPatch(*item);
            offsetNames.push_back(m_parser.getOffsetNameOfPatchWithNumGroup(patch.groupNum, patch.bankNum, patch.patchNum));
            slotBytes.push_back(std::move(bytes));
            items.push_back(std::move(item));
        }
        m_allPatchDataList = std::move(list);
        m_deviceSlotBytes = std::move(slotBytes);
        m_unitHolds.clear();
        for (const PatchObject& entry : m_allPatchDataList) m_unitHolds.push_back(absolutePath(entry.path));
        m_unitCopies.clear();
        m_isLoadedPatchList = true;
        publishPatchList();
        tell([items, offsetNames](CommonUtilsDelegate& d) { d.patchListFromDevice(items, offsetNames); });
        endConnectRead();
    });
}

void CommonUtils::patchWrittenToSlot(const PatchObject& slot)
{
    post([this, slot] {
        for (std::size_t i = 0; i < m_allPatchDataList.size(); ++i) {
            const PatchObject& entry = m_allPatchDataList[i];
            if (entry.groupNum != slot.groupNum || entry.bankNum != slot.bankNum || entry.patchNum != slot.patchNum)
                continue;
            const auto asked = std::find_if(m_slotWrites.begin(), m_slotWrites.end(), [&](const SlotWrite& write) {
                return write.write == m_runningSlotWrite && write.position == i;
            });
            if (asked == m_slotWrites.end()) return;
            landSlotWrite(*asked);
            m_slotWrites.erase(asked);
            return;
        }
    });
}

std::string CommonUtils::unitCopyOf(const PatchObject& patch, std::size_t position, const std::string& held)
{
    const std::string folder = pathUnderRoot(kTempDevicePatch);
    m_files.createDirectory(folder, true);
    // The slot's copy of the unit's last change is replaced whole while only this slot can hold it: the
    // unit still holds it there, no write of ours could have moved it elsewhere, and no copy into the pool
    // reads it.
    const auto previous = m_unitCopies.find(position);
    if (previous != m_unitCopies.end() && previous->second == held && m_slotWrites.empty() &&
        !m_copyLedger.lastMet({held}, {}, pathUnderRoot(kTempLocal))) {
        platform::Error error;
        if (const auto bytes = m_files.readFile(absolutePath(patch.path));
            bytes && m_files.writeAtomically(held, *bytes, &error, platform::Durability::WorkingCopy))
            return held;
        RIG_LOG("cannot replace the working copy %s: %s", held.c_str(), error.description.c_str());
    }
    // Otherwise a copy of its own, never over another file: the slot's former copy may have moved to
    // another row with its patch, and the rows the undo keeps name theirs too.
    const std::string copy =
        copyFileFromFilePath(patch.path, folder + "/" + fs::path(patch.path).filename().string(), false);
    if (!copy.empty()) m_unitCopies[position] = copy;
    return copy;
}

void CommonUtils::notifyDataPatchChange(const PatchObject& patch)
{
    post([this, patch] {
        auto item = getPatchItemWithPath(patch.path);
        std::optional<std::size_t> position;
        for (std::size_t i = 0; i < m_allPatchDataList.size() && !position; ++i) {
            const PatchObject& entry = m_allPatchDataList[i];
            if (entry.groupNum == patch.groupNum && entry.bankNum == patch.bankNum && entry.patchNum == patch.patchNum)
                position = i;
        }
        // The unit changed what it held in the slot then, which is our patch only once the unit took it.
        // A write of ours on its way to the slot never outranks the change, even one carrying the very patch
        // the unit changed: that copy is older than the change. The list merges the two, the user's texts
        // over the unit's, and writes the patch again.
        UnitPatchChange origin;
        if (position) {
            if (*position < m_unitHolds.size()) origin.heldPath = m_unitHolds[*position];
            origin.overwritten = std::any_of(m_slotWrites.begin(), m_slotWrites.end(),
                                             [&](const SlotWrite& asked) { return asked.position == *position; });
            if (*position < m_deviceSlotBytes.size() && m_deviceSlotBytes[*position])
                if (const auto held = OKVPatch::initWithData(*m_deviceSlotBytes[*position]))
                    if (const auto texts = patchItemFromPatch(*held, origin.heldPath)) {
                        origin.heldName = texts->patchName;
                        origin.heldComment = texts->patchComment;
                    }
        }
        std::string copy;
        if (item && m_isConnectDevice)
            copy = position ? unitCopyOf(patch, *position, origin.heldPath)
                            : copyFileFromFilePath(patch.path,
                                                   pathUnderRoot(kTempDevicePatch) + "/" +
                                                       fs::path(patch.path).filename().string(),
                                                   false);
        if (position) {
            PatchObject& entry = m_allPatchDataList[*position];
            entry = patch;
            if (!copy.empty()) entry.path = copy;
            if (*position < m_deviceSlotBytes.size()) m_deviceSlotBytes[*position] = m_files.readFile(absolutePath(entry.path));
            if (*position < m_unitHolds.size()) m_unitHolds[*position] = absolutePath(entry.path);
            publishPatchList();
        }
        if (!item || !m_isConnectDevice) return;
        const std::string label = m_parser.getOffsetNameOfPatchWithNumGroup(patch.groupNum, patch.bankNum, patch.patchNum);
        if (!copy.empty()) item->path = copy;
        getEffectListWithPatch(*item);
        updatePatchWarningWithPatchItem(*item);
        tell([item, label, origin](CommonUtilsDelegate& d) { d.updatePatchItemFromDevice(item, label, origin); });
    });
}
