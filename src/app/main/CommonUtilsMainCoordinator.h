#pragma once

#include <functional>

#include "app/main/MainCoordinator.h"
#include "app/shell/CommonUtilsServices.h"

class CommonUtils;

// The main window's coordinator over the program's CommonUtils and undo stack. What the coordinator does
// not offer yet (the device data folder's removal, the patch-file copy) answers empty and does nothing,
// so the window works without it; `closeApp` ejects through the program's end.
class CommonUtilsMainCoordinator final : public MainCoordinator, public CommonUtilsServices {
public:
    // `quit` ends the program; its end ejects a connected device.
    CommonUtilsMainCoordinator(CommonUtils& utils, std::function<void()> quit)
        : utils_(utils), quit_(std::move(quit))
    {
    }

    void setDelegate(CommonUtilsDelegate* delegate) override;
    void syncEffect() override;
    void requestServerConnected() override;
    void connectDevice() override;
    void ejectDeviceWithPatchList(const PatchItems& patchList) override;
    void closeApp() override;
    void removeDeviceDataFolder() override {}
    QImage getImageDevice() override;
    int getNumberOfSlotsInBank() override;
    std::string getDeviceVersion() override;
    void updateDirectoryObjectForPatchPool(const Tree& patchPool) override;
    void createPatchDirectoryObjectFromLocal() override;
    // Saves a loaded pool the interface marked as changed; the mark stays set when the save fails.
    void savePatchPoolToLocal(const Tree& patchPool) override;
    void writeFilePatchWithPath(const std::string&, const std::string&, bool, bool) override {}
    bool canBeUndo() override;
    void doUndoAction() override;
    void clearUndoStack() override;

    void forceEjectDevice() override;

private:
    CommonUtils& utils_;
    std::function<void()> quit_;
};
