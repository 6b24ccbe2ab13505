#include "app/main/CommonUtilsMainCoordinator.h"

#include "app/main/LiveWait.h"
#include "app/shell/AppDelegate.h"
#include "library/CommonUtils.h"
#include "library/undo/UndoController.h"

CommonUtilsMainCoordinator::CommonUtilsMainCoordinator(CommonUtils& utils, Shell shell)
    : utils_(utils), shell_(std::move(shell)), saves_(utils, AppDelegate::getInstance())
{
    utils_.setApplicationLifecycle(this);
}

CommonUtilsMainCoordinator::~CommonUtilsMainCoordinator() { utils_.setApplicationLifecycle(nullptr); }

void CommonUtilsMainCoordinator::setDelegate(CommonUtilsDelegate* delegate) { utils_.setDelegate(delegate); }

void CommonUtilsMainCoordinator::endReports() { utils_.setDelegate(nullptr); }

void CommonUtilsMainCoordinator::connectDevice() { utils_.connectDevice(); }

void CommonUtilsMainCoordinator::ejectDeviceWithPatchList(const PatchItems& patchList)
{
    utils_.ejectDeviceWithPatchList(patchList, {});
}

void CommonUtilsMainCoordinator::closeApp() { utils_.closeApp(); }

void CommonUtilsMainCoordinator::noteQuitAsked(const Tree& patchPool)
{
    utils_.noteQuitAsked(patchPool, AppDelegate::getInstance().isPatchPoolChanged());
}

void CommonUtilsMainCoordinator::notePoolChanged(std::function<std::optional<Tree>()> shown)
{
    saves_.poolChanged(std::move(shown));
}

bool CommonUtilsMainCoordinator::isPoolWorkPending() { return utils_.isPoolWorkPending(); }

void CommonUtilsMainCoordinator::afterPoolWork(std::function<void()> then) { utils_.afterPoolWork(std::move(then)); }

void CommonUtilsMainCoordinator::removeDeviceDataFolder() { utils_.removeDeviceDataFolderAfterPoolWork(); }

void CommonUtilsMainCoordinator::writeFilePatchWithPath(const std::string& path, const std::string& toPath,
                                                        bool replace, bool copiedToFinder)
{
    utils_.writeFilePatchWithPath(path, toPath, {replace, copiedToFinder});
}

void CommonUtilsMainCoordinator::clearAllDialog()
{
    if (shell_.clearAllDialog) shell_.clearAllDialog();
}

void CommonUtilsMainCoordinator::terminate()
{
    if (shell_.terminate) shell_.terminate();
}

std::string CommonUtilsMainCoordinator::getDeviceVersion() { return utils_.getDeviceVersion().value_or(std::string()); }

void CommonUtilsMainCoordinator::forceEjectDevice() { utils_.forceEjectDevice(); }

void CommonUtilsMainCoordinator::forceEjectDeviceNow() { utils_.forceEjectDeviceNow(); }

void CommonUtilsMainCoordinator::closeAppWithin(std::chrono::milliseconds limit) { utils_.closeAppWithin(limit); }

std::optional<std::string> CommonUtilsMainCoordinator::keepUnsavedPatchPool()
{
    if (!LiveWait::turnsTheLoop()) return utils_.keepUnsavedPatchPool();
    std::optional<std::string> cause;
    LiveWait::run([&](std::function<void()> report) {
        utils_.keepUnsavedPatchPoolLater([&cause, report = std::move(report)](std::optional<std::string> notKept) {
            cause = std::move(notKept);
            report();
        });
    });
    return cause;
}

void CommonUtilsMainCoordinator::syncEffect() { utils_.syncEffect(); }

void CommonUtilsMainCoordinator::requestServerConnected() { utils_.requestServerConnected(); }

void CommonUtilsMainCoordinator::getImageDevice(std::function<void(QImage)> done)
{
    utils_.getImageDevice([done = std::move(done)](std::optional<platform::BitmapImageRep> picture) {
        if (!picture || picture->pixelsWide() == 0 || picture->pixelsHigh() == 0) return done(QImage());
        // The decoder hands over tightly packed RGBA rows; the copy detaches from its buffer.
        done(QImage(picture->bitmapData().data(), static_cast<int>(picture->pixelsWide()),
                    static_cast<int>(picture->pixelsHigh()), static_cast<qsizetype>(picture->pixelsWide()) * 4,
                    QImage::Format_RGBA8888)
                 .copy());
    });
}

void CommonUtilsMainCoordinator::updateDirectoryObjectForPatchPool(const Tree& patchPool)
{
    utils_.updateDirectoryObjectForPatchPool(patchPool);
}

std::optional<std::string> CommonUtilsMainCoordinator::savePatchPoolToLocal(const Tree& patchPool)
{
    return saves_.saveNow(patchPool);
}

void CommonUtilsMainCoordinator::savePatchPoolLater(const Tree& patchPool) { saves_.saveLater(patchPool); }

void CommonUtilsMainCoordinator::savePatchPoolAfterCopies(std::function<std::optional<Tree>()> shown)
{
    saves_.saveAfterCopies(std::move(shown));
}

void CommonUtilsMainCoordinator::createPatchDirectoryObjectFromLocal() { utils_.createPatchDirectoryObjectFromLocal(); }

bool CommonUtilsMainCoordinator::canBeUndo() { return UndoController::getInstance().canBeUndo(); }

void CommonUtilsMainCoordinator::doUndoAction() { UndoController::getInstance().doUndoAction(); }

void CommonUtilsMainCoordinator::clearUndoStack() { UndoController::getInstance().clearUndoStack(); }

int CommonUtilsMainCoordinator::getNumberOfSlotsInBank() { return utils_.getNumberOfSlotsInBank(); }
