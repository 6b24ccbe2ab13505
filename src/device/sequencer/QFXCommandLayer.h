#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/commands/AcceptedDeviceModel.h"
#include "device/transport/AllPatch.h"
#include "device/transport/PatchObject.h"

class CQFXMidiDelegate;

// What the sequencer asks of the device command layer. The program hands it the command layer itself;
// the sequencer's own tests hand it a scripted double, so every state of the sequencer can be reached
// without a device. Every operation ends in one call of the delegate, as the command layer documents.
class QFXCommandLayer {
public:
    virtual ~QFXCommandLayer() = default;

    virtual void setDelegate(CQFXMidiDelegate* delegate) = 0;
    // The models a later scan accepts and the retry count of every request from then on.
    virtual void setAcceptDevice(std::vector<AcceptedDeviceModel> models, std::int32_t timeOfRetry) = 0;

    virtual void connection() = 0;
    virtual void eject() = 0;
    virtual void forceEject() = 0;
    virtual bool checkCurrentConnect() = 0;
    virtual bool rescanMidiDevice() = 0;
    // The next rescan starts from the first device rather than after the last one tried.
    virtual void restartScan() = 0;
    virtual bool connectNewDevicePlugin() = 0;
    virtual void disconnectCurrentDevice() = 0;
    virtual void clearWaitingBlock() = 0;
    // Runs task, on a thread of the layer's choosing and without waiting for it, once every patch file the
    // layer asked to store before this call has landed; a layer that stores none runs it at once.
    virtual void afterPatchFilesStored(std::function<void()> task) { task(); }
    virtual std::optional<std::string> getDeviceName() = 0;
    // How many messages the unit has sent so far; nothing for a layer that cannot tell, whose operations
    // are then ended by their watchdogs alone.
    virtual std::optional<std::uint64_t> messagesHeard() const { return std::nullopt; }
    // Whether a request of the running operation waits for the unit's answer now; false while the
    // operation waits on the program's own work.
    virtual bool awaitsUnit() const { return true; }
    virtual std::int32_t getCQFXDeviceIDInt() const = 0;
    virtual std::optional<std::array<std::uint8_t, 4>> getDeviceVersion() const = 0;

    virtual void dumpAllPatchWithNumberOfGroups(std::int32_t numberOfGroups, std::int32_t numberOfBanks,
                                                std::int32_t numberOfPatchs) = 0;
    virtual void writeOnePatchWithGroupNumber(std::int32_t group, std::int32_t bank, std::int32_t patch,
                                              std::int64_t maxSizePatchData, const std::uint8_t* byteData,
                                              std::int64_t sizeData) = 0;
    virtual void writeGroupPatchWithPatchArray(const std::vector<PatchObject>& patchArray,
                                               std::int64_t maxSizePatchData) = 0;
    virtual void writeAllPatchWithAllPatch(const AllPatch& allPatch, std::int64_t maxSizePatchData) = 0;
    virtual void selectPatchWithData(const std::uint8_t* data, std::int64_t size, std::int64_t maxPatchSize) = 0;

    virtual void checkMemory() = 0;
    virtual void readFFSFileListWithFilePath(const std::string& fileName) = 0;
    virtual void writeFileListWithFilePath(const std::string& fileName, const std::uint8_t* byteData,
                                           std::int64_t fileSize, std::int32_t state) = 0;
    virtual void fileListFlush() = 0;
    virtual void deleteQFXWithFileName(const std::string& fileName) = 0;
    virtual void getFileSizeWithFileName(const std::string& fileName) = 0;
};

// Makes the command layer for a scan: the accepted models and the retry count of every request.
using QFXCommandLayerFactory =
    std::function<std::shared_ptr<QFXCommandLayer>(std::vector<AcceptedDeviceModel> models, std::int32_t timeOfRetry)>;
