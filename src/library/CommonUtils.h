#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Stdqueue.h"
#include "device/formats/OKVQFXInformation.h"
#include "device/sequencer/ParserDataDelegate.h"
#include "device/transport/PatchObject.h"
#include "library/CommonUtilsDelegate.h"
#include "library/LibraryIdentity.h"
#include "library/LibraryPlaces.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/TimerService.h"
#include "platform/files/FileManager.h"
#include "platform/plist/PlistValue.h"
#include "server/AllQFXData.h"

class DirectoryObject;
class OKVPatch;
// ---- includes of the pools, the server side and the patch effect dictionary ----
#include <variant>

#include "device/formats/OKVEffect.h"
#include "device/formats/OKVPatch.h"
#include "device/formats/OKVSimpleEffect.h"
#include "library/PoolCopyLedger.h"
#include "library/PoolMovesAsked.h"
#include "library/PoolNote.h"
#include "library/PoolPatchFacts.h"
#include "library/SleepLetGo.h"
#include "library/UnreadPoolFiles.h"
#include "library/UnitConnections.h"
#include "library/models/StoredPatchTexts.h"
#include "library/models/DirectoryObject.h"
#include "library/store/MappingObject.h"
#include "library/store/OKVLocalFileController.h"
#include "platform/bundle/Localizer.h"
#include "platform/bundle/ProcessInfo.h"
#include "platform/image/BitmapImageRep.h"
#include "server/AppsVersion.h"
#include "server/ModelsVersion.h"

class OKVServerController;
class OKVServerDelegate;
// ---- end of those includes ----

class EffectItem;
class ApplicationLifecycle;
class ParserDataController;
class PatchItem;
class UnnamedCopies;

namespace platform {
class Configuration;
class PowerEvents;
}  // namespace platform

// The coordinator between the interface, the device sequencer and the server client. Every user action on
// the device is a request: it waits in a FIFO and runs only when the one before it has ended, so exactly
// one device action is under way at a time; timed requests give the device up when no result comes.
//
// All state lives on one serial queue: requests, the pump, the sequencer's results and time-out expiries
// are posted there. A reset bumps a generation, so a request dropped by it never runs and a time-out or
// result of a dropped request changes nothing. The interface is told on the main queue, never waited for.
class CommonUtils : public ParserDataDelegate {
public:
    // The folder layout under the root folder.
    static constexpr const char* kTemp = "Temp";
    // The prefix of an earlier run's "Temp", renamed aside for removal in the background.
    static constexpr const char* kTempAside = ".Temp-old";
    // The prefix of a working copy kept at the end of a run whose last save failed; the next start shows it.
    static constexpr const char* kKeptPool = ".Pool-kept";
    // A kept pool's folder name: ".Pool-kept-<time>-<library stamp>", followed by ".taken-<stamp>" while a
    // save that writes it is replacing the library by the one of that stamp.
    struct KeptName {
        std::string base;         // the name without its taken mark
        std::string madeAgainst;  // empty for a pool kept by a version that did not say
        std::string takenFrom;
        bool taken = false;
        std::int64_t timeNs = 0;
    };
    static KeptName keptNameOf(const std::string& name);
    // The group a kept pool shown beside the library puts its patches in, named for its session.
    static std::string keptSessionGroupName(const KeptName& kept);
    static constexpr const char* kTempDevice = "Temp/Device";
    static constexpr const char* kTempDeviceEffect = "Temp/Device/Effect";
    static constexpr const char* kTempDevicePatch = "Temp/Device/Patch";
    static constexpr const char* kTempEffectList = "Temp/Effect/List";
    static constexpr const char* kTempEffectPool = "Temp/Effect/Pool";
    static constexpr const char* kTempLocal = "Temp/Local";
    static constexpr const char* kTempPatch = "Temp/Patch";
    static constexpr const char* kTempRecycleBin = "Temp/RecycleBin";
    // Where an edit of a patch file keeps the former file: a folder of its own, since the unit's folder may
    // be removed on another thread while a pool patch is edited. Emptied with "Temp" at the next start.
    static constexpr const char* kTempFormerFiles = "Temp/Former";
    static constexpr const char* kStoreEffect = "QFXMacApplication/Effect";
    static constexpr const char* kStoreImage = "QFXMacApplication/Image";
    static constexpr const char* kStorePatchPool = "QFXMacApplication/Patch/Pool";
    static constexpr const char* kStorePatchBackup = "QFXMacApplication/Patch/Backup";
    // The saved library while a save moves its successor in.
    static constexpr const char* kStorePatchAside = "QFXMacApplication/.Patch-old";
    // The name a save's new library is built under beside the library, before it is swapped in.
    static constexpr const char* kPatchStagingPrefix = ".Patch-saving";
    static constexpr const char* kDevicePatch = "Device/Patch";
    static constexpr const char* kQFXListFileName = "FLST_SEQ.QT2";
    // Per unit, what an effect edit under way still has to put on it; kept until the unit confirms its new
    // list, since the unit's file system cannot replace a file in one step.
    static constexpr const char* kStoreDeviceRepair = "QFXMacApplication/DeviceEdit";

    // The device actions a request can run. Each has its own operation flags and request time-out.
    enum class RequestKind {
        GetQFXList,
        Eject,
        EjectForClosing,
        UpdateEffect,
        FavouriteEffect,
        AddEffect,
        DeleteEffect,
        SelectPatch,
        WriteOnePatch,
        WriteGroupPatchs,
        WriteAllPatch,
        // At a connection, before the read: finishes an effect edit the unit was left in the middle of.
        RepairEffectList,
    };
    // The request time-out of a kind in seconds; 0 for none.
    static int requestTimeOut(RequestKind kind);
    // What the interface is told a request of `kind` does.
    static CommonUtilsDelegate::DeviceWork deviceWorkOf(RequestKind kind);

    struct Collaborators {
        platform::Dispatch& dispatch;
        platform::TimerService& timers;
        platform::FileManager& files;
        const platform::Configuration& configuration;
        ParserDataController& parser;
        // The root folder; the folder layout lies under it.
        std::string rootPath;
    };

    // Start-up: becomes the sequencer's delegate and recreates "Temp" empty.
    explicit CommonUtils(Collaborators collaborators);
    ~CommonUtils() override;
    CommonUtils(const CommonUtils&) = delete;
    CommonUtils& operator=(const CommonUtils&) = delete;

    // The instance the program builds at start.
    static CommonUtils& getInstance();
    static void setShared(CommonUtils* utils);

    void setDelegate(CommonUtilsDelegate* delegate) { m_delegate.store(delegate); }
    CommonUtilsDelegate* delegate() const { return m_delegate.load(); }
    const std::string& rootPath() const { return m_rootPath; }
    // `relative` under the root folder.
    std::string pathUnderRoot(const std::string& relative) const;

    // ---- the request queue ----
    // The pump: hands the oldest request over when no request is running, and tells the interface
    // whether the device side is busy. Safe from any thread.
    void checkAddOperation();
    // Arms the request time-out at the larger of `seconds` and the sequencer's own watchdog for the
    // operation plus one command time-out, so the sequencer always gets to report first. A second
    // arming replaces the first.
    void setupTimerWithTimeOut(int seconds, float sequencerWatchdog = 0.0F);
    void resetTimer();
    // Drops every waiting request, every operation flag and the connected device's facts and lists, and
    // tells the interface; the flags of the session (ejected, sleep, closing, pool loaded) stay.
    void resetQueue();
    // The common form of every request method: queue a request of `kind` whose flow starts the device
    // operation, then pump. With `whileConnected`, nothing is queued unless a device is connected.
    // `sequencerWatchdog` is how long the sequencer's own watchdog for the operation runs.
    void addRequest(RequestKind kind, std::function<void()> start, float sequencerWatchdog = 0.0F,
                    bool whileConnected = true);

    // ---- device connection requests ----
    void connectDevice();
    void dataFromDevice();
    std::int32_t getMaxEffectInDevice() const;
    std::uint32_t getNumberOfExistedEffectsInDevice() const;
    std::optional<std::string> getDeviceVersion() const;
    std::optional<std::string> getDeviceName() const;
    // Neither argument is used: the eject waits behind the queued requests like any other.
    void ejectDeviceWithPatchList(const std::vector<std::shared_ptr<PatchItem>>& patchList,
                                  const std::function<void(bool)>& successBlock);
    void ejectDeviceForClosing();
    // Drops every queued request and ejects at once, connected or not.
    void forceEjectDevice();
    // The same for a failing process: the device is told to leave editor mode on the calling thread,
    // before this returns, as the state queue may be the one that failed; the reset follows there.
    void forceEjectDeviceNow();

    // ---- server side ----
    // A catalogue arrived: none, an empty one, or a usable one.
    void dataFromServer(const std::optional<AllQFXData>& data);
    // The effect store is ready: the device is scanned for, or after an eject connected again. The
    // ejected flag is cleared before the connection handler runs, so that handler never starts a second
    // synchronisation for the same eject.
    void downloadFileSuccess(bool success);


    // ==== patch library on disk, patch files, patch transfer, bin, backups, pool save ====
    // Paths handed in are absolute or relative to the root folder. The file routines run on the calling
    // thread and share nothing but the file system; rewrites take one lock.
    static constexpr const char* kPatchExtension = "qptc";

    // The patch write info of the copies into the pool, the device folders and the file manager.
    struct PatchWriteInfo {
        bool replace = false;
        bool copiedToFinder = false;
        std::int64_t index = -1;
    };

    // ---- patch library on disk ----
    std::string absolutePath(const std::string& path) const;
    // A group's folder name: every ":" written as "-".
    static std::string groupFolderName(const std::string& groupName);
    bool checkFilePatchWithfilePath(const std::string& path);
    static bool isPathOfFile(const std::string& path);
    std::shared_ptr<PatchItem> readFilePatchWithPath(const std::string& path);
    std::int32_t getNumberOfSlotsInBank();
    bool isPatchFileIncompatibleWithPath(const std::string& path);
    void updateIncompatiblePathItemInDirectory(DirectoryObject& node);
    // The copy read back, or none; `error` then says why where the files do (domain "files", an errno
    // code) or the source is no patch file (kPatchErrorDomain, kNotAPatchFile).
    std::shared_ptr<PatchItem> writeFilePatchWithPath(const std::string& source, const std::string& toPath,
                                                      const PatchWriteInfo& info, platform::Error* error = nullptr);
    static constexpr const char* kPatchErrorDomain = "patch";
    static constexpr std::int64_t kNotAPatchFile = 1;
    // One patch file to copy into a folder, and what became of it.
    struct PatchCopy {
        std::string source;
        std::string toPath;
    };
    struct CopiedPatch {
        // The copy read back; none when it failed.
        std::shared_ptr<PatchItem> item;
        // The copy's mark against the connected device; false while none is connected.
        bool isIncompatible = false;
        // Why the copy failed, as writeFilePatchWithPath tells it.
        platform::Error error;
        // Withdrawn by a step that keeps the node and asks the copy again itself (a deletion or a move of
        // it): the node is no longer this batch's to fill or take out.
        bool handedOver = false;
    };
    // The patch files among `paths` read on the pool's queue, the others left out; `done` gets them on the
    // main thread, in order, and is dropped once the coordinator is gone.
    void readFilePatchesLater(std::vector<std::string> paths,
                              std::function<void(std::vector<std::shared_ptr<PatchItem>>)> done);
    // The copies made in order on the pool's queue, each with its mark; `done` gets them on the main
    // thread, in the same order, and is dropped once the coordinator is gone. It is pool work: see
    // settlePoolWork.
    void writeFilePatchesLater(std::vector<PatchCopy> copies, std::function<void(std::vector<CopiedPatch>)> done);
    // Results of copies, each with its place among the copies asked; `last` with the batch's end.
    using CopiesLanded = std::function<void(std::vector<std::pair<std::size_t, CopiedPatch>>, bool last)>;
    // The same, the results handed back in parts: a step on a copy's file (settlePoolWorkFor) has that
    // copy made and handed back first, the batch's end hands back the rest.
    void writeFilePatchesLaterInParts(std::vector<PatchCopy> copies, CopiesLanded landed);
    // Every change to the pool's working copy runs in the order the user asked for it. Work handed to the
    // pool's queue lands (its result handed back) on the main thread in the order asked; this runs what is
    // queued and lands it here and now, so a step that touches the working copy or saves it next finds
    // every earlier copy made and in its node. Main thread (or a thread the main thread waits for).
    void settlePoolWork();
    // The same for a step on `paths` alone (the files it reads or writes, the folders it moves, removes or
    // puts files into): what has landed is handed back; a copy of one of those files is handed back ahead
    // of its batch, made here when it had not begun, else waited for alone; and the main thread waits for
    // the copies under way only when one of them is into or inside one of those paths. Any other copy goes
    // on beside the step, which can meet none of its files.
    void settlePoolWorkFor(const std::vector<std::string>& paths);
    // The copies asked of these files into these folders (source, folder) that have not begun are not made
    // after all: they are handed back here and now as failed with ECANCELED, which nobody is told. For an
    // addition undone before its copies were made; one begun or made already lands here, alone.
    // `handOver`: handed back as handed over instead (see CopiedPatch). Answers, for each of `copies`,
    // whether it was withdrawn.
    std::vector<bool> withdrawPoolCopies(const std::vector<PatchCopy>& copies, bool handOver = false);
    // Runs `then` on the main thread once no read of dropped files nor work asked of the pool's queue is
    // left to land: at once when none is, else on a later turn of the main queue (never inside a step
    // that lands work), after what the last landing asked for has landed too. Main thread.
    void afterPoolWork(std::function<void()> then);
    bool isPoolWorkPending() const { return m_poolWorkPending.load() > 0 || m_poolReadsPending > 0; }
    // How many of the pool's copies asked and not landed yet are made, of how many; the delegate hears it
    // (poolCopiesProgress) as they go and (0, 0) once none is left.
    std::pair<std::size_t, std::size_t> poolCopiesProgress() const { return m_copyLedger.progress(); }
    void copyGroup(const DirectoryObject& group, const std::string& toPath);
    std::string movePatchItem(PatchItem& item, const std::string& groupName);
    // Each patch's file moved into the group's folder (the top of the pool for an empty name), in order;
    // each one's new path, "" where its file could not move.
    std::vector<std::string> movePatchItems(const std::vector<PatchItem*>& items, const std::string& groupName);
    // The same for the files at `paths`. Safe on the pool's queue.
    std::vector<std::string> movePatchFiles(const std::vector<std::string>& paths, const std::string& groupName);
    // The same on the pool's queue, in order with the copies and every other change to the working copy:
    // `done` gets each file's new path ("" where it could not move) on the main thread. Until then a step
    // on any file or folder of the pool (settlePoolWorkFor) and a save land it first. Main thread.
    void movePatchFilesLater(std::vector<std::string> paths, std::string groupName,
                             std::function<void(std::vector<std::string>)> done);
    // Lands the moves asked of the pool's queue, and what was asked before them. Main thread.
    void settlePoolMoves();
    // The same when a waiting move takes one of the files at `paths` (as the patches name them), else
    // nothing: a step reading a patch no move takes does not wait. Main thread.
    void settlePoolMovesOf(const std::vector<std::string>& paths);
    // Runs `step` once the moves asked of the pool's queue have landed, at once when none waits; the main
    // thread does not wait for them. Main thread.
    void whenPoolMovesLanded(std::function<void()> step);
    // 0 done, 1 a folder of that name exists, 2 refused or failed.
    std::int32_t renameGroup(DirectoryObject& group, const std::string& newName);
    std::string createNewDirectoryPath(const std::string& path);
    void removeFileWithPath(const std::string& path);
    void removeDeviceDataFolder();
    // The same for the connection the window lost, on the state queue (which writes those folders) once the
    // pool's copies under way have landed (they may read the unit's folder), the window free meanwhile; a
    // unit connected after this is asked is read only once the removal is behind it. A connection that began
    // reading before the removal's turn (the unit back before the window handled the loss) keeps its folders.
    // Main thread.
    void removeDeviceDataFolderAfterPoolWork();

    // ---- patch files: names and comments ----
    // Rewrites the item's file with its name and comment; on success the item's comment is the one the
    // file now holds.
    // `restore`: fields written back byte for byte instead of the item's texts, which then read them.
    bool editFilePatch(PatchItem& item, const StoredPatchTexts* restore = nullptr);
    // The name and comment fields as the file stores them; none when it cannot be read.
    std::optional<StoredPatchTexts> storedPatchTexts(const std::string& path) const;

    // ---- recycle bin, backups, pool save ----
    std::string deletePatchItem(const PatchItem& item, const DirectoryObject* group);
    std::string undoPatchItem(const PatchItem& item, const DirectoryObject* group);
    std::string deletePatchGroup(const DirectoryObject& group);
    std::string undoPatchGroup(DirectoryObject& group);
    std::string canBackupWithName(const std::string& name);
    // 1 written, 3 replaced, 2 a folder, file or copy failed, 4 the old group could not be removed.
    std::int32_t backupPatchListWithName(const std::string& name, const std::vector<std::shared_ptr<PatchItem>>& patchList);
    bool checkBackupGroupTheSeemModel(const std::string& groupName);
    // The same by the model the group's node holds, without reading its record: for the main thread.
    bool checkBackupGroupTheSeemModel(const DirectoryObject& group);
    bool restorePatchWithPatchItems(const std::vector<std::shared_ptr<PatchItem>>& items);
    // Saves only a loaded pool that changed; `changed` is cleared once the new library is in place. Why
    // the save failed, when it did; the saved library then stays as it was.
    // A save whose entries could not all be staged still replaces the library with those that could (and
    // the last saved copies of the others) and answers which were not saved.
    std::optional<std::string> savePatchPoolToLocal(const std::vector<std::shared_ptr<DirectoryObject>>& pool, std::atomic<bool>& changed);
    // The same save in two halves, for a caller whose thread must go on while the library is written.
    // On the main thread: the closing note written and the copies landed; whether there is anything to
    // write (and then whether the save is the closing one).
    // `closingAsked`: whether the end (a quit or a power-off) asked for it.
    std::optional<bool> beginPatchPoolSave(const std::vector<std::shared_ptr<DirectoryObject>>& pool, bool changed,
                                           bool closingAsked);
    // Then the writing, on the pool's queue in order with every change to the working copy; `done` is
    // called there with why the save failed, nothing when the library holds `pool`. The pool is the
    // caller's own copy: the shown tree may change meanwhile.
    void writePatchPoolLater(std::vector<std::shared_ptr<DirectoryObject>> pool, bool closing,
                             std::function<void(std::optional<std::string>)> done);
    // A save's failure, told to the interface while the program runs (not at the end, whose caller says it);
    // the caller of `writePatchPoolLater` decides whether its failure stands.
    void tellPatchPoolNotSaved(const std::string& failure, bool closing);
    // The words a failed save is told in: the entries left out (none when the library could not be written
    // at all), the user's library folder and the cause. The program gives its own, in the interface
    // language; without them the system's English words are used.
    using SaveFailureWords = std::function<std::string(const std::vector<std::string>& entries, const std::string& folder,
                                                       const platform::Error& cause)>;
    void setSaveFailureWords(SaveFailureWords words) { m_saveFailureWords = std::move(words); }
    static std::string defaultSaveFailureWords(const std::vector<std::string>& entries, const std::string& folder,
                                               const platform::Error& cause);
    // A save's cause carries, under this key, the library's part ("Pool", "Backup") whose link leads within
    // the library or to a folder holding it.
    static constexpr const char* kLinkedPartInfo = "linkedPart";
    // A load's cause carries, under this key, what kept the library from being read when it was no listing:
    // the working copy could not be made (kWorkingCopyNotMade), or a place behind a link that held the
    // library or a part at the last save is missing or empty now, as a drive or share not mounted (kAway).
    static constexpr const char* kUnreadInfo = "unread";
    static constexpr const char* kWorkingCopyNotMade = "working copy";
    static constexpr const char* kAway = "away";
    // A save's cause carries it under kUnreadInfo when the library's place holds another library than the one
    // the run loaded or last saved (another drive mounted where its share was): no save replaces that one.
    static constexpr const char* kAnotherLibrary = "another library";
    // The words the load tells a folder of the library it could not list in, and why (the program's own,
    // in the interface language; else the system's English words).
    using ReadFailureWords = std::function<std::string(const std::string& folder, const platform::Error& cause)>;
    void setReadFailureWords(ReadFailureWords words) { m_readFailureWords = std::move(words); }
    static std::string defaultReadFailureWords(const std::string& folder, const platform::Error& cause);
    // At the end of a run whose last save did not write the pool whole: the working copy is renamed aside,
    // then its entries named in the pool's order, for the next start to show and save; the name says which
    // library it was made against. Nothing when it was kept or nothing needed keeping, else why it could
    // not be kept.
    std::optional<std::string> keepUnsavedPatchPool();
    // The same on the pool's queue, behind the saves asked before it; `done` is called there.
    void keepUnsavedPatchPoolLater(std::function<void(std::optional<std::string>)> done);

    // ---- patch transfer to the device ----
    void selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index);
    void writeToDeviceWithPatchItem(const std::shared_ptr<PatchItem>& item, std::int64_t index);
    void writeToDeviceWithPatchGroup(const std::vector<std::shared_ptr<PatchItem>>& items,
                                     const std::vector<std::int64_t>& indexes);
    void writeToDeviceWithPatchList(const std::vector<std::shared_ptr<PatchItem>>& items);
    // The device's slots and their files as the last dump and writes left them.
    std::vector<PatchObject> allPatchDataList();
    // ==== end of the patch block ====

    // ---- ParserDataDelegate: each hops onto the state queue ----
    void notifyDataPatchChange(const PatchObject& patch) override;
    void notifyDisconnectToDevice() override;
    void connectionWithState(std::int32_t state, std::int32_t subState) override;
    void ejectDeviceWithState(std::int32_t state, std::int32_t subState) override;
    void getAllPatchDataDumpWithState(std::int32_t state,
                                      const std::optional<std::vector<PatchObject>>& allPatchData) override;
    void writeAllPatchDataDumpWithState(std::int32_t state) override;
    void writeOnePatchDataDumpWithState(std::int32_t state) override;
    void writeGroupPatchDataDumpWithState(std::int32_t state) override;
    void selectPatchWithState(std::int32_t state) override;
    void getQFXListOrQFXWithState(std::int32_t state, const std::optional<Bytes>& qfxList) override;
    void writeQFXListAndQFXWithState(std::int32_t state) override;
    void getMemoryStatusWithState(std::int32_t state, float status) override;
    void deleteQFXWithState(std::int32_t state, std::int32_t subState) override;
    void fileListFlushWithState(std::int32_t state) override;
    void getFileLengthWithState(std::int32_t state, std::int64_t fileSize) override;
    void patchTransferProgress(std::int32_t done, std::int32_t total) override;
    void patchWrittenToSlot(const PatchObject& slot) override;

    // ---- sleep, wake and quitting ----
    // How long quitting waits for the closing eject before the program ends anyway.
    static constexpr std::chrono::seconds kQuitWatchdog{20};
    // How long an announced sleep is held back once the device has been force-ejected: the device is let
    // go a second after it is told to leave editor mode.
    static constexpr std::chrono::milliseconds kSleepHold{1500};
    // The source of sleep and wake notices; observed from here on (`systemNotifications`). Null to stop.
    void setPowerEvents(platform::PowerEvents* power);
    void setApplicationLifecycle(ApplicationLifecycle* lifecycle) { m_lifecycle.store(lifecycle); }
    void systemNotifications();
    void receiveSleepNote();
    void receiveWakeNote();
    void powerOffNotification();
    // The Quit command: ends at once without a device, else after the closing eject (or its watchdog).
    void closeApp();
    // The end a session asks for (a signal): as the Quit command, the writes already queued go first and
    // the unit is ejected behind them, but the program ends at the latest `limit` from now, whatever is
    // still running; a later request's own time-out never moves that end.
    void closeAppWithin(platform::Duration limit);
    void forceCloseApp();
    // A quit was asked (by any route): from here on the program is closing, and a pool that a save would
    // write is noted at once, before any wait for copies, the eject or the save, so that a run cut from
    // now on keeps it for the next start. Any thread the pool's tree may be read on.
    // `asker`: a power-off's save notes its pool for a power-off, which the system may call off.
    void noteQuitAsked(const std::vector<std::shared_ptr<DirectoryObject>>& pool, bool changed,
                       PoolNote::Asker asker = PoolNote::Asker::Quit);
    // The pool changed: while a note stands (a quit's, a power-off's, a failed save's) or the program is
    // closing, it is written again for the pool as it shows now, the closing state left as it is (an edit
    // lands the patch's copy first, so its note line names the copy that holds the edit). Main thread.
    void noteQuitAgain(const std::vector<std::shared_ptr<DirectoryObject>>& pool, bool changed);
    // Whether a note for the next start stands (see PoolNote).
    bool isPoolNoted() const { return m_poolNote.stands(); }
    bool isClosing() const { return m_closing.load(); }

    // ==== readers and small rules ====
    // The date stamp that pairs a synchronisation's "do" with its "finish".
    static std::string createSynchronizationCode();
    // A module file's item; nothing when the file cannot be read or is not a module file.
    std::shared_ptr<EffectItem> getEffectItemWithPath(const std::string& path) const;
    // A patch file's item; nothing unless the file begins with "PTCF".
    std::shared_ptr<PatchItem> getPatchItemWithPath(const std::string& path) const;
    static std::string getFileNameFromIndexSavingName(const std::string& name);
    // The entry of `effectType` in entries sorted by type, probing each middle entry's file header.
    std::optional<MappingObject> binarySearchWithEffectType(std::uint32_t effectType,
                                                            const std::vector<MappingObject>& sorted) const;
    // The first "<name> (n)<.ext>" beside `path`, n from 1, that does not exist yet.
    std::string createNewNameForPath(const std::string& path) const;
    static bool checkVersionServer(const std::string& versionServer, const std::string& versionDevice);
    // Only the empty name counts as blank; else ASCII of 1 to 10 bytes.
    static bool validatePatchName(const std::optional<std::string>& name);
    // Blank, or at most 200 bytes without a NUL: ASCII, or Shift-JIS for the "ja" interface.
    static bool validatePatchComment(const std::optional<std::string>& comment, const std::string& language);
    // Whether a Japanese comment's Shift-JIS form reads back as the comment, each character as itself (the
    // wave dash as the full-width tilde, the one form the code page gives that same code).
    static bool readsBackAsWritten(const std::string& comment, const std::vector<std::uint8_t>& encoded);
    bool deleteRecycleBin();
    // The first preferred localisation: "ja" or "en".
    const std::string& preferredLocalization() const { return m_preferredLocalization; }
    void setPreferredLocalization(std::string language) { m_preferredLocalization = std::move(language); }

    // ==== server side ====
    using ServerClientFactory = std::function<std::shared_ptr<OKVServerController>()>;
    // How a short-lived server client is made; by default one on the root folder and this configuration.
    void setServerClientFactory(ServerClientFactory factory);
    // The server client's delegate: forwards every report onto the coordinator's state queue, and drops
    // reports that arrive after the coordinator has gone.
    std::shared_ptr<OKVServerDelegate> serverDelegate();
    void requestServerConnected();
    void syncEffect();
    // The connected model's stored picture, read and decoded on a queue of its own (a picture the server
    // sent is never decoded on the interface thread) and handed to `done` on the main queue; nothing
    // without a device, a matching model or a readable file.
    void getImageDevice(std::function<void(std::optional<platform::BitmapImageRep>)> done);
    void compareModelVersion();
    void setApplicationVersion(std::string version) { m_applicationVersion = std::move(version); }
    void internetConnectionWithState(bool state);
    void connectServer(bool state);
    void appVersionFromServer(const std::optional<AppsVersion>& document);
    void modelVersionFromServer(const std::optional<ModelsVersion>& document);
    void downloadImageSuccess(bool success);

    // ==== effect pool ====
    using Tree = std::vector<std::shared_ptr<DirectoryObject>>;
    // Builds the tree once, re-marks a copy while a device is connected, and hands it to the interface.
    void mergeEffect();
    // On the state queue.
    Tree createEffectPool();
    void updateEffectPool(Tree& tree);
    std::optional<OKVEffect> getOKVEffectWithPath(const std::optional<std::string>& path) const;
    // What the device effect list reader fills in: the device's effect files and their types.
    void setEffectListFromDevice(std::vector<MappingObject> effects, std::vector<std::uint32_t> effectTypes);

    // ==== patch library tree ====
    // An element a list copy takes: a path, a patch item, a pool node or a pool entry.
    using CopySource = std::variant<std::string, std::shared_ptr<PatchItem>, std::shared_ptr<DirectoryObject>, MappingObject>;
    // Loads the saved pool into "Temp/Local" once per process, off the caller's thread; the tree arrives
    // as patchPoolDirectoryObject.
    void createPatchDirectoryObjectFromLocal();
    void sendPatchPoolData(Tree tree);
    bool isLoadedPatchPool() const { return m_isLoadedPatchPool.load(); }
    Tree convertToDirectoryObject(const std::vector<MappingObject>& list, int type) const;
    Tree convertToDirectoryObject(const std::vector<std::string>& paths, int type) const;
    std::vector<MappingObject> updateAttributesOfPatchPool(const std::vector<std::string>& list,
                                                           const std::vector<MappingObject>& backupList) const;
    void updateDirectoryObjectForPatchPool(const Tree& nodes);
    // Judges each patch file on the pool's queue (from what the load kept of it, while it is unchanged) and
    // sets its node's mark, and with a device's effects known its effect list and warning, on the main
    // thread.
    // `roots`, the top-level nodes of the pool the leaves make up whole, when they do; `connection`, the
    // unit's connection they are judged for.
    void markPatchNodesLater(std::vector<std::pair<std::shared_ptr<DirectoryObject>, std::string>> leaves,
                             std::optional<std::vector<const DirectoryObject*>> roots, std::uint64_t connection);
    // The generation of what the warnings of the pool whose top-level nodes are `nodes` were judged against
    // by the load or by the marks of a device connecting after it (the one now, while such a judgement is
    // under way, which tells when it lands); nothing for another tree or one never judged whole here.
    std::optional<std::uint64_t> poolWarningsJudgedAgainst(const Tree& nodes);
    std::optional<OKVPatch> getOKVPatchWithPath(const std::optional<std::string>& path,
                                                platform::Error* error = nullptr) const;
    std::string copyFileList(const std::vector<CopySource>& list, const std::string& destination);
    std::string copyFileFromFilePath(const std::string& source, const std::string& destination, bool replace,
                                     platform::Durability durability = platform::Durability::Durable,
                                     platform::Error* error = nullptr);
    // The save of the pool ("Temp/Local" back to the store) is the interface's; will-sleep and
    // will-power-off call it through here as quitting does, so the pool is kept in the same format.
    void setPatchPoolSaver(std::function<void()> saver);
    // Runs the saver when the pool has been loaded; false when nothing was saved.
    bool saveLoadedPatchPool();

    // ==== patch effect dictionary and warnings ====
    void getEffectListWithPatch(PatchItem& patch) const;
    // The effect list of the patch file at `path`, as getEffectListWithPatch sets it; none when the file
    // cannot be read or no device is connected. Safe on any thread.
    std::optional<platform::PlistDictionary> effectListWithPatchPath(const std::string& path) const;
    // The warning the list gives, as updatePatchWarningWithPatchItem sets it; none where it leaves the
    // warning as it was.
    std::optional<bool> patchWarningWithEffectList(const platform::PlistDictionary& list) const;
    void updatePatchWarningWithPatchItem(PatchItem& patch) const;
    void updatePatchWarningInPatchList(const std::vector<std::shared_ptr<PatchItem>>& list) const;
    void updatePatchWarningInPatchPool(const Tree& nodes) const;
    // The same for the patches of these nodes (a group's, for a group), whose every file is read: read on the pool's queue, the lists and
    // warnings set on the main thread, then `applied` runs there. Nothing is read while no device's
    // effects are known; `applied` then runs at once.
    void updatePatchWarningInPatchPoolLater(const Tree& nodes, std::function<void()> applied);
    // Changes whenever what a warning is judged against (the unit's effects, the catalogue) does.
    std::uint64_t effectTablesGeneration() const { return m_effectTablesGeneration.load(); }

    // ==== effect library: the device effect list, use counts, effect edits, updates ====
    using EffectItems = std::vector<std::shared_ptr<EffectItem>>;
    using PatchItems = std::vector<std::shared_ptr<PatchItem>>;

    static void countEffectUsedTimesInEffectList(const EffectItems& effectList, const PatchItems& patchItemList);
    static void countEffectUsedTimesWithEffectItem(const std::shared_ptr<EffectItem>& item,
                                                   const PatchItems& patchItemList);
    static std::int64_t checkEffectExisted(const EffectItem& item, const EffectItems& effectList);
    // Sends the device effect list to the interface.
    void createEffectList();

    // The effect screen's requests; without a device each does nothing.
    void deleteEffectItem(const std::shared_ptr<EffectItem>& item);
    void addFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item);
    void removeFavouriteOfEffectItem(const std::shared_ptr<EffectItem>& item);
    void recoverEffectItem(const std::shared_ptr<EffectItem>& item);
    void addEffectItem(const std::shared_ptr<EffectItem>& item);
    void replaceEffectItem(const std::shared_ptr<EffectItem>& item);

    // Queues one update for every loaded effect the pool has in a newer version, then a closing action.
    void updateEffectDevice();
    // The effect types loaded on the device, in list order, as the state queue last published them.
    std::vector<std::uint32_t> getEffectTypeListInDevice() const;
    // ==== end of the effect library ====

private:
    // Reaches the request time-out's expiry as the timer would deliver it, at any moment.
    friend class CommonUtilsProbe;

    struct Request {
        RequestKind kind;
        std::function<void()> start;
        float sequencerWatchdog = 0.0F;
    };
    // What the getters answer from, as the state queue last published it: they never wait on it.
    struct Published {
        bool isConnectDevice = false;
        std::int32_t deviceID = 0;
        std::string deviceName;
        std::int32_t numberOfEffectInDevice = 0;
        std::uint32_t numberOfEffects = 0;
        std::optional<AllQFXData> allQFXData;
        std::vector<std::uint32_t> effectTypeListInDevice;
    };

    void post(std::function<void()> task);
    // Sends one message to the interface on the main queue, about the connection begun last, or about
    // `connection` (what the window asks while handling it belongs to that one).
    void tell(std::function<void(CommonUtilsDelegate&)> message);
    void tellAbout(std::uint64_t connection, std::function<void(CommonUtilsDelegate&)> message);
    void publish();
    void startUp();
    // On the clean-up queue: the work folders of unpacks cut short inside the effect store.
    void removeWorkFoldersInEffectStore();

    // On the state queue.
    void pump();
    void lookBeforeEject();
    void ejectLookAnswered(std::uint64_t generation);
    void runFlow(const Request& request);
    void getQFXListFromDeviceFlow(const Request& request);
    void ejectingDeviceFlow(const Request& request);
    void ejectDeviceForClosingFlow(const Request& request);
    std::vector<bool*> operationFlags(RequestKind kind);
    // A result of `kind` belongs to the running request; false for a late one after a reset.
    bool isRunning(RequestKind kind) const;
    // The common end of every result handler: flags down, time-out off, the next request.
    void finishRequest(RequestKind kind);
    void armTimer(int seconds, float sequencerWatchdog);
    void reset();
    void forceEject();
    void actionTimeOut(std::uint64_t generation, std::uint64_t handOver);
    void failDeviceRead(std::int32_t state);

    // ==== effect library (state queue) ====
    void receiveQFXListOrQFX(std::int32_t state, const std::optional<Bytes>& data);
    void storeReceivedQFX(const Bytes& data);
    void readQFXList(const Bytes& data);
    void updateEffectPathForEffectList();
    void createEffectListNow();
    std::optional<std::uint32_t> storeEntryType(const MappingObject& entry) const;
    void requestEffectAction(RequestKind kind, std::int32_t actionType, const std::shared_ptr<EffectItem>& item);
    void actionWithEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t actionType);
    void modifyQFXListWithEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t actionType);
    void runUpdateQFXListBlock();
    void giveActionResult(std::int32_t result);
    std::optional<RequestKind> runningEffectAction() const;
    // Device lost or gone during an effect action; false for any other result.
    bool effectActionLost(std::int32_t state, bool lost);
    void endEffectActionWithMemoryStatus();
    void clearEffectLibrary();
    void updateQFXInfo(const OKVQFXInformation& qfxInfo, const OKVSimpleEffect& effectServer);
    void updateEffectToDeviceFlow(const OKVQFXInformation& qfxInfo, const OKVSimpleEffect& effectServer);
    void finishUpdateEffectToDevice();

    std::optional<std::vector<OKVQFXInformation>> m_qfxInfoListFromQFXList;
    // The unit's list records matched against the store's listing: its effects and loaded types.
    void matchDeviceEffectList();
    // The store files of the unit's effects, copied where the effect list reads them.
    void copyDeviceEffectFiles();
    std::function<void()> m_createEffectListBlock;
    std::function<void(std::int32_t)> m_effectScreenActionBlock;
    std::function<void()> m_updateQFXListBlock;
    std::function<void()> m_updateEffectDeviceBlock;
    // The device file of the delete under way is gone; a later failure then no longer keeps its type.
    bool m_isEffectFileDeleted = false;
    // The type an add put into the loaded types, taken out again when the add fails.
    std::optional<std::uint32_t> m_addedEffectType;
    // The list the prepared edit writes, and the one it replaces.
    Bytes m_editedList;
    Bytes m_replacedList;
    // The running edit's module step reached the unit (so a later failure leaves it half done), and
    // whether a changed list was to be told before the edit began.
    bool m_effectActionChangedUnit = false;
    bool m_changeEffectListBeforeAction = false;

    // ---- an edit finished at the unit's next answer (CommonUtilsEffectRepair.cpp) ----
    // Find: what the unit holds of a module that cannot be written again; DropModule: such a module the
    // unit does not hold whole is taken off it, and its records unloaded.
    // Check: the unit's own list, read first, tells whether the kept edit is this unit's; CheckModules:
    // a unit without a list is the edit's (or the known list's) when its files are as that edit left
    // them: the edit's own module as its module step made it, the modules the replaced list names
    // loaded held, and none held that the edited list names unloaded.
    enum class RepairStep { Check, CheckModules, Module, Find, DropModule, List, Flush };
    // Before an edit's first step reaches the unit: its module step ("write" or "delete" of `fileName`
    // from `path`, or "none"), the list it writes and the one it replaces, in a folder of the model's
    // named after the replaced list, so that edits left on several units of the model are all kept.
    void keepEditForRepair(const std::string& moduleAction, const std::string& fileName, const std::string& path);
    // The unit holds the running edit's new list, or the edit never touched it.
    void dropEditForRepair();
    void dropKeptEdit(const std::string& folder);
    // The model's folder (the known list), and the folder of an edit that replaces `replaced`.
    std::string repairFolder() const;
    std::string repairRecordFolder(const Bytes& replaced) const;
    struct KeptEdit {
        std::string folder;
        std::string moduleAction;
        std::string fileName;
        std::string path;
        Bytes edited;
        Bytes replaced;
    };
    // The folders holding a kept edit of the model.
    std::vector<std::string> keptEditFolders() const;
    // The kept edits that read whole; one that does not is dropped.
    std::vector<KeptEdit> readKeptEdits();
    void selectKeptEdit(const KeptEdit& edit);
    void tryNextRepairCandidate();
    // On a connection: queues the finishing of a kept edit ahead of the read.
    void queueEffectListRepair();
    void repairEffectListFlow();
    void repairStepDone(std::int32_t state);
    void writeRepairList(bool replaced);
    void dropRepairModule(const std::string& fileName);
    // The unit's answer to the find: a whole module stays, named loaded in the version it holds.
    void repairFound(std::int32_t state, const std::optional<Bytes>& data);
    // The last list read from the unit, kept beside its edits.
    void keepKnownList(const Bytes& list);
    // The unit was found without a list: the known one goes back ahead of a new read. False when this
    // program knows no list of the unit.
    bool restoreKnownList();
    void repairChecked(std::int32_t state, const std::optional<Bytes>& data);
    void repairModuleChecked(std::int32_t state, std::int64_t length);
    void startRepairModuleStep();
    // The unit is not the one the kept edit was left on, or was changed elsewhere: it is left as it is.
    void leaveRepairForAnotherUnit();
    // The folder of the running edit's kept record, and of the kept edit being finished.
    std::string m_editRecord;
    std::string m_repairRecord;
    // The kept edits a unit without a list is still to be tried against, the first one being tried.
    std::vector<KeptEdit> m_repairCandidates;
    RepairStep m_repairStep = RepairStep::Module;
    bool m_repairModuleWrite = false;
    std::string m_repairModuleAction;
    std::string m_repairPath;
    // One file a unit without a list must hold (of the length, when known), or must lack, to be the one
    // a kept edit was left on.
    // A file a check that only ranks (`ranks`), or of another length, finds otherwise leaves the unit the
    // edit's when no kept edit fits it better.
    struct UnitFileCheck {
        std::string name;
        bool held = true;
        std::optional<std::int64_t> length;
        bool ranks = false;
    };
    std::vector<UnitFileCheck> unitFileChecks(const KeptEdit& edit) const;
    // The files still to be looked at on a unit without a list, and the one asked about.
    std::vector<UnitFileCheck> m_repairModulesToFind;
    std::optional<UnitFileCheck> m_repairFileAsked;
    // Whether the candidate being looked at failed a ranking check, and the first such candidate.
    bool m_repairCandidateRanksLow = false;
    std::optional<KeptEdit> m_repairFallback;
    // A known list is put back at most once a connection.
    bool m_knownListRestoreTried = false;
    // The module a kept edit could not finish, which the unit's list no longer names.
    std::optional<std::string> m_repairDroppedModule;
    std::string m_repairFileName;
    // ==== end of the effect library ====

    platform::Dispatch& m_dispatch;
    platform::FileManager& m_files;
    const platform::Configuration& m_configuration;
    ParserDataController& m_parser;
    std::string m_rootPath;
    std::shared_ptr<platform::SerialQueue> m_state;
    std::shared_ptr<bool> m_alive;
    std::atomic<CommonUtilsDelegate*> m_delegate{nullptr};
    platform::Timer m_rescanTimer;
    // How long the running request's time-out was armed for; zero when it runs untimed.
    platform::Duration m_runningLimit{0};
    mutable std::mutex m_publishedMutex;
    Published m_published;

    // Everything below is touched on the state queue only.
    Stdqueue<Request> m_queueRequest;
    std::uint64_t m_generation = 0;
    // Moves at every hand-over of a request, which a reset does not cover: a request that ends by its
    // result leaves the generation as it was, and the next one must not take its time-out.
    std::uint64_t m_handOver = 0;
    // An eject's last look before the unit goes: the interface is asked for what it still owes the unit
    // (a change the unit made within the quiet time, merged and written back), and the patch writes
    // queued behind the eject go ahead of it. Unasked: the eject at the queue's front has not been offered; Asking: the
    // interface has it, and nothing is handed over meanwhile; Answered: the eject goes at its next turn.
    enum class EjectLook { Unasked, Asking, Answered };
    EjectLook m_ejectLook = EjectLook::Unasked;
    // The generation of the queue the connect read's patch dump was asked in, until its result came.
    std::optional<std::uint64_t> m_dumpAskedIn;
    std::optional<RequestKind> m_running;
    // The request handed over whose flow has not begun yet (`m_running` names it once it has): a sleep
    // coming between the two judges it by its kind all the same.
    std::optional<RequestKind> m_handedOver;
    std::optional<AllQFXData> m_allQFXData;
    std::vector<std::string> m_modelNameList;
    std::string m_deviceName;
    std::int32_t m_deviceID = 0;
    std::int32_t m_numberOfEffectInDevice = 0;
    std::string m_qfxListPathDevice;
    bool m_isWorking = false;
    bool m_isQFXList = false;
    bool m_isGettingDataDevice = false;
    bool m_isDeleteEffectDevice = false;
    bool m_isFavouriteEffectDevice = false;
    bool m_isAddEffectDevice = false;
    bool m_isChangeEffectList = false;
    bool m_isUpdateEffectDevice = false;
    bool m_isRetry = false;
    bool m_isLoadedPatchList = false;
    bool m_isConnectDevice = false;
    bool m_isConnectingInternet = false;
    bool m_isSleep = false;
    bool m_isEjectDeviceForClosing = false;
    bool m_isWriteOnePatchToDevice = false;
    bool m_isWriteGroupPatchsToDevice = false;
    bool m_isWriteAllPatchToDevice = false;
    bool m_isSelectedPatchInDevice = false;
    bool m_isEjectedDevice = false;

    // ==== patch block, private ====
    using PatchResultBlock = std::function<void(std::int32_t state)>;
    bool publishedConnected() const;
    // A failed write's recovery: the old item from the file the list entry still names, the written
    // file kept in the device working folder. Nothing when the entry's file does not read.
    std::shared_ptr<PatchItem> recoverFailedWrite(PatchObject& written, std::size_t index);
    bool validIndex(std::int64_t index) const;
    void finishPatchRequest(std::int32_t state, RequestKind kind, PatchResultBlock CommonUtils::*stored);
    bool moveFilesOfGroup(const std::string& from, const std::string& to);
    // Links one entry of the pool into the staging folder; `error` says why when it could not. Safe to run
    // for several entries at once.
    bool savePoolEntry(const DirectoryObject& entry, std::size_t position, const std::string& staging,
                       platform::Error& error) const;
    // Stages every entry that can be; false only when no library can be made of the staging folder.
    bool stagePool(const std::vector<std::shared_ptr<DirectoryObject>>& pool, const std::string& staging);
    bool linkTree(const std::string& from, const std::string& to, int depth);
    // Why the save under way could not stage the library, or the first entry it could not (the pool's queue).
    platform::Error m_stageFailure;
    // The folder that refused the save when it was not the library's own (a linked part's, on its drive).
    std::string m_stageFailureFolder;
    SaveFailureWords m_saveFailureWords = &CommonUtils::defaultSaveFailureWords;
    ReadFailureWords m_readFailureWords = &CommonUtils::defaultReadFailureWords;
    // Why this run's load could not read its library whole, as told to the user; empty when it could
    // (m_markedMutex).
    std::string m_libraryUnread;
    void tellUnlisted(const std::vector<std::pair<std::string, platform::Error>>& unlisted);
    // The names of the entries the save under way could not stage (the pool's queue).
    std::vector<std::string> m_stageSkipped;
    // The last saved copies of the library's entries by folder ("Pool", "Backup") and plain name.
    std::map<std::pair<std::string, std::string>, std::string> savedEntries() const;
    // The pool the last save could not write whole, kept at the end for the next start (the pool's queue).
    std::vector<std::shared_ptr<DirectoryObject>> m_unsavedPool;
    bool m_poolUnsaved = false;
    // The load showed a working copy a failed run kept: the next save writes it even without an edit.
    std::atomic<bool> m_poolFromKept{false};
    // The kept working copies in the root folder, oldest first.
    std::vector<std::string> keptPools() const;
    // Moves the kept working copies out of the next start's way, for removal.
    void dropKeptPools(const std::vector<std::string>& kept);
    bool nameForKeeping(const std::string& source, const std::string& target, const std::string& folder,
                        std::set<std::string>& kept);
    // Which library a kept pool was made against: what the library holds (LibraryIdentity), or kNoLibrary
    // for a library that is missing or cannot be read whole. Pool's queue.
    std::string libraryStamp(const std::string& library) const;
    // A part of the library ("Pool", "Backup") that is neither a folder nor a link to one: it is never
    // read, and a save keeps it as it is under keptAsideName.
    bool isLibraryPartKeptAside(const std::string& part) const;
    // A part of the library that is a link to a folder, as a save writes it: the folder it points at,
    // the new one staged beside it and the old one set aside (the pool's queue).
    struct LinkedPart {
        std::string link;
        std::string target;
        std::string staged;
        std::string aside;
        bool swapped = false;
    };
    bool stageLinkedParts(const std::string& library, const std::string& staging, std::vector<LinkedPart>& linked);
    // Swaps each staged part in where its link points; false (and why in `error`) when one cannot be.
    bool swapLinkedParts(std::vector<LinkedPart>& linked, platform::Error& error);
    // The folders a cut save left `folder` aside as, beside it, the newest last; with `legacy`, also those
    // named as earlier versions named the library's (which did not say which folder they stood for).
    std::vector<std::string> asideFoldersOf(const std::string& folder, bool legacy) const;
    // Of those, each one a save cut between its two moves left (its staging folder still beside it), with
    // that staging folder: what it holds may be held nowhere else, so no save removes either. `exact` takes
    // only a staging folder named at the aside's time, as this version names both.
    std::map<std::string, std::string> cutAsidesOf(const std::string& folder, bool legacy, bool exact) const;
    // Whether a part linking to `target` lies within `library` or holds it: no save can swap it in.
    bool linksWithinLibrary(const std::string& library, const std::string& target) const;
    // Puts back what swapLinkedParts replaced, when the library itself could not be.
    void putBackLinkedParts(const std::vector<LinkedPart>& linked);
    static std::string keptAsideName(const std::string& part);
    static constexpr const char* kNoLibrary = "none";
    // The start found the library away from where a link leads (a drive or share not mounted): no save of
    // this run writes one there (also m_markedMutex).
    bool m_libraryHeldBack = false;
    // Where the library and its linked parts lay when this run last found them whole (its start or its last
    // landed save); every save judges them again against it (the pool's queue only).
    LibraryPlaces m_places;
    // The library or a linked part that is away now (a share gone since, a link leading nowhere), and why:
    // no save writes in its stead.
    std::optional<std::pair<std::string, platform::Error>> placeAwayNow(const std::string& library);
    // The library's place when it holds patches of another library than the one this run loaded or last
    // saved (another drive mounted where the share was, a copy put in its place), and why: no save replaces it.
    std::optional<std::pair<std::string, platform::Error>> anotherLibraryNow(const std::string& library);
    // Whether the library is reached through a link of the data folder, its store or its own place.
    bool libraryBehindLink() const;
    // The library as this run last loaded or saved it (also m_markedMutex).
    std::string m_libraryStamp = kNoLibrary;
    // The digests of that library's files, by their path in it: the place still holds that library while it
    // holds one of them (also m_markedMutex).
    LibraryIdentity::Known m_libraryFiles;
    std::string libraryStampNow();
    // Renames the working copy aside to a kept pool made against `stamp`, then names the entries of `pool`
    // in its order; the patch files it does not name go when `sweep` is set. Why it could not, else nothing.
    std::optional<std::string> keepWorkingCopy(const std::vector<std::shared_ptr<DirectoryObject>>& pool, const std::string& stamp,
                                               bool sweep);
    // Once a quit has begun, the pool the closing save writes, in order, with the library it was made against
    // and the kept pools it holds, in "Temp"; marked taken just before the library is replaced, removed once
    // it was. A run cut before its save lands leaves it, and the next start keeps its working copy by it.
    static constexpr const char* kClosingPool = "Temp/.closing-pool";
    // The note's text: the pool in order, the library it was made against and the kept pools it holds.
    std::string closingPoolText(const std::vector<std::shared_ptr<DirectoryObject>>& pool);
    // The save's writing, on the pool's queue; why it failed, nothing when the library holds `pool`.
    // `noteSeen`: the notes written when the save was asked; a later one stands for a later pool, and this
    // save neither takes it nor writes over it.
    std::optional<std::string> writePatchPool(const std::vector<std::shared_ptr<DirectoryObject>>& pool, bool closing,
                                              std::uint64_t noteSeen);
    std::optional<std::string> keepUnsavedPatchPoolOnQueue();
    void keepPoolOfACutRun();
    // The working copy's file (relative to it) that keeps the patch a cut run was still copying from
    // `source`: the copy that landed after the note, else one made now; nothing when the file is gone.
    // `folder`: the group's folder the copy goes into, relative to the working copy ("" at the top).
    std::optional<std::string> copyOfAPendingPatch(const std::string& source, const std::string& folder,
                                                   UnnamedCopies& landedLate);
    // A copy of `source` (holding `bytes`) that landed and was edited since (renamed, its comment changed)
    // before the note was written again: the unnamed file of `folder` under the name the copy took, the
    // same patch but for its texts.
    std::optional<std::string> editedCopyOf(const std::string& source, const std::vector<std::uint8_t>& bytes,
                                            const std::string& folder, UnnamedCopies& landedLate);
    // The files a cut run's pool was still copying from that were gone at this start (m_markedMutex): the
    // pool shown without them says so.
    std::vector<std::string> m_keptWithout;
    // dropKeptPools for the kept pools of those names, under a save's taken mark too.
    void dropKeptPoolsOf(const std::vector<std::string>& kept);
    // The kept working copies this run's pool holds (the pool's queue, changed under m_markedMutex): a save that writes them puts them
    // aside first, under a name that says which library it replaced, and removes them once it landed.
    std::vector<std::string> m_keptLoaded;
    // Puts the kept copies this run holds aside before the library is replaced, named for the library the
    // save writes (`writes`); false (and the cause in m_stageFailure) when one cannot be, and then none is.
    // Gives them back when the save does not land.
    bool takeKeptPools(const std::string& writes, std::vector<std::pair<std::string, std::string>>& taken);
    void giveBackKeptPools(const std::vector<std::pair<std::string, std::string>>& taken);
    bool isShownPatchFile(const std::string& path) const;
    // Whether `folder` holds a patch file directly.
    bool holdsShownPatchFiles(const std::string& folder) const;
    // `group`: the node whose folder it is, whose files the load kept unread go whatever they read as.
    bool carryOver(const std::string& folder, const std::string& target, const std::set<std::string>& shown,
                   bool withRecord, const DirectoryObject* group);
    // Set once the program is closing: a failed save then only leaves the saved library as it was.
    std::atomic<bool> m_closing{false};
    // The wake notes heard so far.
    std::atomic<std::uint64_t> m_wakes{0};
    // The note a cut run's next start keeps its pool by. A save that failed while the program runs leaves
    // the pool it held noted, so that a run cut after it keeps its working copy for the next start.
    PoolNote m_poolNote{m_files, pathUnderRoot(kClosingPool)};
    // Pool work: `work` runs on the pool's queue and answers what lands on the main thread.
    void runPoolWork(std::function<std::function<void()>()> work);
    void landPoolWork();
    std::mutex m_landingMutex;
    std::deque<std::function<void()>> m_landings;  // m_landingMutex
    // Told whenever a landing is ready.
    std::condition_variable m_landingReady;
    // Asked and not landed yet.
    std::atomic<std::int64_t> m_poolWorkPending{0};
    // The copies among that work, for the steps that need not wait for them.
    PoolCopyLedger m_copyLedger;
    // The moves of the pool's files among that work.
    PoolMovesAsked m_poolMoves;
    // A batch of copies not landed yet. `results[i]` is written by whoever makes copy i (the pool's queue,
    // or the main thread that took it) and read on the main thread once the ledger says it is made.
    struct CopyBatch {
        std::vector<PatchCopy> copies;
        std::vector<CopiedPatch> results;
        std::vector<bool> handedBack;  // main thread
        CopiesLanded landed;
    };
    std::map<std::uint64_t, std::shared_ptr<CopyBatch>> m_copyBatches;  // main thread
    // Hands back ahead of their batches the copies of `files` not landed yet (settlePoolWorkFor).
    void landCopiesOf(const std::vector<std::string>& files);
    // The same for these copies (batch and place).
    void landCopies(const std::vector<std::pair<std::uint64_t, std::size_t>>& copies);
    // Lands the pool's work until the batch of copies numbered `batch` has landed, and all asked before it.
    void settlePoolWorkThrough(std::uint64_t batch);
    // One copy into the pool's working copy, the source read once.
    CopiedPatch copyOnePatch(const PatchCopy& copy);
    void tellPoolCopiesProgress();
    // A landing under way: a step it runs that settles again finds nothing left to wait for.
    bool m_landing = false;
    // Reads of dropped files asked and not handed back yet (main thread).
    std::int64_t m_poolReadsPending = 0;
    // The files those reads hold, told to the busy line.
    std::size_t m_poolFilesReading = 0;
    // What waits for the pool's work to end (afterPoolWork), in the order asked; main thread.
    std::vector<std::function<void()>> m_afterPoolWork;
    bool m_afterPoolWorkPosted = false;
    // Runs the waiting steps once nothing is pending, on a turn of its own.
    void runAfterPoolWorkLater();
    std::mutex m_editMutex;
    std::vector<PatchObject> m_allPatchDataList;  // state queue
    PatchResultBlock m_selectPatchBlock;          // state queue
    PatchResultBlock m_writeOnePatchBlock;        // state queue
    PatchResultBlock m_writeGroupPatchsBlock;     // state queue
    PatchResultBlock m_writeAllPatchBlock;        // state queue
    // What each slot of the device holds as its replies came (the dump, each patch of ours it took, each
    // change it reported), so a failed write can put the slot's file back even after it was rewritten in
    // place, and a change tells what it was made to.
    std::vector<std::optional<Bytes>> m_deviceSlotBytes;  // state queue
    // The file of what the unit holds in each slot as its replies came, in their order: the dump's, each
    // patch of ours it took, each change it reported. A change binds to the patch the unit held.
    std::vector<std::string> m_unitHolds;  // state queue
    // Our patches asked to go to slots and not yet taken by the unit, oldest first.
    struct SlotWrite {
        std::uint64_t write = 0;
        std::size_t position = 0;
        std::string path;
        // The patch as the write took it when it began, which the unit holds once it took it.
        std::optional<Bytes> bytes;
        // The slot as the unit names it, taken while the unit's layout is known.
        std::string label;
    };
    // The slots of the writes asked and not yet taken, in the order asked, each once: after a write the
    // unit stopped answering in, these may not hold what the list showed.
    std::vector<std::string> slotsNotTaken() const;
    std::vector<SlotWrite> m_slotWrites;  // state queue
    std::uint64_t m_slotWritesAsked = 0;  // state queue
    // The write the unit is taking now.
    std::uint64_t m_runningSlotWrite = 0;  // state queue
    // The working copy each slot's last change on the unit went into, replaced whole by the next while
    // nothing else can hold it.
    std::map<std::size_t, std::string> m_unitCopies;  // state queue
    // Registers the slots a write asks for; answers its number.
    std::uint64_t askSlotWrites(const std::vector<std::size_t>& positions, const std::vector<std::string>& paths);
    void endSlotWrites(std::uint64_t write);
    // The files of the write's slots read as it begins, as the command layer reads them to send.
    void takeSlotWriteBytes(std::uint64_t write);
    // Records that the unit holds the write's patch in its slot.
    void landSlotWrite(const SlotWrite& landed);
    // A write that succeeded: the slots whose taking was not told are recorded, then the write ends.
    void endSlotWritesLanded(std::uint64_t write);
    // The working copy of a change the unit reported for the slot at `position`; empty when none.
    std::string unitCopyOf(const PatchObject& patch, std::size_t position, const std::string& held);
    std::vector<PatchObject> m_publishedPatchList;  // guarded by m_publishedMutex
    void publishPatchList();
    void clearPatchTransfer();
    void finishDump(std::int32_t failedState);
    void endConnectRead();
    // ==== end of the patch block, private ====
    // The session: sleep and quitting.
    // `wakes`: the wakes noted when the sleep was; a release after a later wake would let go the delay
    // taken for the next sleep.
    void sleepOnState(std::uint64_t wakes);
    // The sleep's wait for the unit (`SleepLetGo`): the eject queued behind the unit's work in hand and the
    // writes of its own changes, bounded by the system's delay; the unit forced off at once; the machine
    // let sleep once the unit is gone (after `hold`) and the pool's work is behind it.
    void beginSleepLetGo(std::uint64_t wakes);
    void sleepTimeRanOut(std::uint64_t wakes);
    // The unit went some other way while the sleep waited for it (pulled out, no answer, cut by a failure):
    // nothing is left to wait for but the forced eject's hold.
    void sleepUnitGone();
    void forceUnitOffForSleep(std::uint64_t wakes);
    void readyToSleepAfter(platform::Duration hold, std::uint64_t wakes);
    SleepLetGo m_sleepLetGo;
    void closeOnState();
    // While quitting: the end comes at the latest this long after the running request began, the larger of
    // the quit watchdog and that request's own time-out, so a long write is never cut short by the quit.
    void armQuitWatchdog();
    void forceCloseOnState();
    std::atomic<platform::PowerEvents*> m_power{nullptr};
    // Removals of the unit's folder asked and waiting for the pool's copies (asked on the main thread,
    // done on the state queue), and the connection states held behind them, in order (state queue).
    std::atomic<int> m_deviceFolderRemovals{0};
    int m_connectionStatesHeld = 0;
    // The connections that read into the unit's folders, and which one a message to the window was about.
    UnitConnections m_unitConnections;
    // Removes the unit's folders unless a connection after `connection` has begun reading into them.
    // State queue.
    void removeDeviceDataFolderOf(std::uint64_t connection);
    void takeConnectionState(std::int32_t state, std::int32_t subState);
    void takeHeldConnectionState(std::int32_t state, std::int32_t subState);
    std::atomic<ApplicationLifecycle*> m_lifecycle{nullptr};
    platform::Timer m_quitTimer;
    // Set by a bounded end: the quit watchdog is armed once, for this long, and never again.
    std::optional<platform::Duration> m_quitLimit;
    platform::Timer m_sleepTimer;
    bool m_isQuitting = false;

    // ==== state of the pools, the server side and the dictionary ====
    struct EffectTables;
    std::shared_ptr<const EffectTables> effectTables() const;
    void publishEffectTables();
    std::shared_ptr<OKVServerController> makeServerClient();
    bool deviceStillConnected() const;
    bool isUnderFolder(const std::string& path, const std::string& folder) const;
    std::string homeFolder() const;
    // A pool patch read once for the tree and, while a device is connected, its mark.
    struct ReadPatch {
        std::shared_ptr<PatchItem> item;
        bool incompatible = false;
    };
    static std::string fileNameForPatchName(const std::string& patchName, const std::string& sourceName);
    DirectoryObject::Item itemForPath(const std::string& path, int type, std::string& name) const;
    std::shared_ptr<PatchItem> patchItemFromPatch(const OKVPatch& patch, const std::string& path) const;
    // What the load and the pool's passes judge a patch by: the warnings while a device's effects are known.
    struct PoolJudge {
        bool mark = false;
        std::shared_ptr<const EffectTables> tables;
        bool warnings = false;
    };
    PoolJudge poolJudge(bool connected, std::optional<std::uint64_t>* against = nullptr) const;
    std::optional<ReadPatch> readPoolPatch(const std::string& path, bool mark) const;
    // Safe on the load's threads: what it read of the file goes to `facts`, and the digest of its bytes
    // (LibraryIdentity) to `digest` when it was read whole.
    std::optional<ReadPatch> readLoadedPatch(const std::string& path, const PoolJudge& judge,
                                             std::unordered_map<std::string, PoolPatchFacts::Facts>& facts,
                                             std::string* digest = nullptr) const;
    // Judges `patch`, read for `item`, as `judge` asks: its mark (whether the unit cannot take it) and, with the
    // unit's effects known, its effect list and warning set on the item. Safe on the load's threads.
    bool judgeLoadedPatch(const OKVPatch& patch, const PoolJudge& judge, PatchItem& item) const;
    // The patch file at `path` as the pool judges it: what the load kept of it while it is unchanged, else
    // read (and kept). Pool's queue only.
    std::optional<OKVPatch> judgedPatchAt(const std::string& path);
    std::optional<platform::PlistDictionary> effectListWithPatch(const OKVPatch& patch, const EffectTables& tables) const;
    std::optional<std::string> placeInWorkingCopy(const std::string& source, const std::string& folder,
                                                  const std::string& wanted, const std::string& saved);
    // Where the saved library lives: "QFXMacApplication/Patch", or where a link there points, for a user
    // who moved the library (or the data folder) to another disk. Only that link is followed; inside the
    // library links are kept unread.
    std::string libraryFolder() const;
    void recoverLibraryAside();
    // The same for each linked part: its folder a cut save left aside on its drive takes its place again
    // when nothing, or an empty folder, is there.
    void recoverLinkedPartsAside();
    std::string workingName(const std::string& folder, const std::string& wanted, const std::string& saved);
    // What the library holds that its identity does not count, brought beside a kept pool shown instead of
    // it: into the working copy's group of that name and part (`groups`), else to where it stood (`unplaced`).
    void carryLibraryStrays(const std::string& library, const std::map<std::pair<bool, std::string>, std::string>& groups,
                            const std::set<std::string>& shown, std::vector<std::pair<std::string, std::string>>& unplaced);
    void loadPatchPool();
    // Whether a kept pool's or a note's `named` library is the one whose identity is `stamp`, at `library`: a
    // name the version before the digests wrote is judged by that version's identity of it (`earlier`, taken
    // once and kept by the caller), so a pool it kept over this very library is not taken for another's.
    bool namesLibrary(const std::string& named, const std::string& stamp, const std::string& library,
                      std::optional<std::string>& earlier) const;
    // What the identity counts in a group's folder, by plain name.
    std::map<std::string, std::string> ownedInGroup(const std::string& folder) const;
    // The folder of the library's group (of `inLibrary`, the saved entries by part and plain name) that a
    // kept pool's `group` stands for: with `byNameOnly`, of its name; else of its name in another case, else
    // one holding what it holds byte for byte under another name, either not `claimed` by another group of
    // its kept pool (and claimed here); empty for none. `libraryGroups` keeps what each library group holds,
    // listed once for all the kept groups.
    using GroupsHeld = std::map<std::string, std::map<std::string, std::string>>;
    std::string libraryGroupOf(const std::map<std::pair<std::string, std::string>, std::string>& inLibrary, const std::string& group,
                               bool backup, bool byNameOnly, std::set<std::string>& claimed,
                               std::optional<GroupsHeld>& libraryGroups) const;
    // The top-level nodes of the tree the load marked, for which device and which of its connections (one
    // update may skip them), and what its warnings were judged against, by the load or the marks since. A
    // unit gone and back, or another of the model, is a connection of its own: the load may have judged
    // while the last one went (every file then read as one it cannot take).
    std::mutex m_markedMutex;
    std::vector<const DirectoryObject*> m_markedRoots;
    std::int32_t m_markedDevice = 0;
    std::uint64_t m_markedConnection = 0;
    std::optional<std::uint64_t> m_poolWarningsAgainst;
    int m_poolJudgementsUnderWay = 0;
    // What the load read of each patch file; the pool's queue only.
    PoolPatchFacts m_poolFacts;
    // The files the load took into the working copy unread, which every save carries whatever they read as.
    UnreadPoolFiles m_unreadPoolFiles;
    // Entries of the saved library or of a kept working copy the load could not place in the working copy,
    // each with where the save puts it in the library, under its own part (also m_markedMutex).
    std::vector<std::pair<std::string, std::string>> m_unplaced;
    // On the state queue.
    void mergeEffectNow();

    std::string m_preferredLocalization{platform::Localizer::languageFromEnvironment()};
    std::string m_applicationVersion{platform::ProcessInfo::current().bundleVersion};
    OKVLocalFileController m_localFileController{m_rootPath, std::string()};
    // The pool load reads and copies the whole library: it runs here, never on the state queue.
    std::shared_ptr<platform::SerialQueue> m_poolQueue{m_dispatch.makeSerial("library.pool", platform::Priority::Default)};
    // Reads and decodes the model pictures the interface asks for.
    std::shared_ptr<platform::SerialQueue> m_pictureQueue{m_dispatch.makeSerial("library.picture", platform::Priority::Default)};
    // Removes the earlier runs' "Temp" folders, renamed aside at the start.
    std::shared_ptr<platform::SerialQueue> m_cleanupQueue{
        m_dispatch.makeSerial("library.cleanup", platform::Priority::Background)};
    std::mutex m_serverMutex;
    ServerClientFactory m_serverClientFactory;
    std::function<void()> m_patchPoolSaver;
    std::atomic<bool> m_isCreatePatchPool{false};
    std::atomic<bool> m_isLoadedPatchPool{false};
    mutable std::mutex m_effectTablesMutex;
    std::shared_ptr<const EffectTables> m_effectTables;
    std::atomic<std::uint64_t> m_effectTablesGeneration{0};
    // On the state queue.
    std::string m_synchronizationCodeServer;
    std::optional<ModelsVersion> m_modelVersionData;
    std::vector<AllQFXEffects> m_effectListOfModelFromAllQFX;
    std::vector<MappingObject> m_effectListFromServer;
    std::vector<MappingObject> m_effectPool;
    std::vector<OKVSimpleEffect> m_okvEffectListFromServer;
    std::vector<MappingObject> m_effectListFromDevice;
    std::vector<std::uint32_t> m_effectTypeListInDevice;
    std::optional<Tree> m_dataDirectoryObject;
    // The store was listed (its downloads ended), and the tree was built from such a listing.
    bool m_effectStoreListed = false;
    bool m_effectTreeFromListing = false;
};
