#include "app/main/CommonUtilsMainCoordinator.h"

#include <atomic>

#include "app/shell/AppDelegate.h"
#include "library/CommonUtils.h"
#include "library/undo/UndoController.h"
#include "platform/dispatch/Dispatch.h"

void CommonUtilsMainCoordinator::setDelegate(CommonUtilsDelegate* delegate) { utils_.setDelegate(delegate); }

void CommonUtilsMainCoordinator::connectDevice() { utils_.connectDevice(); }

void CommonUtilsMainCoordinator::ejectDeviceWithPatchList(const PatchItems& patchList)
{
    utils_.ejectDeviceWithPatchList(patchList, {});
}

void CommonUtilsMainCoordinator::closeApp()
{
    if (quit_) quit_();
}

std::string CommonUtilsMainCoordinator::getDeviceVersion() { return utils_.getDeviceVersion().value_or(std::string()); }

void CommonUtilsMainCoordinator::forceEjectDevice() { utils_.forceEjectDevice(); }

void CommonUtilsMainCoordinator::syncEffect() { utils_.syncEffect(); }

void CommonUtilsMainCoordinator::requestServerConnected() { utils_.requestServerConnected(); }

void CommonUtilsMainCoordinator::getImageDevice(std::function<void(QImage)> picture)
{
    // Reading the store and decoding the picture is disk and a millisecond or more of work; it arrives at
    // the moments the window is busiest, as it shows and as a device connects.
    dispatch_.global(platform::Priority::Default).async([this, picture = std::move(picture)]() mutable {
        const auto decoded = utils_.getImageDevice();
        QImage image;
        if (decoded && decoded->pixelsWide() > 0 && decoded->pixelsHigh() > 0) {
            // The decoder hands over tightly packed RGBA rows; the copy detaches from its buffer.
            image = QImage(decoded->bitmapData().data(), static_cast<int>(decoded->pixelsWide()),
                           static_cast<int>(decoded->pixelsHigh()), static_cast<qsizetype>(decoded->pixelsWide()) * 4,
                           QImage::Format_RGBA8888)
                        .copy();
        }
        dispatch_.main().async([picture = std::move(picture), image = std::move(image)] { picture(image); });
    });
}

void CommonUtilsMainCoordinator::updateDirectoryObjectForPatchPool(const Tree& patchPool)
{
    utils_.updateDirectoryObjectForPatchPool(patchPool);
}

void CommonUtilsMainCoordinator::savePatchPoolToLocal(const Tree& patchPool)
{
    AppDelegate& app = AppDelegate::getInstance();
    std::atomic<bool> changed{app.isPatchPoolChanged()};
    utils_.savePatchPoolToLocal(patchPool, changed);
    app.setIsPatchPoolChanged(changed.load());
}

void CommonUtilsMainCoordinator::createPatchDirectoryObjectFromLocal() { utils_.createPatchDirectoryObjectFromLocal(); }

bool CommonUtilsMainCoordinator::canBeUndo() { return UndoController::getInstance().canBeUndo(); }

void CommonUtilsMainCoordinator::doUndoAction() { UndoController::getInstance().doUndoAction(); }

void CommonUtilsMainCoordinator::clearUndoStack() { UndoController::getInstance().clearUndoStack(); }

int CommonUtilsMainCoordinator::getNumberOfSlotsInBank() { return utils_.getNumberOfSlotsInBank(); }
