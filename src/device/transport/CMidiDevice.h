#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "device/formats/AdvencedPatchInformation.h"
#include "common/Bytes.h"
#include "device/transport/CMidiIn.h"
#include "device/transport/CMidiInDeleagte.h"
#include "device/transport/CMidiOut.h"
#include "device/transport/MidiDeviceDelegate.h"
#include "device/transport/OwedCodeAnswers.h"
#include "device/transport/RepeatedDumpAnswer.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/ThreadPool.h"
#include "platform/files/FileManager.h"
#include "platform/midi/MidiSystem.h"

// The transport's centre: owns the MIDI client, follows device arrivals and removals, chooses and connects
// one device, and recognises every incoming reply, handing it to the one request that waits for it (the
// reply registry: at most one pending handler per reply kind).
//
// Threads: setup notifications and the delegate's arrival and removal notices run on the main queue;
// replies are recognised, and handlers called, on the MIDI input thread in arrival order, so no work
// on the shared pools can hold one back; handlers must return quickly. Registrations may come from any
// thread. The registry is guarded by a mutex; a handler is taken out
// under it and called outside it, so a handler may register the next request itself. Patch files the
// device sends are stored on a queue of their own (one thread, in arrival order), never on the reply
// thread.
class CMidiDevice : public CMidiInDeleagte {
public:
    static constexpr std::uint32_t kNoDevice = 0xFFFFFFFFu;

    // The file-system kinds come last, from FFSRespondence on.
    enum class ReplyKind {
        Identity,
        PatchData,
        SupportQFXInformation,
        SupportPatchInformation,
        AdvancedPatchInformation,
        Respondence,
        FFSRespondence,
        DiskFree,
        InforRead,
        FFileLength,
        FFindFirst,
        FOpen,
        FWrite,
        FRead1,
        FRead2,
        FFSACK,
    };
    static constexpr std::size_t kReplyKinds = 16;

    // Every handler is called with received = true and the reply's decoded fields.
    using IDReplyBlock = std::function<void(bool received, const Bytes& identity, const Bytes& version)>;
    using PatchDataDumpBlock = std::function<void(bool received, const Bytes& data, std::int32_t group,
                                                  std::int32_t bank, std::int32_t patch, std::int64_t size)>;
    using SupportQFXInformationBlock = std::function<void(bool received, const Bytes& gen, const Bytes& region,
                                                          const Bytes& regionLv, std::uint8_t useUnitNum)>;
    using SupportPatchInformationBlock =
        std::function<void(bool received, const Bytes& gen, const Bytes& region, std::uint8_t useUnitNum)>;
    using AdvancedPatchDataInformationBlock = std::function<void(bool received, const AdvencedPatchInformation&)>;
    using RespondenceBlock = std::function<void(bool received, std::int32_t code)>;
    using FFSRespondenceBlock = std::function<void(bool received, std::int32_t code)>;
    using DiskFreeBlock = std::function<void(bool received, std::uint32_t total, std::uint32_t free)>;
    using InforReadBlock = std::function<void(bool received, std::uint16_t numOfInfo, std::uint16_t numOfFiles,
                                              std::uint16_t numOfSectors, const Bytes& version)>;
    using FFileLengthBlock = std::function<void(bool received, std::uint32_t length)>;
    using FFindFirstBlock = std::function<void(bool received, const std::string& name, std::uint32_t value)>;
    using FOpenBlock = std::function<void(bool received, const Bytes& handle)>;
    using FWriteBlock = std::function<void(bool received, std::uint32_t count)>;
    using FRead1Block = std::function<void(bool received, std::uint32_t count)>;
    using FRead2Block = std::function<void(bool received, const Bytes& data)>;
    using FFSACKBlock = std::function<void(bool received, std::uint8_t code)>;
    // What a reply must show to answer the pending request. One that does not is a late answer to an
    // earlier request whose operation was dropped: it is dropped, and the request goes on waiting.
    using FFSRespondenceMatch = std::function<bool(std::int32_t code)>;
    using FFindFirstMatch = std::function<bool(const std::string& name)>;

    // rootFolder is the program's data root; the device working folders live under it. The constructor
    // clears the registry and creates the connection (on the main queue).
    CMidiDevice(platform::MidiSystem& system, platform::Dispatch& dispatch, platform::FileManager& files,
                std::string rootFolder);
    ~CMidiDevice() override;
    CMidiDevice(const CMidiDevice&) = delete;
    CMidiDevice& operator=(const CMidiDevice&) = delete;

    // The program's instance, over the shared MIDI system and dispatch, made on first use.
    static CMidiDevice& sharedCMidiDevice();

    // --- connection ---
    void createConnection();
    void setMidiDeviceDelegate(std::shared_ptr<MidiDeviceDelegate> delegate);
    bool scanDevicesAndConnect();
    // The next scan starts from the first device.
    void restartScan();
    bool connectDevice(platform::MidiRef device);
    bool connectNewDeviceDetected();
    bool checkConnectCurrentDevice();
    void disconnectCurrentDeviceInMidiDevice();
    void clearCurrentDeviceInMidiDevice();
    std::uint32_t getCurrentDevice() const;
    std::optional<std::string> getDeviceName();
    std::optional<std::string> getName(platform::MidiRef object);
    std::optional<std::string> getDisplayName(platform::MidiRef object);
    void sendSysExMessage(const std::uint8_t* bytes, std::int64_t size);
    // Sends a file-system request answered by a bare code that nobody will wait for.
    void sendUnawaitedFileRequest(const std::uint8_t* bytes, std::int64_t size);
    void receiveMessagesFromDevice(std::vector<OKVSysExMessage> messages) override;
    // "Device/Effect" for type 1, "Device/Patch" otherwise, under the root; created when missing.
    std::optional<std::string> createFolderInBundleWithType(int type);
    void close();

    // --- patch files ---
    // Called on the patch-file queue with the stored file's path, or nothing when it could not be written.
    using PatchStoredBlock = std::function<void(const std::optional<std::string>& path)>;
    // Stores patch data as "%d_%d_%d.qptc" (group, bank, patch) in the device patch folder on the patch-file
    // queue, after every store asked for before it; a file already holding exactly these bytes is left
    // untouched. Returns at once.
    //
    // `more` says another store of the same run follows (a dump's next patch is already asked for). While
    // such stores come quicker than a wake-up of the queue's thread is worth, they are held and handed
    // over together, up to kStoreBatch at a time, instead of waking the thread for each; at a cable's
    // pace every store goes at once. Held stores go to the queue with the next store that has no more
    // to follow, and with afterPatchFilesStored(), flushPatchFiles(), clearBufferBlockWaiting() and the
    // destructor.
    void storePatchFile(std::int32_t group, std::int32_t bank, std::int32_t patch, Bytes data,
                        PatchStoredBlock stored, bool more = false);
    // Runs task on the patch-file queue once every store asked for before it has ended.
    void afterPatchFilesStored(std::function<void()> task);
    // Hands every held store to the patch-file queue.
    void flushPatchFiles();
    // Stores held back at most, and the gap between two stores under which they are held.
    static constexpr std::size_t kStoreBatch = 16;
    static constexpr std::chrono::microseconds kQuickStores{150};

    void midiNotifyCallback(const platform::MidiNotification& notification);
    void notifyAddDevice(platform::MidiRef device);
    void notifyRemoveDevice(platform::MidiRef device);
    void notifyChangeStateDevice(platform::MidiRef device);

    std::uint64_t currentDeviceConnect() const;
    std::uint32_t newDevicePlugin() const;
    CMidiIn& midiIn() { return m_midiIn; }
    CMidiOut& midiOut() { return m_midiOut; }
    platform::MidiRef client() const { return m_client; }

    // --- reply registry ---
    // Each answers false, sending nothing, while its kind is pending; otherwise the handler is in place
    // before the request (bytes with F0 and F7) leaves. A file-system request answered by a bare code
    // (an unlink, a close, a find), or first by a value that depends on what it asks (a length, a handle, a
    // count), leaves only once no answer the unit may still owe can be taken for its own: until then it
    // waits behind a probe (OwedCodeAnswers), pending all the while.
    bool registerIndentityReplyMessage(IDReplyBlock handler, const std::uint8_t* bytes, std::int64_t size);
    bool registerPatchDataDumpMessage(PatchDataDumpBlock handler, const std::uint8_t* bytes, std::int64_t size,
                                      std::int32_t patchNum, std::int32_t bankNum, std::int32_t groupNum);
    bool registerSupportQFXInformationMessage(SupportQFXInformationBlock handler, const std::uint8_t* bytes,
                                              std::int64_t size);
    bool registerSupportPatchInformationMessage(SupportPatchInformationBlock handler, const std::uint8_t* bytes,
                                                std::int64_t size);
    bool registerAdvencedPatchDataInformationMessage(AdvancedPatchDataInformationBlock handler,
                                                     const std::uint8_t* bytes, std::int64_t size);
    bool registerRespondenceMessage(RespondenceBlock handler, const std::uint8_t* bytes, std::int64_t size);
    // Awaits the alternative answer to a request sent under another kind; sends nothing.
    bool registerRespondenceMessage(RespondenceBlock handler);
    bool registerFFSRespondenceMessage(FFSRespondenceBlock handler, const std::uint8_t* bytes, std::int64_t size);
    bool registerFFSRespondenceMessage(FFSRespondenceBlock handler, FFSRespondenceMatch match = {});
    bool registerDiskFreeMessage(DiskFreeBlock handler, const std::uint8_t* bytes, std::int64_t size);
    bool registerInforReadMessage(InforReadBlock handler, const std::uint8_t* bytes, std::int64_t size);
    bool registerFFileLengthMessage(FFileLengthBlock handler, const std::uint8_t* bytes, std::int64_t size);
    bool registerFFindFirstMessage(FFindFirstBlock handler, const std::uint8_t* bytes, std::int64_t size,
                                   FFindFirstMatch match = {});
    bool registerFOpenMessage(FOpenBlock handler, const std::uint8_t* bytes, std::int64_t size);
    // Told, on the input thread, of a file the unit opened with no open awaiting its answer (the late
    // answer to an open whose read or write was cut off, or the second of two where a stale one was taken
    // first): nobody else will close it.
    void setStrayOpenHandler(std::function<void(const Bytes& handle)> handler);
    bool registerFWriteMessage(FWriteBlock handler, const std::uint8_t* bytes, std::int64_t size);
    bool registerFRead1Message(FRead1Block handler, const std::uint8_t* bytes, std::int64_t size);
    bool registerFRead2Message(FRead2Block handler, const std::uint8_t* bytes, std::int64_t size);
    bool registerFFSACKMessage(FFSACKBlock handler, const std::uint8_t* bytes, std::int64_t size);
    // Drops every pending handler uncalled and forgets the recorded patch address and the announced device.
    void clearBufferBlockWaiting();

    // Whether a request of the kind waits for its answer (held behind a probe included).
    bool isPending(ReplyKind kind) const;
    // How many file-system replies so far came with no request of their kind waiting, or belonging to an
    // earlier one: each is the unit's answer to a request whose chain has ended, or one a later reply was
    // taken for in its place.
    std::uint64_t strayFileSystemReplies() const;
    // Read by a file-system code handler while it is called: whether the code it was handed may be the
    // late answer of a request whose chain was cut (OwedCodeAnswers), so a query asks again.
    bool takenCodeMayBeLate() const { return m_takenCodeMayBeLate.load(); }
    // A query asked again for a code in doubt has answers that stand: the codes counted owed that never
    // came are written off.
    void settleOwedCodes();
    // How many whole messages the unit sent so far, answers or not: what tells a unit that stopped
    // answering from one that answers slowly.
    std::uint64_t messagesHeard() const { return m_messagesHeard.load(); }
    // Whether any request waits for its reply.
    bool awaitsReply() const;
    std::int32_t numGroupRegister() const;
    std::int32_t numBankRegister() const;
    std::int32_t numPatchRegister() const;

    // One whole reply without F0 and F7; called on the MIDI input thread, one message at a time.
    void handleByteDataReveices(const std::uint8_t* bytes, std::int64_t size);
    static bool compileData(const std::uint8_t* data, std::int64_t size, std::uint32_t crc);
    void patchDataChangeWithNumGroup(std::int32_t group, std::int32_t bank, std::int32_t patch, const Bytes& data,
                                     std::int64_t size);

private:
    using Handlers = std::tuple<IDReplyBlock, PatchDataDumpBlock, SupportQFXInformationBlock,
                                SupportPatchInformationBlock, AdvancedPatchDataInformationBlock, RespondenceBlock,
                                FFSRespondenceBlock, DiskFreeBlock, InforReadBlock, FFileLengthBlock,
                                FFindFirstBlock, FOpenBlock, FWriteBlock, FRead1Block, FRead2Block, FFSACKBlock>;

    template <ReplyKind kind, typename Handler>
    bool registerKind(Handler handler, const std::uint8_t* bytes, std::int64_t size, bool send);
    // Takes the kind's handler out (clearing it, its flag and the partner kind) when it is pending.
    // belongs runs under the registry lock; a reply it refuses leaves the kind pending.
    template <ReplyKind kind>
    std::tuple_element_t<static_cast<std::size_t>(kind), Handlers> take(
        std::optional<ReplyKind> partner, const std::function<bool()>& belongs = {});
    bool pendingLocked(ReplyKind kind) const;
    // Pending, or held behind a probe.
    bool busyLocked(ReplyKind kind) const;
    struct HeldRequest;
    // While an answer may still come for an ended request that the request could take for its own (a
    // bare code, or a late value of the kind it awaits first), the request is held and a probe
    // (OwedCodeAnswers) sent first: the probe's bytes to send, or nothing when it must not wait or no kind
    // of probe can prove anything now (the request then goes as it is, and is not held).
    std::optional<Bytes> holdLocked(HeldRequest& request);
    // The bytes of a probe of a kind other than `held` whose answer settles every debt, its handler in place.
    std::optional<Bytes> probeLocked(std::uint8_t deviceID, std::size_t held);
    void probeAnswered(std::uint64_t generation);
    void probeAcknowledged(std::uint64_t generation);
    // Puts the held request's handlers in place and numbers it; answers its bytes to send.
    Bytes releaseHeldLocked();
    void clearLocked(ReplyKind kind);
    void handlePatchData(const std::uint8_t* b, std::int64_t size);
    void handleFileSystemData(const std::uint8_t* b, std::int64_t size);
    std::shared_ptr<MidiDeviceDelegate> delegate() const;
    std::optional<std::string> writePatchFile(std::int32_t group, std::int32_t bank, std::int32_t patch,
                                              const Bytes& data);
    struct PatchStore {
        std::int32_t group, bank, patch;
        Bytes data;
        PatchStoredBlock stored;
    };
    // Posts the held stores as one task. Called with m_storeMutex held, so batches reach the queue in the
    // order their stores were asked for.
    void postHeldStoresLocked();

    platform::MidiSystem& m_system;
    platform::Dispatch& m_dispatch;
    platform::FileManager& m_files;
    std::string m_rootFolder;
    CMidiIn m_midiIn;
    CMidiOut m_midiOut;
    // Lets notifications already queued on the main queue see that this object is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    mutable std::mutex m_stateMutex;
    platform::MidiRef m_client = platform::kMidiNoRef;
    std::uint32_t m_currentDevice = kNoDevice;
    std::uint64_t m_currentDeviceConnect = 0;
    std::uint32_t m_newDevicePlugin = kNoDevice;
    std::shared_ptr<MidiDeviceDelegate> m_delegate;

    mutable std::mutex m_registryMutex;
    Handlers m_handlers;
    std::array<std::int32_t, kReplyKinds> m_flags{};
    FFSRespondenceMatch m_ffsRespondenceMatch;
    FFindFirstMatch m_findFirstMatch;
    std::function<void(const Bytes& handle)> m_strayOpen;  // registry mutex
    std::uint64_t m_strayFileSystemReplies = 0;             // registry mutex
    std::atomic<std::uint64_t> m_messagesHeard{0};
    OwedCodeAnswers m_owedCodes;  // registry mutex
    // The number of the request each pending kind awaits the answer to (registry mutex).
    std::array<OwedCodeAnswers::Request, kReplyKinds> m_sentAt{};
    // A request waiting behind a probe: it has not left yet (registry mutex).
    struct HeldRequest {
        Bytes bytes;
        bool code = false;                              // a bare code may answer it
        std::size_t value = OwedCodeAnswers::kKinds;    // the kind of value that may answer it, if any
        // Puts its handlers in place as it leaves as request `at` (registry mutex).
        std::function<void(OwedCodeAnswers::Request at)> install;
    };
    std::optional<HeldRequest> m_held;
    // Bumped by every clear: a probe's step of an earlier operation finds it changed and does nothing.
    std::uint64_t m_registryGeneration = 0;  // registry mutex
    RepeatedDumpAnswer m_repeatedDump;  // registry mutex
    // Set on the input thread just before a code handler is called.
    std::atomic<bool> m_takenCodeMayBeLate{false};
    std::int32_t m_numGroupRegister = -1;
    std::int32_t m_numBankRegister = -1;
    std::int32_t m_numPatchRegister = -1;

    std::mutex m_storeMutex;
    std::vector<PatchStore> m_heldStores;
    std::chrono::steady_clock::time_point m_lastStoreAsked;

    // One thread, so stores land in the order they were asked for; ended (its queue run out) by the
    // destructor before anything above goes.
    std::unique_ptr<platform::ThreadPool> m_patchFiles;
};
