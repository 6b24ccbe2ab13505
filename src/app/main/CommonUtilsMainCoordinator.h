#pragma once

#include <functional>

#include "app/main/MainCoordinator.h"
#include "app/main/PoolSaveRun.h"
#include "app/shell/CommonUtilsServices.h"
#include "library/ApplicationLifecycle.h"

class CommonUtils;

// The main window's coordinator over the program's CommonUtils and undo stack. It is also what the
// coordinator asks of the shell to end a run: quitting goes through the coordinator, which lets a running
// device action finish and ejects before it asks for the end (or asks anyway once its watchdog runs out).
class CommonUtilsMainCoordinator final : public MainCoordinator,
                                         public CommonUtilsServices,
                                         public ApplicationLifecycle {
public:
    // How the shell ends every sheet, and how it ends the program (whose end force-ejects a device still
    // connected and saves the pool).
    struct Shell {
        std::function<void()> clearAllDialog;
        std::function<void()> terminate;
    };

    // Becomes the coordinator's application lifecycle until it goes.
    CommonUtilsMainCoordinator(CommonUtils& utils, Shell shell);
    ~CommonUtilsMainCoordinator() override;
    CommonUtilsMainCoordinator(const CommonUtilsMainCoordinator&) = delete;
    CommonUtilsMainCoordinator& operator=(const CommonUtilsMainCoordinator&) = delete;

    void setDelegate(CommonUtilsDelegate* delegate) override;
    void syncEffect() override;
    void requestServerConnected() override;
    void connectDevice() override;
    void ejectDeviceWithPatchList(const PatchItems& patchList) override;
    void closeApp() override;
    void noteQuitAsked(const Tree& patchPool) override;
    void notePoolChanged(std::function<std::optional<Tree>()> shown) override;
    bool isPoolWorkPending() override;
    void afterPoolWork(std::function<void()> then) override;
    // On the calling (main) thread, as the eject and loss reports that ask for it come: the folder is gone
    // before a new connection can start reading into it.
    void removeDeviceDataFolder() override;
    void getImageDevice(std::function<void(QImage)> done) override;
    int getNumberOfSlotsInBank() override;
    std::string getDeviceVersion() override;
    void updateDirectoryObjectForPatchPool(const Tree& patchPool) override;
    void createPatchDirectoryObjectFromLocal() override;
    // Saves a loaded pool the interface marked as changed; the mark stays set when the save fails.
    // The main loop turns while it waits, the user's input held.
    std::optional<std::string> savePatchPoolToLocal(const Tree& patchPool) override;
    void savePatchPoolLater(const Tree& patchPool) override;
    void savePatchPoolAfterCopies(std::function<std::optional<Tree>()> shown) override;
    void writeFilePatchWithPath(const std::string& path, const std::string& toPath, bool replace,
                                bool copiedToFinder) override;
    bool canBeUndo() override;
    void doUndoAction() override;
    void clearUndoStack() override;

    void forceEjectDevice() override;
    void forceEjectDeviceNow() override;
    void closeAppWithin(std::chrono::milliseconds limit) override;
    std::optional<std::string> keepUnsavedPatchPool() override;
    void endReports() override;

    void clearAllDialog() override;
    void terminate() override;

private:
    CommonUtils& utils_;
    Shell shell_;
    PoolSaveRun saves_;
};
