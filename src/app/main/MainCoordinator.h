#pragma once

#include <QImage>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CommonUtilsDelegate;
class DirectoryObject;
class PatchItem;

// What the main window controller asks of the library coordinator and its undo stack.
class MainCoordinator {
public:
    using Tree = std::vector<std::shared_ptr<DirectoryObject>>;
    using PatchItems = std::vector<std::shared_ptr<PatchItem>>;

    virtual ~MainCoordinator() = default;

    virtual void setDelegate(CommonUtilsDelegate* delegate) = 0;
    // Starts the server synchronisation.
    virtual void syncEffect() = 0;
    // A server check whose answer comes back as serverConnectWithState.
    virtual void requestServerConnected() = 0;
    virtual void connectDevice() = 0;
    // Queued only while a device is connected; the outcome comes back as ejectDeviceWithState.
    virtual void ejectDeviceWithPatchList(const PatchItems& patchList) = 0;
    // Ends the program, after ejecting a connected device.
    virtual void closeApp() = 0;
    // A quit was asked: what the closing save would write is noted at once, before anything waits.
    virtual void noteQuitAsked(const Tree& /*patchPool*/) {}
    // A gesture changed the pool; `shown` answers it as it shows (none once the window has gone). A quit
    // or a power-off that waits has its note written again.
    virtual void notePoolChanged(std::function<std::optional<Tree>()> /*shown*/) {}
    // Whether dropped files are being read or copies into the pool made.
    virtual bool isPoolWorkPending() { return false; }
    // Runs `then` on the main thread once the pool's reads and copies have all landed (at once when none
    // is under way), without holding the main thread meanwhile.
    virtual void afterPoolWork(std::function<void()> then) { then(); }
    // Removes what the unit let go left on disk, once the pool's copies (which may read it) have landed.
    virtual void removeDeviceDataFolder() = 0;
    // The connected model's picture, read and decoded off the main thread and handed to `done` on the main
    // thread; null when there is none.
    virtual void getImageDevice(std::function<void(QImage)> done) = 0;
    virtual int getNumberOfSlotsInBank() = 0;
    virtual std::string getDeviceVersion() = 0;
    // Marks the pool's entries against the connected device.
    virtual void updateDirectoryObjectForPatchPool(const Tree& patchPool) = 0;
    // Builds the pool from disk; it arrives as patchPoolDirectoryObject.
    virtual void createPatchDirectoryObjectFromLocal() = 0;
    // Saves a loaded and changed pool and returns when it is saved; why it could not be, when it failed.
    virtual std::optional<std::string> savePatchPoolToLocal(const Tree& patchPool) = 0;
    // The same save, written while the window goes on; a failure is told as the coordinator tells it.
    virtual void savePatchPoolLater(const Tree& patchPool) { savePatchPoolToLocal(patchPool); }
    // The same, returning at once: the save waits for the pool's copies under way, then writes the pool
    // `shown` answers (none: the window has gone, and nothing is written).
    virtual void savePatchPoolAfterCopies(std::function<std::optional<Tree>()> shown)
    {
        if (auto pool = shown()) savePatchPoolToLocal(*pool);
    }
    virtual void writeFilePatchWithPath(const std::string& path, const std::string& toPath, bool replace,
                                        bool copiedToFinder) = 0;

    virtual bool canBeUndo() = 0;
    virtual void doUndoAction() = 0;
    virtual void clearUndoStack() = 0;
};
