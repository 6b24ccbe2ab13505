#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Stdqueue.h"
#include "device/transport/AllPatch.h"
#include "device/commands/CQFXMidiDelegate.h"
#include "device/sequencer/DeviceDescription.h"
#include "device/sequencer/ParserDataDelegate.h"
#include "device/transport/PatchObject.h"
#include "device/sequencer/QFXCommandLayer.h"
#include "device/sequencer/ServerDeviceModel.h"
#include "device/sequencer/SilenceWatch.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/TimerService.h"

class OKVEffect;
class OKVPatch;

namespace platform {
class FileManager;
}

// The one object through which the rest of the program talks to the device: it finds and connects the
// device, runs device operations strictly one at a time in request order, guards each with a watchdog
// sized by the command time-out T and the operation's length, and keeps the connected device's
// description. Results go to the ParserDataDelegate.
//
// All state lives on one serial queue: requests, command-layer results and watchdog expiries are all
// posted there, and the delegate is called from there once the state has changed. The connection attempt
// and the running operation each own a watchdog on the timer service; arming one never cancels the
// other, and each carries a generation, so an expiry that was already under way when what it guarded
// ended (or the device went away) never touches a newer attempt or operation.
//
// One command layer serves the sequencer's whole life: a later scan hands it the new accepted models,
// and a scan asked for while an operation runs waits until that operation has ended.
class ParserDataController final : public CQFXMidiDelegate {
public:
    static constexpr const char* kDefaultNameOfQFXList = "FLST_SEQ.QT2";
    // Command time-outs in a row without a message from the unit after which a running operation is
    // given up as the unit's silence, however much of its own watchdog is left.
    static constexpr float kSilentCommandTimeOuts = 2.0F;

    // stateQueue: where the state lives; a new low-priority serial queue when none is given.
    ParserDataController(platform::Dispatch& dispatch, platform::TimerService& timers, platform::FileManager& files,
                         QFXCommandLayerFactory commandLayerFactory,
                         std::shared_ptr<platform::Queue> stateQueue = nullptr);
    ~ParserDataController() override;
    ParserDataController(const ParserDataController&) = delete;
    ParserDataController& operator=(const ParserDataController&) = delete;

    // The instance the program builds at start.
    static ParserDataController& sharedParserDataController();
    static void setShared(ParserDataController* controller);

    void setParserDataDelegate(ParserDataDelegate* delegate) { m_delegate.store(delegate); }

    // Connection and control (not queued). A scan asked for while a handshake runs or a device is connected
    // joins that connection (only the accepted models are taken), as a new scan would cut the handshake
    // short or drop the device under the coordinator's read; while a forced eject is letting a device go
    // it waits for the disconnect. `rescanMidiDevice` always scans anew, once the sequencer is idle.
    void scanDeviceWithAcceptDeviceArray(std::vector<ServerDeviceModel> acceptDeviceArray, std::int32_t timeOfRetry,
                                         float timeoutOfCommand);
    void rescanMidiDevice();
    void disconnectWithCurrentDevice();
    // On the calling thread, ends the command layer's operation under way (the unit unmuted, its open
    // file dealt with) and tells the device to leave editor mode without waiting; drops the connection a
    // second later unless a new handshake has begun meanwhile.
    void forceEject();

    // Answers from the stored description of the connected device. They read a copy the state queue
    // publishes and never wait on that queue, so they are safe from any thread, the delegate's calls and
    // the threads of the pool the state queue runs on included.
    // Whether a device's handshake has ended in a connection that has not ended since.
    bool isConnected() const;
    std::optional<std::array<std::uint8_t, 4>> getDeviceVersion();
    std::int32_t getDeviceUseUnitNum();
    std::int32_t getDeviceID();
    std::uint8_t getNumberOfFileInDevice();
    std::int32_t getNumberOfPatchsInABank();
    std::optional<std::string> getNameDevice();
    void getStatusCurrentConnect(std::int64_t number);
    bool checkEffectCompatible(const OKVEffect& effect);
    bool checkPatchCompatible(const OKVPatch& patch);
    std::string getOffsetNameOfPatchWithNumGroup(std::int32_t numGroup, std::int32_t numBank, std::int32_t numPatch);

    // Requests: queued; each result arrives later through the delegate.
    void getMemoryStatus();
    void ejectDevice();
    void deleteQFXWithFileName(const std::string& fileName);
    void writeQFXListAndQFXWithFileName(const std::string& fileName, const std::string& path, std::int32_t state);
    void getQFXList();
    void getEffectWithFileName(const std::string& fileName);
    void getAllPatchDataDump();
    void writeAllPatchDataDumpWithAllPatch(AllPatch allPatch);
    void writeOnePatchDataDumpWithAllPatch(PatchObject patch);
    void writeGroupPatchDataDumpWithAllPatch(std::vector<PatchObject> patchs);
    void selectPatch(PatchObject patch);
    void fileListFlush();
    void getFileLengthWithFileName(const std::string& fileName);

    // CQFXMidiDelegate: each hops onto the state queue.
    void getNewDevicePlugin() override;
    void notifyRemoveConnectedDevice() override;
    void ejectCallback(std::int32_t state, std::int32_t resultCode) override;
    void patchDataDumpCallbackWithState(std::int32_t state, const Bytes& data, std::int32_t respondenceCode) override;
    void editBufferDumpCallbackWithState(std::int32_t state) override;
    void diskFreeCallbackWithState(std::int32_t state, std::int64_t totalSize, std::int64_t freeSize) override;
    void ffsFileListFlushCallbackWithState(std::int32_t state) override;
    void supportQFXInformationCallbackWithState(std::int32_t state, const Bytes& gen, const Bytes& region,
                                                const Bytes& regionLv, const Bytes& useUnitNum) override;
    void supportPatchInformationCallbackWithState(std::int32_t state, const Bytes& gen, const Bytes& region,
                                                  const Bytes& useUnitNum) override;
    void advencedPatchDataInformationCallbackWithState(
        std::int32_t state, const std::optional<AdvencedPatchInformation>& information) override;
    void infoReadCallbackWithState(std::int32_t state, std::int32_t numOfInfo, std::int32_t numOfFiles,
                                   std::int32_t numOfSectors, const Bytes& version,
                                   std::int64_t respondenceCode) override;
    void writeAllPatchCallbackWithState(std::int32_t state) override;
    void writeOnePatchCallbackWithState(std::int32_t state) override;
    void writeGroupPatchCallbackWithState(std::int32_t state) override;
    void deleteQFXCallbackWithState(std::int32_t state, std::int64_t ffsRespondenceCode) override;
    void getFileSizeCallbackWithState(std::int32_t state, std::int64_t fileSize) override;
    void enterPCAsyncModeCallbackWithState(std::int32_t state) override;
    void dumpAllPatchCallbackWithState(std::int32_t state, const std::optional<AllPatch>& allPatchData) override;
    void writeFileListCallbackWithState(std::int32_t state) override;
    void readFileQFXListAndQFXCallbackWithState(std::int32_t state, const Bytes& byteDataSuccess,
                                                std::int64_t readCount) override;
    void notifyPatchDataChangeFromDevice(const PatchObject& patch) override;
    void patchTransferProgress(std::int32_t done, std::int32_t total) override;
    void patchWrittenToSlot(const PatchObject& slot) override;

private:
    // The device operations, one waiting flag each.
    enum class Kind {
        GetMemoryState,
        EjectDevice,
        DeleteQFX,
        WriteQFXListAndQFX,
        GetQFXListOrQFX,
        GetAllPatchDataDump,
        WriteAllPatchDataDump,
        WriteOnePatchDataDump,
        WriteGroupPatchDataDump,
        SelectPatch,
        FileListFlush,
        GetFileLength,
    };
    static constexpr std::size_t kKinds = 12;
    // Connection watchdogs: a scan's is retried with a new scan, a plug-in attempt's is not.
    enum class ConnectType { Scan = 1, Plugin = 2 };

    // What the queries answer from, as the state queue last published it.
    struct Published {
        bool connected = false;
        std::shared_ptr<QFXCommandLayer> qfxMidi;
        std::shared_ptr<const DeviceDescription> description;
        std::int32_t numberOfPatchs = 0;
    };

    // Runs the task on the state queue while this object lives.
    void post(std::function<void()> task);
    // On the state queue, after every change a query can see.
    void publish();
    Published published() const;

    void enqueueOperation(std::function<void()> flow);
    void checkAddOperation();
    // The common start of every flow. The check answers a refusal code, or nothing to go on.
    void runFlow(Kind kind, float interval, const std::function<std::optional<std::int32_t>()>& check,
                 const std::function<void(QFXCommandLayer&)>& issue);
    // Reads a patch file that is about to go to the device; nothing unless it parses as patch data.
    std::optional<Bytes> readPatchFile(const std::string& path);
    bool patchFilesReadable(const std::vector<PatchObject>& patchs);
    bool inLayout(const PatchObject& patch) const;
    bool coversLayout(const AllPatch& allPatch);

    // A re-armable timer and the generation of what it guards: an expiry acts only while that is current.
    struct Watchdog {
        explicit Watchdog(platform::TimerService& timers) : timer(timers) {}
        platform::Timer timer;
        std::uint64_t generation = 0;
    };
    void armWatchdog(Watchdog& watchdog, float seconds, std::function<void()> handler);
    void cancelWatchdog(Watchdog& watchdog);
    void checkStateConnectWithType(ConnectType type);
    void expire(Kind kind);
    void checkWaitingEjectWithError();

    // Ends the running operation when it is the one the result belongs to; false for a stale result.
    bool finishOperation(Kind kind);
    // After a result: a device error drops the queue and ejects; anything else starts the next operation,
    // once the result has been reported, so the delegate hears results in request order (a queued request
    // that is refused at once never overtakes the result of the one before it).
    void afterResult(bool deviceError);
    void ejectWithError();
    // A result with no payload: 1 for done, the error result for the device-error state, else 0.
    void simpleResult(Kind kind, std::int32_t state, std::int32_t errorState, std::int32_t errorResult,
                      void (ParserDataDelegate::*report)(std::int32_t));
    void reportEmpty(Kind kind, std::int32_t state);
    // Makes a report of an end the connection forced (a watchdog, the unit unplugged) once the patch files
    // the cut operation had asked to store have landed: the delegate clears the device folders on it, and
    // a file landing after that would bring them back. Until then nothing else starts, so reports keep
    // their order and no new connection is reported before the old one's end.
    void reportOnceFilesSettled(std::function<void()> report);
    void connectPluggedDevice();

    void rescanOnState();
    // A scan asked for while an operation ran starts once the sequencer is idle again. A joining scan
    // (a connect) does nothing while a connection is being made or stands.
    void scanWhenIdle(bool joinsConnection = false);
    void disconnectOnState(bool keepDevice);
    void startHandshake(ConnectType type);
    void handshakeFailed(std::int32_t connectionState, std::int32_t subState);
    void checkConnection();
    const ServerDeviceModel* serverModel() const;

    ParserDataDelegate* delegate() const { return m_delegate.load(); }

    platform::Dispatch& m_dispatch;
    platform::FileManager& m_files;
    QFXCommandLayerFactory m_factory;
    std::shared_ptr<platform::Queue> m_state;
    std::shared_ptr<bool> m_alive;
    // What every posted task checks. Set once here and never written again, so the command layer's threads
    // may copy it while the teardown drops `m_alive` on the state queue.
    const std::weak_ptr<bool> m_aliveWatch;
    std::atomic<ParserDataDelegate*> m_delegate{nullptr};
    Watchdog m_operationWatchdog;
    Watchdog m_connectionWatchdog;
    // Ends the running operation early when the unit stops answering; state queue only.
    SilenceWatch m_silence;
    mutable std::mutex m_publishedMutex;
    Published m_published;

    // Everything below is touched on the state queue only.
    std::shared_ptr<QFXCommandLayer> m_qfxMidi;
    Stdqueue<std::function<void()>> m_queue;
    float m_timeout = 1.0F;
    bool m_isConnected = false;
    bool m_isWorking = false;
    std::array<bool, kKinds> m_waiting{};
    bool m_isEjectedWithError = false;
    bool m_isHasDeviceConnectAlready = false;
    bool m_isHasScanDevice = false;
    bool m_isConnectWithNewDevicePluginMode = false;
    bool m_isScanPending = false;
    // Reports waiting for the cut operation's patch files, and a plug-in notice that came meanwhile.
    int m_settlingReports = 0;
    bool m_isPluginPending = false;
    // Every scan that waited was a connect, which joins a connection standing when it runs.
    bool m_pendingScanJoins = true;
    // Counts handshakes: a forced eject's delayed disconnect lets go only of the connection it was aimed at.
    std::uint64_t m_session = 0;
    // A forced eject's disconnect is due: the device stays only until then, so a connect waits for it.
    bool m_isLettingGo = false;
    // A handshake was started and has neither completed nor been abandoned: description answers count.
    bool m_isHandshaking = false;
    std::int32_t m_numberOfGroups = 0;
    std::int32_t m_numberOfBanks = 0;
    std::int32_t m_numberOfPatchs = 0;
    std::int64_t m_maxSizePatchData = 0;
    DeviceDescription m_description;
    std::vector<ServerDeviceModel> m_arrayAllQFXModels;
};
