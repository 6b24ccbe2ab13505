#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/Bytes.h"
#include "device/transport/PatchObject.h"

// How the sequencer reports upwards: every device operation's result, the connection states and the
// device's own notices. Result codes: 1 done; 0 failed, the connection stays; 2 a patch write refused
// because the device never gave its patch size; -1 the watchdog expired and the connection is gone;
// -2 not connected; -3 refused by the sequencer's own checks, or a device error after which the device
// is being ejected; -4 a device error on a file read or write, a dump or a size query, the device being
// ejected; -6 (kNoSuchFile) a file read found no such file on the device, the connection stays. Connection states: 1 connected; 0 the device found earlier is gone; 2 no device; 3 editor
// mode refused on a plug-in; -1, -2, -3 a description query failed. Calls come from the sequencer's own
// queue (only the -3 of an effect write whose local file is missing comes at once, on the requesting
// thread); an adopter returns at once and does its work elsewhere.
class ParserDataDelegate {
public:
    static constexpr std::int32_t kNoSuchFile = -6;

    virtual ~ParserDataDelegate() = default;

    virtual void notifyDataPatchChange(const PatchObject& patch) = 0;
    virtual void notifyDisconnectToDevice() = 0;
    virtual void connectionWithState(std::int32_t state, std::int32_t subState) = 0;
    virtual void ejectDeviceWithState(std::int32_t state, std::int32_t subState) = 0;
    virtual void getAllPatchDataDumpWithState(std::int32_t state,
                                              const std::optional<std::vector<PatchObject>>& allPatchData) = 0;
    virtual void writeAllPatchDataDumpWithState(std::int32_t state) = 0;
    virtual void writeOnePatchDataDumpWithState(std::int32_t state) = 0;
    virtual void writeGroupPatchDataDumpWithState(std::int32_t state) = 0;
    virtual void selectPatchWithState(std::int32_t state) = 0;
    virtual void getQFXListOrQFXWithState(std::int32_t state, const std::optional<Bytes>& qfxList) = 0;
    virtual void writeQFXListAndQFXWithState(std::int32_t state) = 0;
    virtual void getMemoryStatusWithState(std::int32_t state, float status) = 0;
    virtual void deleteQFXWithState(std::int32_t state, std::int32_t subState) = 0;
    virtual void fileListFlushWithState(std::int32_t state) = 0;
    virtual void getFileLengthWithState(std::int32_t state, std::int64_t fileSize) = 0;
    // How many patches of the running dump or write of several are through; only a display depends on
    // it, so an adopter that shows none keeps this empty default.
    virtual void patchTransferProgress(std::int32_t /*done*/, std::int32_t /*total*/) {}
    // A patch of the running write landed in its slot (group, bank and patch numbers), told in the order
    // the unit's replies came with `notifyDataPatchChange` and before the write's result.
    virtual void patchWrittenToSlot(const PatchObject& /*slot*/) {}
};
