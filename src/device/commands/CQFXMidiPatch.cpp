// The patch chains of the command layer: dump every patch into files, write one, a group or all
// patches, and select a patch through the edit buffer.
#include <algorithm>
#include <cstdio>

#include "common/Log.h"
#include "device/commands/CQFXMidi.h"
#include "device/commands/QFXMidiMessages.h"
#include "platform/files/LocalFileManager.h"

namespace {

// A patch file's bytes; empty when it cannot be read (the write then carries a zeroed buffer).
Bytes readPatchFile(const std::string& path)
{
    platform::LocalFileManager files;
    return files.readFile(path).value_or(Bytes{});
}

bool fits(const Bytes& data, std::int64_t maxSize)
{
    return static_cast<std::int64_t>(data.size()) <= maxSize;
}

// Every slot of a layout can be named on the wire (a layout without slots names none).
bool layoutFits(std::int32_t groups, std::int32_t banks, std::int32_t patchs)
{
    return groups <= 0 || banks <= 0 || patchs <= 0 || QFXMidiMessages::slotFits(groups - 1, banks - 1, patchs - 1);
}

}  // namespace

std::int32_t CQFXMidi::refusedState(PatchKind kind)
{
    switch (kind) {
    case PatchKind::Dump:
    case PatchKind::Select: return 0;
    default: return -1;
    }
}

std::int32_t CQFXMidi::deviceErrorState(PatchKind kind)
{
    switch (kind) {
    case PatchKind::Dump:
    case PatchKind::Select: return -1;
    default: return -3;
    }
}

void CQFXMidi::finishPatch(const Op& op, const Job& job, std::int32_t state)
{
    endOperation(op);
    if (state != 1 && m_audioDisabled.exchange(false)) sendEnableAudioWithoutWaiting();
    if (job->kind == PatchKind::Dump) {
        reportDumpOnceStored(op, job, state);
        return;
    }
    const auto report = [job, state](CQFXMidiDelegate& listener) {
        switch (job->kind) {
        case PatchKind::Dump: break;
        case PatchKind::WriteOne: listener.writeOnePatchCallbackWithState(state); break;
        case PatchKind::WriteAll: listener.writeAllPatchCallbackWithState(state); break;
        case PatchKind::WriteGroup: listener.writeGroupPatchCallbackWithState(state); break;
        case PatchKind::Select: listener.editBufferDumpCallbackWithState(state); break;
        }
    };
    if (!job->landed) {
        if (const Listener listener{*this}) report(*listener.operator->());
        return;
    }
    // A write some of whose patches landed reports behind those landings, which travel the patch-file
    // queue with the unit's notices: the listener never learns of the end before the slots it covers.
    m_device.afterPatchFilesStored([weak = weak_from_this(), report] {
        const auto self = weak.lock();
        if (!self) return;
        // Counted like a chain step, so a clear either waits for this report or this report sees it; the
        // operation has ended, and the one after it may have begun, so it is not asked whether it was dropped.
        const HandlerRun run(*self);
        if (const Listener listener{*self}) report(*listener.operator->());
    });
}

void CQFXMidi::sendEnableAudioWithoutWaiting()
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_ENABLE_AUDIO, dev());
    m_device.sendSysExMessage(request.data(), static_cast<std::int64_t>(request.size()));
}

// ---- entry points -----------------------------------------------------------------------------------

void CQFXMidi::dumpAllPatchWithNumberOfGroups(std::int32_t numberOfGroups, std::int32_t numberOfBanks,
                                              std::int32_t numberOfPatchs)
{
    auto job = std::make_shared<PatchJob>();
    job->kind = PatchKind::Dump;
    job->groups = numberOfGroups;
    job->banks = numberOfBanks;
    job->patchs = numberOfPatchs;
    const Op op = beginOperation();
    // A layout with slots the wire cannot name would have the device answer for other slots.
    if (!layoutFits(numberOfGroups, numberOfBanks, numberOfPatchs)) {
        finishPatch(op, job, 0);
        return;
    }
    startPatchOperation(op, job);
}

void CQFXMidi::writeOnePatchWithGroupNumber(std::int32_t group, std::int32_t bank, std::int32_t patch,
                                            std::int64_t maxSizePatchData, const std::uint8_t* byteData,
                                            std::int64_t sizeData)
{
    auto job = std::make_shared<PatchJob>();
    job->kind = PatchKind::WriteOne;
    job->group = group;
    job->bank = bank;
    job->patch = patch;
    job->maxSize = maxSizePatchData;
    if (byteData && sizeData > 0) job->data.assign(byteData, byteData + sizeData);
    const Op op = beginOperation();
    // A buffer that cannot travel in one message, or a patch larger than it, is refused before sending.
    if (maxSizePatchData < 0 || maxSizePatchData > QFXMidiMessages::kMaxPatchDataMessageSize ||
        !fits(job->data, maxSizePatchData) || !QFXMidiMessages::slotFits(group, bank, patch)) {
        RIG_LOG("patch of %zu bytes refused for a maximum of %lld", job->data.size(),
                static_cast<long long>(maxSizePatchData));
        finishPatch(op, job, -1);
        return;
    }
    startPatchOperation(op, job);
}

void CQFXMidi::writeGroupPatchWithPatchArray(const std::vector<PatchObject>& patchArray,
                                             std::int64_t maxSizePatchData)
{
    auto job = std::make_shared<PatchJob>();
    job->kind = PatchKind::WriteGroup;
    job->maxSize = maxSizePatchData;
    job->patchArray = patchArray;
    const Op op = beginOperation();
    bool refused = maxSizePatchData < 0 || maxSizePatchData > QFXMidiMessages::kMaxPatchDataMessageSize;
    for (const auto& entry : patchArray) {
        job->patchArrayData.push_back(readPatchFile(entry.path));
        refused = refused || !fits(job->patchArrayData.back(), maxSizePatchData) ||
                  !QFXMidiMessages::slotFits(entry.groupNum, entry.bankNum, entry.patchNum);
    }
    if (refused) {
        finishPatch(op, job, -1);
        return;
    }
    startPatchOperation(op, job);
}

void CQFXMidi::writeAllPatchWithAllPatch(const AllPatch& allPatch, std::int64_t maxSizePatchData)
{
    auto job = std::make_shared<PatchJob>();
    job->kind = PatchKind::WriteAll;
    job->maxSize = maxSizePatchData;
    job->table = allPatch;
    const Op op = beginOperation();
    bool refused = maxSizePatchData < 0 || maxSizePatchData > QFXMidiMessages::kMaxPatchDataMessageSize ||
                   !layoutFits(allPatch.numOfGroups, allPatch.numOfBanks, allPatch.numOfPatchs);
    for (const auto& entry : allPatch.patchsList) {
        job->tableData.push_back(readPatchFile(entry.path));
        refused = refused || !fits(job->tableData.back(), maxSizePatchData);
    }
    if (refused) {
        finishPatch(op, job, -1);
        return;
    }
    startPatchOperation(op, job);
}

void CQFXMidi::selectPatchWithData(const std::uint8_t* data, std::int64_t size, std::int64_t maxPatchSize)
{
    auto job = std::make_shared<PatchJob>();
    job->kind = PatchKind::Select;
    job->maxSize = maxPatchSize;
    if (data && size > 0) job->data.assign(data, data + size);
    const Op op = beginOperation();
    if (maxPatchSize < 0 || maxPatchSize > QFXMidiMessages::kMaxEditBufferSize || !fits(job->data, maxPatchSize)) {
        finishPatch(op, job, 0);
        return;
    }
    startPatchOperation(op, job);
}

// Every patch operation first checks that the device still answers; the identity is not examined.
void CQFXMidi::startPatchOperation(const Op& op, const Job& job)
{
    const Bytes request(OKV_MIDI_MSG_IDENTIFY_REQUEST.begin(), OKV_MIDI_MSG_IDENTIFY_REQUEST.end());
    const bool sent = m_device.registerIndentityReplyMessage(
        step(op,
             [this, op, job](bool, const auto&, const auto&) {
                 if (job->kind == PatchKind::Select) subEditBufferDumpWithData(op, job, 0);
                 else subCommandDisableAudioProcess(op, job, 0);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) finishPatch(op, job, refusedState(job->kind));
}

// ---- steps ------------------------------------------------------------------------------------------

void CQFXMidi::subCommandDisableAudioProcess(const Op& op, const Job& job, std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_DISABLE_AUDIO, dev());
    // Counted as muted from the moment the request leaves: its answer may come garbled, cut short, late
    // or not at all, and every way out must still unmute (a redundant enable is ignored by the unit).
    m_audioDisabled = true;
    const bool sent = m_device.registerRespondenceMessage(
        step(op,
             [this, op, job, retry](bool, auto code) {
                 if (code != 0) {
                     if (canRetry(retry)) subCommandDisableAudioProcess(op, job, retry + 1);
                     else finishPatch(op, job, deviceErrorState(job->kind));
                     return;
                 }
                 switch (job->kind) {
                 case PatchKind::Dump:
                     m_allPatch = AllPatch::initPatchsListWithNumberOfGroups(job->groups, job->banks, job->patchs);
                     m_currentGroupNum = m_currentBankNum = m_currentPatchNum = 0;
                     // A layout without slots has nothing to ask for.
                     if (m_allPatch.patchsList.empty()) subCommandEnableAudioProcessWithState(op, job, 0);
                     else patchDataDumpRequestWithGroupNumber(op, job, 0);
                     break;
                 case PatchKind::WriteOne:
                     subAdvancedPatchDataDump(op, job, job->group, job->bank, job->patch, job->data, 0, 0);
                     break;
                 case PatchKind::WriteGroup:
                     if (job->patchArray.empty()) subCommandEnableAudioProcessWithState(op, job, 0);
                     else
                         subAdvancedPatchDataDump(op, job, job->patchArray[0].groupNum, job->patchArray[0].bankNum,
                                                  job->patchArray[0].patchNum, job->patchArrayData[0], 0, 0);
                     break;
                 case PatchKind::WriteAll: subAllPatchDataDump(op, job, 0); break;
                 case PatchKind::Select: break;
                 }
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        m_audioDisabled = false;
        finishPatch(op, job, refusedState(job->kind));
    }
}

void CQFXMidi::patchDataDumpRequestWithGroupNumber(const Op& op, const Job& job, std::int32_t retry)
{
    const std::int32_t group = m_currentGroupNum, bank = m_currentBankNum, patch = m_currentPatchNum;
    const auto request = QFXMidiMessages::patchDumpRequest(dev(), group, bank, patch);
    if (!request) {  // checked at the entry point
        finishPatch(op, job, 0);
        return;
    }
    // The device answers a slot it cannot serve with a code instead of the patch: await either.
    const bool waiting = m_device.registerRespondenceMessage(step(op, [this, op, job, retry](bool, auto) {
        if (canRetry(retry)) patchDataDumpRequestWithGroupNumber(op, job, retry + 1);
        else finishPatch(op, job, -1);
    }));
    if (!waiting) {
        finishPatch(op, job, 0);
        return;
    }
    const bool sent = m_device.registerPatchDataDumpMessage(
        step(op,
             [this, op, job, retry](bool, const auto& data, auto, auto, auto, auto size) {
                 onPatchDumped(op, job, data, static_cast<std::int64_t>(size), retry);
             }),
        request->data(), static_cast<std::int64_t>(request->size()), patch, bank, group);
    if (!sent) finishPatch(op, job, 0);
}

void CQFXMidi::onPatchDumped(const Op& op, const Job& job, Bytes data, std::int64_t size, std::int32_t retry)
{
    // Never more than the bytes that arrived, whatever the size field announced.
    data.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, static_cast<std::int64_t>(data.size()))));
    job->held = DumpedPatch{m_currentGroupNum, m_currentBankNum, m_currentPatchNum, {}, std::move(data)};
    reportTransferProgress(job, job->groups * job->banks * job->patchs);
    // The next request leaves before the patch goes to the disk's queue: the device works on it meanwhile.
    const bool more = advancePosition();
    if (more) patchDataDumpRequestWithGroupNumber(op, job, 0);
    else subCommandEnableAudioProcessWithState(op, job, retry);
    storeHeldPatch(job, more);
}

void CQFXMidi::storeHeldPatch(const Job& job, bool more)
{
    if (!job->held) return;
    DumpedPatch held = std::move(*job->held);
    job->held.reset();
    job->storing = true;
    const std::int32_t group = held.group, bank = held.bank, patch = held.patch;
    m_device.storePatchFile(group, bank, patch, std::move(held.data),
                            [job, group, bank, patch](const std::optional<std::string>& path) {
                                // A patch that could not be stored keeps no path; the dump goes on.
                                if (path) job->stored.push_back(DumpedPatch{group, bank, patch, *path, {}});
                                else RIG_LOG("could not store patch %d_%d_%d.qptc", group, bank, patch);
                            },
                            more);
}

void CQFXMidi::reportDumpOnceStored(const Op& op, const Job& job, std::int32_t state)
{
    // A step that ends the dump before its held patch went to the queue sends it first, so the report
    // still follows every store.
    storeHeldPatch(job, false);
    std::optional<AllPatch> table;
    if (state == 1) table = m_allPatch;
    if (!job->storing) {
        reportDump(job, state, std::move(table));
        return;
    }
    m_device.afterPatchFilesStored([weak = weak_from_this(), op, job, state, table = std::move(table)]() mutable {
        const auto self = weak.lock();
        if (!self) return;
        // Counted like a chain step, so a clear either waits for this report or this report sees it.
        const HandlerRun run(*self);
        if (!op->dropped) self->reportDump(job, state, std::move(table));
    });
}

void CQFXMidi::reportDump(const Job& job, std::int32_t state, std::optional<AllPatch> table)
{
    if (table) {
        // The table names each slot once, in dump order, as the patches were stored: the search for a
        // slot starts after the one before.
        auto& list = table->patchsList;
        std::size_t from = 0;
        for (const auto& stored : job->stored) {
            for (std::size_t n = 0; n < list.size(); ++n) {
                const std::size_t i = (from + n) % list.size();
                if (list[i].groupNum == stored.group && list[i].bankNum == stored.bank &&
                    list[i].patchNum == stored.patch) {
                    list[i].path = stored.path;
                    from = i + 1;
                    break;
                }
            }
        }
    }
    if (const Listener listener{*this}) listener->dumpAllPatchCallbackWithState(state, table);
}

bool CQFXMidi::advancePosition()
{
    m_currentPatchNum += 1;
    if (m_currentPatchNum == m_allPatch.numOfPatchs) {
        m_currentPatchNum = 0;
        m_currentBankNum += 1;
        if (m_currentBankNum == m_allPatch.numOfBanks) {
            m_currentBankNum = 0;
            m_currentGroupNum += 1;
        }
    }
    return m_currentGroupNum != m_allPatch.numOfGroups;
}

void CQFXMidi::subAllPatchDataDump(const Op& op, const Job& job, std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_ALL_PATCH_DATA_DUMP, dev());
    const bool sent = m_device.registerRespondenceMessage(
        step(op,
             [this, op, job, retry](bool, auto code) {
                 if (code != 0) {
                     if (canRetry(retry)) subAllPatchDataDump(op, job, retry + 1);
                     else finishPatch(op, job, -3);
                     return;
                 }
                 m_allPatch = job->table;
                 m_currentGroupNum = m_currentBankNum = m_currentPatchNum = 0;
                 if (m_allPatch.numOfGroups <= 0 || m_allPatch.numOfBanks <= 0 || m_allPatch.numOfPatchs <= 0)
                     subPacketProcessedWithCurrentRetryTime(op, job, 0);
                 else
                     sendAllPatchAtCurrentPosition(op, job, 0);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) finishPatch(op, job, -1);
}

void CQFXMidi::sendAllPatchAtCurrentPosition(const Op& op, const Job& job, std::int32_t retry)
{
    const auto& list = m_allPatch.patchsList;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].groupNum == m_currentGroupNum && list[i].bankNum == m_currentBankNum &&
            list[i].patchNum == m_currentPatchNum) {
            subAdvancedPatchDataDump(op, job, m_currentGroupNum, m_currentBankNum, m_currentPatchNum,
                                     job->tableData[i], i, retry);
            return;
        }
    }
    // A table without this slot: nothing more is sent and the sequencer's watchdog ends the write, but
    // the device is not left muted meanwhile.
    RIG_LOG("write all: no entry for %d %d %d", m_currentGroupNum, m_currentBankNum, m_currentPatchNum);
    endOperation(op);
    if (m_audioDisabled.exchange(false)) sendEnableAudioWithoutWaiting();
}

void CQFXMidi::subAdvancedPatchDataDump(const Op& op, const Job& job, std::int32_t group, std::int32_t bank,
                                        std::int32_t patch, const Bytes& data, std::size_t index, std::int32_t retry)
{
    const auto request = QFXMidiMessages::patchData(dev(), group, bank, patch, job->maxSize, data);
    if (!request) {  // checked at the entry point; kept so no oversized message can ever be built
        finishPatch(op, job, -1);
        return;
    }
    const bool sent = m_device.registerRespondenceMessage(
        step(op,
             [this, op, job, group, bank, patch, data, index, retry](bool, auto code) {
                 if (code == 0) afterPatchWritten(op, job, index, retry);
                 else if (canRetry(retry)) subAdvancedPatchDataDump(op, job, group, bank, patch, data, index, retry + 1);
                 else finishPatch(op, job, -3);
             }),
        request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) finishPatch(op, job, -1);
}

void CQFXMidi::reportTransferProgress(const Job& job, std::int32_t total)
{
    // One count per twentieth of the transfer (each patch of a short one) and always the last: every
    // count is a hand-off to the sequencer's queue and on to the interface's, whose busy line shows no
    // finer steps, so the others would only cost the reply thread and the queues a wake-up per patch.
    constexpr std::int64_t kSteps = 20;
    const std::int64_t done = job->transferred += 1;
    if (total > 0 && done < total && done * kSteps / total == (done - 1) * kSteps / total) return;
    if (const Listener listener{*this}) listener->patchTransferProgress(job->transferred, total);
}

void CQFXMidi::tellPatchWritten(const PatchObject& slot)
{
    // On the patch-file queue: a notice the unit sent before this reply is stored and told first.
    m_device.afterPatchFilesStored([weak = weak_from_this(), slot] {
        if (const auto self = weak.lock())
            if (const Listener listener{*self}) listener->patchWrittenToSlot(slot);
    });
}

void CQFXMidi::afterPatchWritten(const Op& op, const Job& job, std::size_t index, std::int32_t retry)
{
    job->landed = true;
    switch (job->kind) {
    case PatchKind::WriteOne: tellPatchWritten(PatchObject(job->group, job->bank, job->patch, std::string())); break;
    case PatchKind::WriteGroup:
        if (index < job->patchArray.size()) tellPatchWritten(job->patchArray[index]);
        break;
    case PatchKind::WriteAll:
        tellPatchWritten(PatchObject(m_currentGroupNum, m_currentBankNum, m_currentPatchNum, std::string()));
        break;
    default: break;
    }
    if (job->kind == PatchKind::WriteGroup)
        reportTransferProgress(job, static_cast<std::int32_t>(job->patchArray.size()));
    else if (job->kind == PatchKind::WriteAll)
        reportTransferProgress(job, static_cast<std::int32_t>(job->tableData.size()));
    switch (job->kind) {
    case PatchKind::WriteOne: subCommandEnableAudioProcessWithState(op, job, retry); break;
    case PatchKind::WriteGroup:
        if (index + 1 >= job->patchArray.size()) {
            subCommandEnableAudioProcessWithState(op, job, retry);
        } else {
            const auto& next = job->patchArray[index + 1];
            subAdvancedPatchDataDump(op, job, next.groupNum, next.bankNum, next.patchNum,
                                     job->patchArrayData[index + 1], index + 1, 0);
        }
        break;
    case PatchKind::WriteAll:
        if (advancePosition()) sendAllPatchAtCurrentPosition(op, job, 0);
        else subPacketProcessedWithCurrentRetryTime(op, job, retry);
        break;
    default: break;
    }
}

void CQFXMidi::subPacketProcessedWithCurrentRetryTime(const Op& op, const Job& job, std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_PACKET_PROCESSED, dev());
    const bool sent = m_device.registerRespondenceMessage(
        step(op,
             [this, op, job, retry](bool, auto code) {
                 if (code == 0) subCommandEnableAudioProcessWithState(op, job, retry);
                 else if (canRetry(retry)) subPacketProcessedWithCurrentRetryTime(op, job, retry + 1);
                 else finishPatch(op, job, -3);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) finishPatch(op, job, -1);
}

void CQFXMidi::subCommandEnableAudioProcessWithState(const Op& op, const Job& job, std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_ENABLE_AUDIO, dev());
    const bool sent = m_device.registerRespondenceMessage(
        step(op,
             [this, op, job, retry](bool, auto code) {
                 if (code == 0) {
                     m_audioDisabled = false;
                     finishPatch(op, job, 1);
                 } else if (canRetry(retry)) {
                     subCommandEnableAudioProcessWithState(op, job, retry + 1);
                 } else {
                     finishPatch(op, job, deviceErrorState(job->kind));
                 }
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) finishPatch(op, job, refusedState(job->kind));
}

void CQFXMidi::subEditBufferDumpWithData(const Op& op, const Job& job, std::int32_t retry)
{
    const auto request = QFXMidiMessages::editBuffer(dev(), job->maxSize, job->data);
    if (!request) {
        finishPatch(op, job, 0);
        return;
    }
    const bool sent = m_device.registerRespondenceMessage(
        step(op,
             [this, op, job, retry](bool, auto code) {
                 if (code == 0) finishPatch(op, job, 1);
                 else if (canRetry(retry)) subEditBufferDumpWithData(op, job, retry + 1);
                 else finishPatch(op, job, -1);
             }),
        request->data(), static_cast<std::int64_t>(request->size()));
    if (!sent) finishPatch(op, job, 0);
}
