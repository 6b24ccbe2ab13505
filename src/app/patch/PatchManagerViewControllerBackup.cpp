// The patch screen's side of Backup All and Restore All: the button between the panes, the screen's part
// of each outcome and the delayed re-enable.

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "app/patch/BackupAllRestoreAll.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchListTableModel.h"
#include "app/patch/PatchDialogs.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/MainWindowController.h"
#include "library/models/DirectoryObject.h"
#include "library/undo/UndoController.h"

void PatchManagerViewController::buildBackupAllRestoreAll()
{
    BackupAllRestoreAll::Collaborators c{coordinator_};
    c.addActionStack = [this](std::shared_ptr<UndoAction> action) { undoController_.addActionStack(std::move(action)); };
    c.showMessage = [this](const std::string& key, const std::optional<std::string>& argument) {
        dialogs_.showInformation(key, argument);
    };
    c.makePatchNode = [this](const PatchItem& patch) { return backupToPatchDirectoryWithPatchItem(patch); };
    c.now = [this] { return backupClock_ ? backupClock_() : std::chrono::system_clock::now(); };
    c.doubleClickInterval = std::chrono::milliseconds(QApplication::doubleClickInterval());
    c.showBackupInPool = [this](const Node& group) {
        reloadPatchPoolSelecting(group ? Nodes{group} : Nodes{});
        if (rightPanelOutlineView_) rightPanelOutlineView_->setFocus(Qt::OtherFocusReason);
    };
    c.setPatchPoolChanged = [this] { appDelegate_.setIsPatchPoolChanged(true); };
    c.disableButtonBriefly = [this] {
        setEnableBackupAllButton(false);
        QPointer<PatchManagerViewController> self(this);
        QTimer::singleShot(100, this, [self] {
            // Only where the button would be enabled anyway: not after the device went, nor under a restore.
            if (self && BackupAllRestoreAll::shouldReenableButton(self->appDelegate_.isDeviceConnected(),
                                                                  self->isPatchListLoaded_,
                                                                  self->appDelegate_.isRestoringAll()))
                self->setEnableBackupAllButton(true);
        });
    };
    c.writePatchList = [this](const PatchItems& list) { updatePatchListToDevive(list); };
    c.reloadListFromTop = [this] {
        reloadDataInPatchList();
        if (patchManagerTableView_ && patchListModel_->rowCount() > 0)
            patchManagerTableView_->scrollTo(patchListModel_->index(0, 0));
    };
    c.clearPoolSelection = [this] {
        if (rightPanelOutlineView_) rightPanelOutlineView_->selectRows({});
    };
    c.leaveRestoreAllMode = [this] {
        setIsRestoreAllMode(false);
        setArrowImageWithBackupAllAndRestoreAllState();
    };
    c.setButtonEnabled = [this](bool enabled) { setEnableBackupAllButton(enabled); };
    c.queueRestoreResult = [this](std::int64_t restored, std::int64_t max) {
        numberOfRestoredDictionaryArray_.push_back({static_cast<long>(restored), static_cast<long>(max)});
    };
    c.startRestoringAll = [this] {
        appDelegate_.setIsRestoringAll(true);
        setlockPatchList(true);
    };
    c.ejectDevice = [this] {
        if (mainController_) mainController_->ejectDevice();
    };
    backupAllRestoreAll_ = std::make_unique<BackupAllRestoreAll>(structureData_, patchItems_, std::move(c));
    if (backUpAllOrRestoreAllButton_)
        connect(backUpAllOrRestoreAllButton_, &QPushButton::clicked, this, &PatchManagerViewController::backUpButtonClick);
}

void PatchManagerViewController::backUpButtonClick()
{
    if (isRestoreAllMode_) {
        // A restore writes the whole unit: not while it is being let go.
        if (!rightPanelOutlineView_ || appDelegate_.isLettingDeviceGo()) return;
        const std::vector<int> rows = rightPanelOutlineView_->selectedRowList();
        if (rows.size() != 1) return;
        backupAllRestoreAll_->restoreFromButton(patchPoolModel_->nodeAt(rightPanelOutlineView_->indexForRow(rows.front())));
        return;
    }
    takeUnitChanges();
    backupAllRestoreAll_->backUpAll(mainController_ ? mainController_->deviceName() : std::string());
}

void PatchManagerViewController::restorePatchItemWithBackupAllGroup(const Node& group)
{
    if (appDelegate_.isLettingDeviceGo()) return;
    backupAllRestoreAll_->restorePatchItemWithBackupAllGroup(group);
}

void PatchManagerViewController::setEnableBackupAllButton(bool enabled)
{
    if (backUpAllOrRestoreAllButton_) backUpAllOrRestoreAllButton_->setEnabled(enabled);
}
