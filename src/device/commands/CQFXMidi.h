#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/commands/AcceptedDeviceModel.h"
#include "device/transport/AllPatch.h"
#include "common/Bytes.h"
#include "device/transport/CMidiDevice.h"
#include "device/commands/CQFXMidiDelegate.h"
#include "device/transport/PatchObject.h"

// The device command layer: every operation the sequencer asks for becomes a chain of SysEx requests,
// each registered with the transport's reply registry together with the handler that continues the
// chain, and ends in exactly one delegate call. Nothing here times out: the sequencer's watchdog ends a
// chain whose reply never comes and drops the pending handlers through clearWaitingBlock().
//
// A step the device answers with a non-zero code is sent again while its retry count plus one is at most
// timeOfRetry. Made through create() because pending handlers hold it weakly: a reply that arrives after
// the object is gone, or after its operation ended, changes nothing.
class CQFXMidi final : public MidiDeviceDelegate, public std::enable_shared_from_this<CQFXMidi> {
public:
    static constexpr std::int32_t kReadChunk = 512;
    // Largest file the command layer reads into memory; the effect list and modules are far smaller.
    static constexpr std::int64_t kMaxReadFileSize = 16 * 1024 * 1024;
    static constexpr std::int32_t kNoSuchFile = -6;

    // Becomes the transport's delegate for arrivals, removals and unsolicited patches.
    static std::shared_ptr<CQFXMidi> create(CMidiDevice& device, std::vector<AcceptedDeviceModel> arrayAcceptDevice,
                                            std::int32_t timeOfRetry);
    ~CQFXMidi() override;
    CQFXMidi(const CQFXMidi&) = delete;
    CQFXMidi& operator=(const CQFXMidi&) = delete;

    // The sequencer swaps or clears its delegate on its own queue while replies run handlers here. A report
    // already under way on another thread finishes first, so once this returns the old delegate is never
    // called again and may go.
    void setDelegate(CQFXMidiDelegate* delegate);
    CQFXMidiDelegate* delegate() const;
    // A later scan's models and retry count; a chain under way goes on with the new count.
    void setAcceptDevice(std::vector<AcceptedDeviceModel> arrayAcceptDevice, std::int32_t timeOfRetry);
    std::int32_t timeOfRetry() const { return m_timeOfRetry.load(); }

    // Connection (outcomes through enterPCAsyncModeCallbackWithState and the four description callbacks).
    void connection();
    void eject();
    // Ends the operation under way as clearWaitingBlock() does, then tells the unit to leave editor mode
    // without waiting for its answer.
    void forceEject();
    bool checkCurrentConnect();
    bool rescanMidiDevice();
    void restartScan();
    bool connectNewDevicePlugin();
    void disconnectCurrentDevice();
    // Closes a file the unit opened with no open awaiting its answer, its answer unawaited.
    void closeStrayFile(const Bytes& handle);
    // Ends the operation under way without a report: pending replies dropped once a step under way has
    // finished, the unit unmuted, an effect file being written deleted and one being read closed.
    void clearWaitingBlock();
    // Runs task on the patch-file queue once every patch file asked to be stored before has landed.
    void afterPatchFilesStored(std::function<void()> task) { m_device.afterPatchFilesStored(std::move(task)); }
    std::optional<std::string> getDeviceName();
    // Every message the unit sent so far (the transport's count).
    std::uint64_t messagesHeard() const { return m_device.messagesHeard(); }
    // Whether a request waits for the unit's answer (the transport's registry).
    bool awaitsUnit() const { return m_device.awaitsReply(); }
    std::uint8_t getCQFXDeviceID() const { return m_deviceID.load(); }
    std::int32_t getCQFXDeviceIDInt() const { return m_deviceIdFull.load(); }
    std::optional<std::array<std::uint8_t, 4>> getDeviceVersion() const;
    std::optional<std::string> createFolderInBundleWithType(int type);

    // MidiDeviceDelegate: relays to the sequencer.
    void getANewDevicePlugIn() override;
    void notifyRemoveCurrentConnectedDevice() override;
    void notifyPatchDataChange(const PatchObject& patch) override;

    // Patch transfer.
    void dumpAllPatchWithNumberOfGroups(std::int32_t numberOfGroups, std::int32_t numberOfBanks,
                                        std::int32_t numberOfPatchs);
    void writeOnePatchWithGroupNumber(std::int32_t group, std::int32_t bank, std::int32_t patch,
                                      std::int64_t maxSizePatchData, const std::uint8_t* byteData,
                                      std::int64_t sizeData);
    void writeGroupPatchWithPatchArray(const std::vector<PatchObject>& patchArray, std::int64_t maxSizePatchData);
    void writeAllPatchWithAllPatch(const AllPatch& allPatch, std::int64_t maxSizePatchData);
    void selectPatchWithData(const std::uint8_t* data, std::int64_t size, std::int64_t maxPatchSize);

    // File system.
    void checkMemory();
    void readFFSFileListWithFilePath(const std::string& fileName);
    void writeFileListWithFilePath(const std::string& fileName, const std::uint8_t* byteData, std::int64_t fileSize,
                                   std::int32_t state);
    void fileListFlush();
    void deleteQFXWithFileName(const std::string& fileName);
    void getFileSizeWithFileName(const std::string& fileName);

private:
    CQFXMidi(CMidiDevice& device, std::vector<AcceptedDeviceModel> arrayAcceptDevice, std::int32_t timeOfRetry);

    // The delegate held for one report: setDelegate() waits while any is alive. The call itself runs with
    // no lock held.
    class Listener {
    public:
        explicit Listener(CQFXMidi& owner);
        ~Listener();
        Listener(const Listener&) = delete;
        Listener& operator=(const Listener&) = delete;
        explicit operator bool() const { return m_delegate != nullptr; }
        CQFXMidiDelegate* operator->() const { return m_delegate; }

    private:
        CQFXMidi& m_owner;
        CQFXMidiDelegate* m_delegate = nullptr;
    };

    // A chain step under way on the reply thread: clearWaitingBlock() waits for it, so nothing it registers
    // outlives the clear.
    class HandlerRun {
    public:
        explicit HandlerRun(CQFXMidi& owner);
        ~HandlerRun();
        HandlerRun(const HandlerRun&) = delete;
        HandlerRun& operator=(const HandlerRun&) = delete;

    private:
        CQFXMidi& m_owner;
    };

    // One running operation: its handlers act only while it is the current one and has not ended.
    struct Operation {
        std::atomic<bool> live{true};
        // Set when a clear or a newer operation drops it: a report still waiting for the disk is not made.
        std::atomic<bool> dropped{false};
    };
    using Op = std::shared_ptr<Operation>;
    Op beginOperation();
    // Makes op the running operation; the one before it ends without reporting.
    void adoptOperation(const Op& op);
    void endOperation(const Op& op);
    // Wraps a chain step so it runs only while its object lives and its operation is current.
    template <typename F>
    auto step(const Op& op, F body);
    bool canRetry(std::int32_t retry) const { return retry + 1 <= m_timeOfRetry.load(); }
    std::uint8_t dev() const { return m_deviceID.load(); }

    // Connection chain.
    void onConnectIdentity(const Op& op, const Bytes& identity, const Bytes& version);
    void subEnterPCModeWithCurrentRetryTime(const Op& op, std::int32_t retry);
    void requestSupportQFXInformation(const Op& op);
    void requestSupportPatchInformation(const Op& op);
    void requestAdvancedPatchInformation(const Op& op);
    void getInforReadWithRetryTime(const Op& op, std::int32_t retry);
    void subTerminatePCModeWithCurrentRetryTime(const Op& op, std::int32_t retry);

    // Patch chains. A job carries what every step of one operation needs; its byte arrays are its own.
    enum class PatchKind { Dump, WriteOne, WriteAll, WriteGroup, Select };
    struct DumpedPatch {
        std::int32_t group = 0, bank = 0, patch = 0;
        std::string path;  // empty when the patch is held back, before it goes to the store
        Bytes data;
    };
    struct PatchJob {
        PatchKind kind = PatchKind::Dump;
        std::int32_t groups = 0, banks = 0, patchs = 0;
        std::int32_t group = 0, bank = 0, patch = 0;
        std::int64_t maxSize = 0;
        Bytes data;
        std::vector<PatchObject> patchArray;
        // A patch of this write has landed in its slot (told through the patch-file queue).
        bool landed = false;
        std::vector<Bytes> patchArrayData;
        AllPatch table;
        std::vector<Bytes> tableData;
        // A dump: the patch just received, held while the next request goes out; then, on the patch-file
        // queue only, every patch stored so far.
        std::optional<DumpedPatch> held;
        bool storing = false;  // a patch went to the queue: the report waits for the queue
        std::vector<DumpedPatch> stored;
        std::int32_t transferred = 0;  // patches read or written so far, for the progress report
    };
    using Job = std::shared_ptr<PatchJob>;
    void startPatchOperation(const Op& op, const Job& job);
    void subCommandDisableAudioProcess(const Op& op, const Job& job, std::int32_t retry);
    void patchDataDumpRequestWithGroupNumber(const Op& op, const Job& job, std::int32_t retry);
    void onPatchDumped(const Op& op, const Job& job, Bytes data, std::int64_t size, std::int32_t retry);
    // Hands the held patch to the transport's patch-file queue; `more` when the dump asked for another.
    void storeHeldPatch(const Job& job, bool more);
    // The dump's callback, made on the patch-file queue once every patch it received is stored.
    void reportDumpOnceStored(const Op& op, const Job& job, std::int32_t state);
    // Gives each stored slot of the table its path and makes the dump's one callback.
    void reportDump(const Job& job, std::int32_t state, std::optional<AllPatch> table);
    void subAllPatchDataDump(const Op& op, const Job& job, std::int32_t retry);
    void sendAllPatchAtCurrentPosition(const Op& op, const Job& job, std::int32_t retry);
    void subAdvancedPatchDataDump(const Op& op, const Job& job, std::int32_t group, std::int32_t bank,
                                  std::int32_t patch, const Bytes& data, std::size_t index, std::int32_t retry);
    void afterPatchWritten(const Op& op, const Job& job, std::size_t index, std::int32_t retry);
    void tellPatchWritten(const PatchObject& slot);
    // Counts one more patch of the job through and tells the listener how far it is.
    void reportTransferProgress(const Job& job, std::int32_t total);
    void subPacketProcessedWithCurrentRetryTime(const Op& op, const Job& job, std::int32_t retry);
    void subCommandEnableAudioProcessWithState(const Op& op, const Job& job, std::int32_t retry);
    void subEditBufferDumpWithData(const Op& op, const Job& job, std::int32_t retry);
    // Advances the all-patch position; false after the last slot.
    bool advancePosition();
    // The final callback of a patch operation; a failure once disable audio was sent sends enable audio
    // once without waiting, so the device is never left muted.
    void finishPatch(const Op& op, const Job& job, std::int32_t state);
    // The value a patch chain reports for a refused registration and for a device refusal after retries.
    static std::int32_t refusedState(PatchKind kind);
    static std::int32_t deviceErrorState(PatchKind kind);
    void sendEnableAudioWithoutWaiting();

    // File-system chains.
    struct ReadJob {
        std::string name;
        std::int64_t size = 0;
        bool tooLarge = false;
        Bytes handle;  // while the device holds the file open
        Bytes buffer;
        std::int64_t done = 0;
        // The transport's count of stray file-system replies at the open, and the opens made again since
        // for one met meanwhile: the unit's late answer to an ended chain, taken for one of this read's
        // own, would leave the bytes read at another offset or of another chunk.
        std::uint64_t straysAtOpen = 0;
        std::int32_t reopensForStrays = 0;
    };
    struct WriteJob {
        std::string name;
        Bytes data;
        std::int32_t state = 0;
        bool opened = false;  // an open for writing went out: the device may hold a partial file
        Bytes handle;         // while the device holds the file open
    };
    enum class CloseReason { Failed = 0, Complete = 1, Again = 2 };
    // A query whose code may be a cut chain's late answer (CMidiDevice::takenCodeMayBeLate) is asked again
    // until two answers in a row agree, at most this many times in all.
    static constexpr std::int32_t kMostAsksInDoubt = 3;
    // What a query answered last while its code was in doubt: the fields and the code.
    struct DoubtedAnswer {
        std::int64_t first = 0, second = 0;
        std::int32_t code = 0;
        bool operator==(const DoubtedAnswer&) const = default;
    };
    // Whether the answer just taken stands; false when the query is to be asked again (`earlier` then
    // holds this answer and `asked` counts the ask).
    bool answerStands(const DoubtedAnswer& answer, std::optional<DoubtedAnswer>& earlier, std::int32_t& asked) const;
    void subCommandDiskFreeWithCurrentRetryTime(const Op& op, std::int32_t retry, std::int32_t asked = 1,
                                                std::optional<DoubtedAnswer> earlier = std::nullopt);
    void subCommandFindFirstWithFilePath(const Op& op, const std::string& name, std::int32_t retry);
    void subCommandFindCloseWithFileName(const Op& op, const std::shared_ptr<ReadJob>& job, std::int32_t retry);
    void subCommandOpenForReadWithFileName(const Op& op, const std::shared_ptr<ReadJob>& job, std::int32_t retry);
    void subReadFileQFXListAndQFxWithFileHandle(const Op& op, const std::shared_ptr<ReadJob>& job,
                                                std::int32_t retry);
    void onChunkRead(const Op& op, const std::shared_ptr<ReadJob>& job, std::int64_t count, const Bytes& data,
                     std::int32_t retry);
    void closeRead(const Op& op, const std::shared_ptr<ReadJob>& job, CloseReason reason, std::int32_t retry);
    void finishRead(const Op& op, std::int32_t state, const Bytes& bytes, std::int64_t count);
    void subCommandUnlinkForWrite(const Op& op, const std::shared_ptr<WriteJob>& job, std::int32_t retry);
    void subCommandOpenForWriteWithFilePath(const Op& op, const std::shared_ptr<WriteJob>& job,
                                            std::int32_t retry);
    void subWriteQFXFileWithFileHandle(const Op& op, const std::shared_ptr<WriteJob>& job, std::int64_t offset,
                                       std::int32_t retry);
    void closeWrite(const Op& op, const std::shared_ptr<WriteJob>& job, CloseReason reason, std::int32_t retry);
    // A write that gives up closes and deletes what it may have left before reporting the failure: the
    // protocol has no rename, so a partial file would otherwise sit under the final name looking whole.
    void abandonWrite(const Op& op, const std::shared_ptr<WriteJob>& job, std::int32_t state);
    void unlinkAbandonedWrite(const Op& op, const std::shared_ptr<WriteJob>& job, std::int32_t state);
    // The same without waiting, for a write whose chain was cut off (the watchdog, a new device).
    void sendAbandonedWriteCleanup(const WriteJob& job);
    void finishWrite(const Op& op, std::int32_t state);
    void subCommandUnlinkForDelete(const Op& op, const std::string& name, std::int32_t retry);
    void subCommandFFSFileListFlushWithCurrentRetryTime(const Op& op, std::int32_t retry);
    void subCommandFileLengthWithFileName(const Op& op, const std::string& name, std::int32_t retry,
                                          std::int32_t asked = 1, std::optional<DoubtedAnswer> earlier = std::nullopt);
    Bytes ack() const;

    CMidiDevice& m_device;
    std::vector<AcceptedDeviceModel> m_arrayAcceptDevice;  // guarded by m_mutex
    std::atomic<std::int32_t> m_timeOfRetry;
    mutable std::mutex m_delegateMutex;
    std::condition_variable m_delegateIdle;
    CQFXMidiDelegate* m_delegate = nullptr;
    int m_delegateCalls = 0;  // reports under way

    std::atomic<std::uint8_t> m_deviceID{0};
    std::atomic<std::int32_t> m_deviceIdFull{0};
    mutable std::mutex m_mutex;
    std::array<std::uint8_t, 4> m_deviceVersion{};
    Op m_current;
    std::condition_variable m_handlersIdle;
    int m_handlersRunning = 0;
    // The effect-file write under way, if any, and the read holding a file open; guarded by m_mutex.
    std::shared_ptr<WriteJob> m_write;
    std::shared_ptr<ReadJob> m_read;
    // Set from a sent disable-audio until the matching enable audio is accepted.
    std::atomic<bool> m_audioDisabled{false};

    // Position of a running all-patch dump or write; touched only by that operation's steps.
    AllPatch m_allPatch;
    std::int32_t m_currentGroupNum = 0;
    std::int32_t m_currentBankNum = 0;
    std::int32_t m_currentPatchNum = 0;
};

template <typename F>
auto CQFXMidi::step(const Op& op, F body)
{
    return [weak = weak_from_this(), op, body](auto&&... args) {
        const auto self = weak.lock();
        if (!self) return;
        // Counted before the test, so clearWaitingBlock() either sees this step under way or this step
        // sees its operation ended.
        const HandlerRun run(*self);
        if (!op->live) return;
        body(args...);
    };
}
