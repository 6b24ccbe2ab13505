#include "app/patch/PatchManagerViewController.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchDialogs.h"
#include "app/patch/PatchListTableModel.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/MainWindowController.h"
#include "app/views/InterfaceTexts.h"
#include "app/views/NamedImages.h"
#include "library/models/BankItem.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/UndoController.h"
#include "platform/bundle/StringFormat.h"

namespace {

// The first showing of any patch screen in the process waits for the current event to be handled.
bool firstAppearance = true;

}  // namespace

PatchManagerViewController::PatchManagerViewController(Collaborators collaborators)
    : appDelegate_(collaborators.appDelegate),
      coordinator_(collaborators.coordinator),
      undoController_(collaborators.undoController),
      notificationCenter_(collaborators.notificationCenter),
      dialogs_(collaborators.dialogs),
      textRules_(std::move(collaborators.textRules)),
      reloadBufferDataSeconds_(std::max<std::int64_t>(collaborators.reloadBufferDataSeconds, 0))
{
    loadBufferDataTimer_.setSingleShot(true);
    connect(&loadBufferDataTimer_, &QTimer::timeout, this, &PatchManagerViewController::updateBuffterDataToPatchList);
    buildView();
    observeUndoNotifications();
    setArrowImageWithBackupAllAndRestoreAllState();
}

PatchManagerViewController::~PatchManagerViewController()
{
    for (const auto token : undoObservers_) notificationCenter_.removeObserver(token);
    loadBufferDataTimer_.stop();
    delete view_;
}

void PatchManagerViewController::buildView()
{
    view_ = new QWidget;
    view_->setObjectName(QStringLiteral("PatchManagerView"));
    auto* layout = new QVBoxLayout(view_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* panes = new QHBoxLayout;
    panes->setContentsMargins(0, 0, 0, 0);
    panes->setSpacing(0);
    leftView_ = new QWidget(view_);
    auto* leftLayout = new QVBoxLayout(leftView_);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    patchListModel_ = new PatchListTableModel(patchItems_, bankItems_, this);
    patchManagerTableView_ = new CustomTableViewForPatch(leftView_);
    patchManagerTableView_->setModel(patchListModel_);
    patchManagerTableView_->horizontalHeader()->setFixedHeight(kHeaderHeight);
    patchManagerTableView_->horizontalHeader()->setStretchLastSection(true);
    patchManagerTableView_->setColumnWidth(PatchListTableModel::BankColumn, 70);
    patchManagerTableView_->setColumnWidth(PatchListTableModel::PatchColumn, 190);
    leftLayout->addWidget(patchManagerTableView_);

    patchPoolPane_ = new QWidget(view_);
    patchPoolPane_->setObjectName(QStringLiteral("PatchPoolPane"));
    auto* poolLayout = new QVBoxLayout(patchPoolPane_);
    poolLayout->setContentsMargins(0, 0, 0, 0);
    patchPoolIndicator_ = new QWidget(patchPoolPane_);
    patchPoolIndicator_->hide();
    buildPatchPool(patchPoolPane_);
    panes->addWidget(leftView_, 3);
    panes->addWidget(patchPoolPane_, 2);
    layout->addLayout(panes, 1);

    // The button stays at the seam between the panes, whatever their widths.
    buttonBar_ = new QWidget(view_);
    buttonBar_->setFixedHeight(56);
    backUpAllOrRestoreAllButton_ = new QPushButton(buttonBar_);
    backUpAllOrRestoreAllButton_->setObjectName(QStringLiteral("BackUpAllOrRestoreAllButton"));
    backUpAllOrRestoreAllButton_->setFixedSize(2 * kBackUpButtonOffset, 36);
    backUpAllOrRestoreAllButton_->setEnabled(false);
    leftArrowImageView_ = new QLabel(buttonBar_);
    rightArrowImageView_ = new QLabel(buttonBar_);
    layout->addWidget(buttonBar_);
    leftView_->installEventFilter(this);
    layOutBackUpButton();
}

void PatchManagerViewController::layOutBackUpButton()
{
    if (!leftView_ || !buttonBar_) return;
    const int x = leftView_->width() - kBackUpButtonOffset;
    const int y = (buttonBar_->height() - backUpAllOrRestoreAllButton_->height()) / 2;
    backUpAllOrRestoreAllButton_->move(x, y);
    const int arrowY = (buttonBar_->height() - leftArrowImageView_->height()) / 2;
    leftArrowImageView_->move(x - leftArrowImageView_->width() - 6, arrowY);
    rightArrowImageView_->move(x + backUpAllOrRestoreAllButton_->width() + 6, arrowY);
}

bool PatchManagerViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == leftView_ && event->type() == QEvent::Resize) layOutBackUpButton();
    return QObject::eventFilter(watched, event);
}

void PatchManagerViewController::observeUndoNotifications()
{
    using Handler = void (PatchManagerViewController::*)(UndoAction&);
    const std::pair<const char*, Handler> observers[] = {
        {UndoController::kUndoChangeText, &PatchManagerViewController::doUndoActionForChangeText},
        {UndoController::kUndoChangePosition, &PatchManagerViewController::doUndoActionForChangePosition},
        {UndoController::kUndoDragFromPoolToList, &PatchManagerViewController::doUndoActionForDragFromPoolToList},
        {UndoController::kUndoAddToPatchPool, &PatchManagerViewController::doUndoActionForAddToPatchPool},
        {UndoController::kSelectionInPatchList, &PatchManagerViewController::doUndoActionForSelectionInPatchList},
        {UndoController::kDeleteInPatchPool, &PatchManagerViewController::doUndoActionForDeleteInPatchPool},
    };
    for (const auto& [name, handler] : observers) {
        undoObservers_.push_back(
            notificationCenter_.addObserver(name, nullptr, [this, handler](const platform::Notification& note) {
                // The undo stack holds the record while it posts.
                auto* action = static_cast<UndoAction*>(const_cast<void*>(note.sender));
                if (action) (this->*handler)(*action);
            }));
    }
}

void PatchManagerViewController::initDraggingRegister() {}

void PatchManagerViewController::initDraggingOperator() {}

void PatchManagerViewController::viewDidAppear()
{
    QPointer<PatchManagerViewController> self(this);
    auto work = [self] {
        if (!self || !self->patchManagerTableView_) return;
        if (self->patchListModel_->rowCount() > 0)
            self->patchManagerTableView_->scrollTo(self->patchListModel_->index(0, 0));
        self->validateRuler();
    };
    if (firstAppearance) {
        firstAppearance = false;
        QMetaObject::invokeMethod(this, work, Qt::QueuedConnection);
    } else {
        work();
    }
}

void PatchManagerViewController::setNumberOfSlotsInBlank(int numberOfSlots)
{
    numberOfSlotsInBlank_ = numberOfSlots > 0 ? static_cast<std::uint64_t>(numberOfSlots) : 0;
    patchListModel_->setNumberOfSlotsInBlank(numberOfSlotsInBlank_);
}

void PatchManagerViewController::setLockPatchPool(bool locked)
{
    isLockPatchPool_ = locked;
    if (rightPanelOutlineView_) rightPanelOutlineView_->setIsLockPatchPool(locked);
    // The indicator goes whatever the lock: the pool shows its own state.
    if (patchPoolIndicator_) patchPoolIndicator_->hide();
    setlockPatchList(locked);
}

void PatchManagerViewController::setlockPatchList(bool locked)
{
    patchManagerTableView_->setLockTableView(isLockPatchPool_ || locked);
}

void PatchManagerViewController::resetPatchPoolState()
{
    for (const auto& node : structureData_) {
        if (!node) continue;
        node->isWarning = node->isIncompatible = false;
        for (const auto& child : node->childDirectories)
            if (child) child->isWarning = child->isIncompatible = false;
    }
}

void PatchManagerViewController::reloadData()
{
    reloadDataInPatchList();
    reloadDataInPatchPool();
}

void PatchManagerViewController::reloadDataInPatchList()
{
    if (appDelegate_.isDeviceConnected()) coordinator_.updatePatchWarningInPatchList(patchItems_);
    patchListModel_->reload();
    validateRuler();
}

void PatchManagerViewController::reloadDataInPatchPool()
{
    if (appDelegate_.isDeviceConnected()) coordinator_.updatePatchWarningInPatchPool(structureData_);
    if (rightPanelOutlineView_) rightPanelOutlineView_->reloadData();
    validateRuler();
}

void PatchManagerViewController::validateRuler() {}

void PatchManagerViewController::displayRestoreDialogWithNumberOfRestoredItems(long restoredItems, long maxItems)
{
    const std::string format = InterfaceTexts::localizedString("Patch_RestoreResultText").toStdString();
    dialogs_.showText(platform::StringFormat::format(format, {static_cast<std::int64_t>(restoredItems),
                                                              static_cast<std::int64_t>(maxItems)}));
}

void PatchManagerViewController::setArrowImageWithBackupAllAndRestoreAllState()
{
    const bool restore = isRestoreAllMode_;
    const QImage left = NamedImages::image(restore ? QStringLiteral("restore_left_arrow") : QStringLiteral("backup_left_arrow"));
    const QImage right = NamedImages::image(restore ? QStringLiteral("restore_right_arrow") : QStringLiteral("backup_right_arrow"));
    leftArrowImageView_->setPixmap(QPixmap::fromImage(left));
    rightArrowImageView_->setPixmap(QPixmap::fromImage(right));
    leftArrowImageView_->adjustSize();
    rightArrowImageView_->adjustSize();
    backUpAllOrRestoreAllButton_->setText(InterfaceTexts::localizedString(restore ? "Patch_RestoreAll" : "Patch_BackupAll"));
    QFont font(QStringLiteral("Helvetica Neue"), 15, QFont::Bold);
    backUpAllOrRestoreAllButton_->setFont(font);
    layOutBackUpButton();
}

// ---- device writes ----

void PatchManagerViewController::updatePatchFileToDevideAtIndex(std::uint64_t index) { (void)index; }

void PatchManagerViewController::updatePatchFileToDevideAtRange(std::uint64_t location, std::uint64_t length)
{
    (void)location;
    (void)length;
}

void PatchManagerViewController::updatePatchListToDevive(const PatchItems& patchList) { (void)patchList; }

// ---- buffered device changes ----

void PatchManagerViewController::updatePatchItem(std::shared_ptr<PatchItem> patchItem, const std::string& offset)
{
    bufferDataFromDevice_.push_back({std::move(patchItem), offset});
    appDelegate_.setReloadDataFromDeviceTimer();
}

void PatchManagerViewController::setReloadBufferDataTimer()
{
    loadBufferDataTimer_.stop();
    loadBufferDataTimer_.start(static_cast<int>(std::min<std::int64_t>(reloadBufferDataSeconds_, 86400) * 1000));
}

void PatchManagerViewController::updateBuffterDataToPatchList() {}

void PatchManagerViewController::updateBufferPatchItem(const PatchItem& patchItem, const std::string& offset)
{
    (void)patchItem;
    (void)offset;
}

// ---- undo handlers ----

void PatchManagerViewController::doUndoActionForChangeText(UndoAction&) {}
void PatchManagerViewController::doUndoActionForChangePosition(UndoAction&) {}
void PatchManagerViewController::doUndoActionForDragFromPoolToList(UndoAction&) {}
void PatchManagerViewController::doUndoActionForAddToPatchPool(UndoAction&) {}
void PatchManagerViewController::doUndoActionForSelectionInPatchList(UndoAction&) {}
void PatchManagerViewController::doUndoActionForDeleteInPatchPool(UndoAction&) {}
