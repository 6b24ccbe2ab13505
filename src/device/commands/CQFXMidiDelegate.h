#pragma once

#include <cstdint>
#include <optional>

#include "device/formats/AdvencedPatchInformation.h"
#include "device/transport/AllPatch.h"
#include "common/Bytes.h"
#include "device/transport/PatchObject.h"

// How the command layer reports: each chain ends in exactly one of these calls, made on the queue that
// delivers the device's replies (or on the caller's thread when a chain ends before sending). Byte
// arguments are valid during the call only; an empty buffer stands for "none".
class CQFXMidiDelegate {
public:
    // A read whose file the device does not have: told apart from a device error, so a unit that lost its
    // effect list can be given it back instead of being let go.
    static constexpr std::int32_t kReadNoSuchFile = -3;

    virtual ~CQFXMidiDelegate() = default;

    virtual void getNewDevicePlugin() = 0;
    virtual void notifyRemoveConnectedDevice() = 0;
    virtual void ejectCallback(std::int32_t state, std::int32_t resultCode) = 0;
    // Belongs to a single-patch dump that no operation starts; never called.
    virtual void patchDataDumpCallbackWithState(std::int32_t state, const Bytes& data, std::int32_t respondenceCode) = 0;
    virtual void editBufferDumpCallbackWithState(std::int32_t state) = 0;
    virtual void diskFreeCallbackWithState(std::int32_t state, std::int64_t totalSize, std::int64_t freeSize) = 0;
    virtual void ffsFileListFlushCallbackWithState(std::int32_t state) = 0;
    virtual void supportQFXInformationCallbackWithState(std::int32_t state, const Bytes& gen, const Bytes& region,
                                                        const Bytes& regionLv, const Bytes& useUnitNum) = 0;
    virtual void supportPatchInformationCallbackWithState(std::int32_t state, const Bytes& gen, const Bytes& region,
                                                          const Bytes& useUnitNum) = 0;
    virtual void advencedPatchDataInformationCallbackWithState(
        std::int32_t state, const std::optional<AdvencedPatchInformation>& information) = 0;
    virtual void infoReadCallbackWithState(std::int32_t state, std::int32_t numOfInfo, std::int32_t numOfFiles,
                                           std::int32_t numOfSectors, const Bytes& version,
                                           std::int64_t respondenceCode) = 0;
    virtual void writeAllPatchCallbackWithState(std::int32_t state) = 0;
    virtual void writeOnePatchCallbackWithState(std::int32_t state) = 0;
    virtual void writeGroupPatchCallbackWithState(std::int32_t state) = 0;
    virtual void deleteQFXCallbackWithState(std::int32_t state, std::int64_t ffsRespondenceCode) = 0;
    virtual void getFileSizeCallbackWithState(std::int32_t state, std::int64_t fileSize) = 0;
    virtual void enterPCAsyncModeCallbackWithState(std::int32_t state) = 0;
    // The table with the paths of the files written, or nothing when the dump failed.
    virtual void dumpAllPatchCallbackWithState(std::int32_t state, const std::optional<AllPatch>& allPatchData) = 0;
    virtual void writeFileListCallbackWithState(std::int32_t state) = 0;
    virtual void readFileQFXListAndQFXCallbackWithState(std::int32_t state, const Bytes& byteDataSuccess,
                                                        std::int64_t readCount) = 0;
    virtual void notifyPatchDataChangeFromDevice(const PatchObject& patch) = 0;
    // How many patches of a dump or of a write of several have been read or written so far. Only a
    // display depends on it, so a listener that shows none keeps this empty default.
    virtual void patchTransferProgress(std::int32_t /*done*/, std::int32_t /*total*/) {}
    // The unit took a written patch into its slot. Told from the patch-file queue, in the order the
    // unit's replies came with its unsolicited notices and ahead of the write's own result, so a listener
    // knows whether the unit changed a slot before or after our patch landed there.
    virtual void patchWrittenToSlot(const PatchObject& /*slot*/) {}
};
