#include "app/patch/PatchManagerViewController.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <utility>

#include "app/controls/CustomHeaderView.h"
#include "app/controls/CustomLeftView.h"
#include "app/controls/CustomScroller.h"
#include "app/controls/CustomSplitView.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/UnchangedTextColorButton.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchListReorder.h"
#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchDialogs.h"
#include "app/patch/PatchListTableModel.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchUndoHandlers.h"
#include "app/views/ProcessingView.h"
#include "app/patch/BackupAllRestoreAll.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/MainWindowController.h"
#include "app/views/InterfaceTexts.h"
#include "app/views/NamedImages.h"
#include "library/models/BankItem.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/UndoController.h"
#include "platform/bundle/StringFormat.h"

namespace {

// The first showing of any patch screen in the process waits for the current event to be handled.
bool firstAppearance = true;

std::vector<UndoAction::Object> undoObjects(const PatchScreen::PatchItems& items)
{
    return {items.begin(), items.end()};
}

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
    buildUndoHandlers();
    buildBackupAllRestoreAll();
    observeUndoNotifications();
    initDraggingRegister();
    initDraggingOperator();
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

    auto* panes = new CustomSplitView(Qt::Horizontal, view_);
    panes->setObjectName(QStringLiteral("PatchSplitView"));
    auto* leftView = new CustomLeftView(panes);
    // The button follows the seam between the panes, whatever their widths.
    leftView->onChangeFrame([this] { layOutBackUpButton(); });
    leftView_ = leftView;
    auto* leftLayout = new QVBoxLayout(leftView_);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    patchListModel_ = new PatchListTableModel(patchItems_, bankItems_, this);
    patchManagerTableView_ = new CustomTableViewForPatch(appDelegate_, undoController_, leftView_);
    patchManagerTableView_->setModel(patchListModel_);
    patchListDelegate_ = new PatchListItemDelegate(
        PatchCellContext{coordinator_, dialogs_, undoController_, appDelegate_, textRules_,
                         [this](PatchItem& patch) { takeUnitChangesOf(patch); }},
        patchManagerTableView_);
    patchManagerTableView_->setItemDelegate(patchListDelegate_);
    patchManagerTableView_->setRightClickDelegate(this);
    patchManagerTableView_->setUtilityDelegate(this);
    auto* header = new CustomHeaderView(patchManagerTableView_);
    patchManagerTableView_->setHorizontalHeader(header);
    for (int column = 0; column < PatchListTableModel::ColumnCount; ++column) {
        CustomHeaderCell& cell = header->headerCell(column);
        cell.setHeaderType(CustomHeaderCell::PatchList);
        cell.setIsNotFirstCell(column > 0);
    }
    header->setFixedHeight(kHeaderHeight);
    header->setStretchLastSection(true);
    verticalPatchListRuler_ = new CustomScroller(patchManagerTableView_);
    verticalPatchListRuler_->setIsEffectManagerRuler(false);
    patchManagerTableView_->setVerticalScroller(verticalPatchListRuler_);
    // The list is not sortable, and a header click must not select a column: the table's own
    // reaction to a press goes, the screen's takes its place.
    header->setSectionsClickable(true);
    QObject::disconnect(header, &QHeaderView::sectionPressed, patchManagerTableView_, nullptr);
    QObject::disconnect(header, &QHeaderView::sectionEntered, patchManagerTableView_, nullptr);
    connect(header, &QHeaderView::sectionPressed, this, &PatchManagerViewController::mouseDownInHeaderOfTableColumn);
    connect(header, &QHeaderView::sectionClicked, this, &PatchManagerViewController::didClickTableColumn);
    patchManagerTableView_->setColumnWidth(PatchListTableModel::BankColumn, 80);
    patchManagerTableView_->setColumnWidth(PatchListTableModel::PatchColumn, 220);
    leftLayout->addWidget(patchManagerTableView_);

    patchPoolPane_ = new QWidget(view_);
    patchPoolPane_->setObjectName(QStringLiteral("PatchPoolPane"));
    auto* poolLayout = new QVBoxLayout(patchPoolPane_);
    poolLayout->setContentsMargins(0, 0, 0, 0);
    patchPoolIndicator_ = new QWidget(patchPoolPane_);
    // It shows that the pool works and takes nothing from the pointer: clicks, the right button's menu,
    // drags and drops reach the pool beneath it while the copies run, as the keys do.
    patchPoolIndicator_->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* indicatorLayout = new QVBoxLayout(patchPoolIndicator_);
    indicatorLayout->addWidget(new ProcessingView(patchPoolIndicator_), 0, Qt::AlignCenter);
    patchPoolIndicator_->hide();
    buildPatchPool(patchPoolPane_);
    panes->addWidget(leftView_);
    panes->addWidget(patchPoolPane_);
    panes->setStretchFactor(0, 3);
    panes->setStretchFactor(1, 2);
    layout->addWidget(panes, 1);

    // The bar's background and the arrows open the undo popover on a right click.
    buttonBar_ = new RightClickImageView(appDelegate_, undoController_, view_);
    buttonBar_->setObjectName(QStringLiteral("PatchButtonBar"));
    buttonBar_->setFixedHeight(56);
    backUpAllOrRestoreAllButton_ = new UnchangedTextColorButton(QString(), buttonBar_);
    backUpAllOrRestoreAllButton_->setObjectName(QStringLiteral("BackUpAllOrRestoreAllButton"));
    backUpAllOrRestoreAllButton_->setFixedSize(2 * kBackUpButtonOffset, 36);
    backUpAllOrRestoreAllButton_->setEnabled(false);
    // White title, disabled or not; the face tells the states apart: dark with a light edge when it can
    // be clicked, a flat mid grey without an edge when it cannot (white still reads on it).
    backUpAllOrRestoreAllButton_->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: #2e3238; border: 1px solid #a7b0bd; border-radius: 5px; }"
        "QPushButton:disabled { background: #6b7079; border: 1px solid #6b7079; }"
        "QPushButton:pressed { background: #1f2226; }"));
    leftArrowImageView_ = new RightClickImageView(appDelegate_, undoController_, buttonBar_);
    rightArrowImageView_ = new RightClickImageView(appDelegate_, undoController_, buttonBar_);
    layout->addWidget(buttonBar_);
    layOutBackUpButton();
    // The window may delete the view before the screen goes; the screen then works on its lists alone.
    connect(view_, &QObject::destroyed, this, [this] {
        leftView_ = patchPoolPane_ = patchPoolIndicator_ = buttonBar_ = nullptr;
        patchManagerTableView_ = nullptr;
        rightPanelOutlineView_ = nullptr;
        patchListDelegate_ = nullptr;
        verticalPatchListRuler_ = nullptr;
        backUpAllOrRestoreAllButton_ = nullptr;
        leftArrowImageView_ = rightArrowImageView_ = nullptr;
    });
}

void PatchManagerViewController::layOutBackUpButton()
{
    if (!leftView_ || !buttonBar_ || !backUpAllOrRestoreAllButton_) return;
    const int x = leftView_->width() - kBackUpButtonOffset;
    const int y = (buttonBar_->height() - backUpAllOrRestoreAllButton_->height()) / 2;
    backUpAllOrRestoreAllButton_->move(x, y);
    const int arrowY = (buttonBar_->height() - leftArrowImageView_->height()) / 2;
    leftArrowImageView_->move(x - leftArrowImageView_->width() - 6, arrowY);
    rightArrowImageView_->move(x + backUpAllOrRestoreAllButton_->width() + 6, arrowY);
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
    for (const auto& observer : observers) {
        const Handler handler = observer.second;
        undoObservers_.push_back(
            notificationCenter_.addObserver(observer.first, nullptr, [this, handler](const platform::Notification& note) {
                // The undo stack holds the record while it posts.
                auto* action = static_cast<UndoAction*>(const_cast<void*>(note.sender));
                if (action) (this->*handler)(*action);
            }));
    }
}

void PatchManagerViewController::viewDidAppear()
{
    QPointer<PatchManagerViewController> self(this);
    auto work = [self] {
        if (!self || !self->patchManagerTableView_) return;
        if (self->patchListModel_->rowCount() > 0)
            self->patchManagerTableView_->scrollTo(self->patchListModel_->index(0, 0));
        self->validateRuler();
        self->patchManagerTableView_->resetSelectionData();
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
    // A Restore All ending during the unit's letting go unlocks nothing: an edit would queue behind the eject.
    if (patchManagerTableView_)
        patchManagerTableView_->setLockTableView(isLockPatchPool_ || locked || appDelegate_.isLettingDeviceGo());
}

void PatchManagerViewController::resetPatchPoolState()
{
    poolJudgedAgainst_.reset();
    for (const auto& node : structureData_) {
        if (!node) continue;
        node->isWarning = node->isIncompatible = false;
        for (const auto& child : node->childDirectories)
            if (child) child->isWarning = child->isIncompatible = false;
    }
    // The pool shows the marks gone at once; nothing is judged again, as no unit is there to judge by.
    if (rightPanelOutlineView_) rightPanelOutlineView_->reloadData();
    validateRuler();
}

void PatchManagerViewController::reloadData()
{
    reloadDataInPatchList();
    reloadDataInPatchPool();
}

void PatchManagerViewController::reloadDataInPatchList()
{
    if (appDelegate_.isDeviceConnected()) coordinator_.updatePatchWarningInPatchList(patchItems_);
    if (patchManagerTableView_) patchManagerTableView_->reloadData();
    else patchListModel_->reload();
    validateRuler();
}

void PatchManagerViewController::reloadDataInPatchPool()
{
    // Where the device's effects changed under every patch, the whole pool is judged again, on the
    // pool's queue, never on this thread. Where they did not (a switch of screens), the warnings stand:
    // every edit since judged what it touched.
    if (rightPanelOutlineView_) rightPanelOutlineView_->reloadData();
    validateRuler();
    if (!appDelegate_.isDeviceConnected() || poolWarningsStand()) return;
    const std::uint64_t asked = ++poolWarningsAsked_;
    // Taking the pool's paths is a slice of its own, two turns of the loop later: the pool's marks take
    // theirs at the first.
    QTimer::singleShot(1, this, [this, asked] { QTimer::singleShot(1, this, [this, asked] { askPoolWarnings(asked); }); });
}

void PatchManagerViewController::reloadDataInPatchPoolWarningsLater()
{
    poolJudgedAgainst_.reset();
    reloadDataInPatchPool();
}

void PatchManagerViewController::reloadDataInPatchPoolForItems(const StructureData& touched)
{
    // A patch's warning depends on its own file and the device's effects only: an edit judges the
    // patches it touched, and the rest keep theirs.
    if (rightPanelOutlineView_) rightPanelOutlineView_->reloadData();
    validateRuler();
    if (touched.empty() || !appDelegate_.isDeviceConnected()) return;
    coordinator_.updatePatchWarningInPatchPoolLater(touched, [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock()) repaintPatchPool();
    });
}

bool PatchManagerViewController::poolWarningsStand()
{
    const auto against = coordinator_.warningsJudgedAgainst();
    if (!against) return false;
    // The coordinator judged this very pool as it loaded it, or as it marked it for the unit, from the
    // same reading: nothing is read again while what they were judged against stays.
    if (against != poolJudgedAgainst_ && against == coordinator_.poolWarningsJudgedAgainst(structureData_))
        poolJudgedAgainst_ = against;
    return against == poolJudgedAgainst_;
}

void PatchManagerViewController::askPoolWarnings(std::uint64_t asked)
{
    if (asked != poolWarningsAsked_ || !appDelegate_.isDeviceConnected() || poolWarningsStand()) return;
    const auto against = coordinator_.warningsJudgedAgainst();
    coordinator_.updatePatchWarningInPatchPoolLater(structureData_, [this, alive = std::weak_ptr<bool>(alive_), asked, against] {
        if (!alive.lock() || asked != poolWarningsAsked_) return;
        poolJudgedAgainst_ = against;
        repaintPatchPool();
    });
}

void PatchManagerViewController::repaintPatchPool()
{
    // The rows read their marks as they paint: the tree's shape, its selection and its open groups stay.
    if (rightPanelOutlineView_) rightPanelOutlineView_->viewport()->update();
}

void PatchManagerViewController::validateRuler()
{
    if (patchManagerTableView_) patchManagerTableView_->setRulerVisible(patchManagerTableView_->isExpandedOverView());
}

void PatchManagerViewController::displayRestoreDialogWithNumberOfRestoredItems(long restoredItems, long maxItems)
{
    const std::string format = InterfaceTexts::localizedString("Patch_RestoreResultText").toStdString();
    dialogs_.showText(platform::StringFormat::format(format, {static_cast<std::int64_t>(restoredItems),
                                                              static_cast<std::int64_t>(maxItems)}));
}

void PatchManagerViewController::setArrowImageWithBackupAllAndRestoreAllState()
{
    if (!backUpAllOrRestoreAllButton_) return;
    const bool restore = isRestoreAllMode_;
    const QImage left = NamedImages::image(restore ? QStringLiteral("restore_left_arrow") : QStringLiteral("backup_left_arrow"));
    const QImage right = NamedImages::image(restore ? QStringLiteral("restore_right_arrow") : QStringLiteral("backup_right_arrow"));
    leftArrowImageView_->setPixmap(QPixmap::fromImage(left));
    rightArrowImageView_->setPixmap(QPixmap::fromImage(right));
    leftArrowImageView_->adjustSize();
    rightArrowImageView_->adjustSize();
    backUpAllOrRestoreAllButton_->setText(InterfaceTexts::localizedString(restore ? "Patch_RestoreAll" : "Patch_BackupAll"));
    backUpAllOrRestoreAllButton_->setFont(buttonFont());
    layOutBackUpButton();
}

QFont PatchManagerViewController::buttonFont()
{
    QFont font(QStringLiteral("Helvetica Neue"));
    font.setPixelSize(15);
    font.setBold(true);
    return font;
}

void PatchManagerViewController::loadFontsAhead()
{
    std::vector<QFont> fonts = PatchListItemDelegate::cellFonts();
    fonts.push_back(PatchPoolModel::titleFont());
    fonts.push_back(buttonFont());
    // Every printable ASCII character, drawn where the picture has room for it, as the window's image is
    // drawn: the glyphs go into the same caches the lists' paints use.
    QString sample;
    for (char c = ' '; c <= '~'; ++c) sample.append(QLatin1Char(c));
    QImage image(1600, 40, QImage::Format_RGB32);
    QPainter painter(&image);
    for (const QFont& font : fonts) {
        painter.setFont(font);
        painter.drawText(QPointF(0, 30), sample);
    }
    // Held for the program's life, so the font cache never lets these engines and their glyphs go
    // before the screen first shows (a font nothing holds may be dropped to bound the cache). Never
    // destroyed: a font must not outlive the application object, which a static would.
    static auto* held = new std::vector<QFont>;
    *held = std::move(fonts);
}

// ---- device writes ----

// A write carries the list's patches as they stand, and takes the changes the unit reported meanwhile
// first, or the unit would get the patch without them while the list showed them later. One slot's write
// may carry what the user just made of that patch: the unit's change is merged under it, never dropped.
void PatchManagerViewController::updatePatchFileToDevideAtIndex(std::uint64_t index)
{
    if (index >= patchItems_.size() || index >= bankItems_.size() || !patchItems_[index]) return;
    takeUnitChangesOf(*patchItems_[index]);
    coordinator_.writeToDeviceWithPatchItem(patchItems_[index]->copy(), static_cast<std::int64_t>(index));
    appDelegate_.setReloadDataFromDeviceTimer();
}

void PatchManagerViewController::updatePatchFileToDevideAtRange(std::uint64_t location, std::uint64_t length)
{
    // Clipped to the list: the slots past it hold nothing to write.
    if (location >= patchItems_.size()) return;
    const std::uint64_t end = location + std::min<std::uint64_t>(length, patchItems_.size() - location);
    takeUnitChanges(location, end);
    PatchItems items;
    std::vector<std::int64_t> indexes;
    for (std::uint64_t slot = location; slot < end; ++slot) {
        if (!patchItems_[slot]) continue;
        items.push_back(patchItems_[slot]);
        indexes.push_back(static_cast<std::int64_t>(slot));
    }
    if (items.empty()) return;
    coordinator_.writeToDeviceWithPatchGroup(items, indexes);
    appDelegate_.setReloadDataFromDeviceTimer();
}

void PatchManagerViewController::updatePatchListToDevive(const PatchItems& patchList)
{
    if (patchList.empty()) return;
    // The whole list goes: every patch that takes a change carries it.
    takeUnitChanges(0, std::numeric_limits<std::uint64_t>::max());
    coordinator_.writeToDeviceWithPatchList(patchList);
    appDelegate_.setReloadDataFromDeviceTimer();
}

// ---- buffered device changes ----

void PatchManagerViewController::updatePatchItem(std::shared_ptr<PatchItem> patchItem, const std::string& offset,
                                                 const UnitPatchChange& origin)
{
    // Bound now to the patch the unit changed: by the end of the quiet time a reorder may have put another
    // patch in this slot, and a write of ours on its way to the unit may have done so already.
    auto target = heldPatch(origin.heldPath);
    // Our write replacing the change on the unit carries another patch over one an undo keeps to put back
    // (a drop or Restore All replaced it): the change goes with that patch, so the undo puts it back as the
    // unit last held it.
    if (!target && origin.overwritten) target = patchKeptForUndo(origin.heldPath);
    UnitPatchChange held = origin;
    if (!target) {
        // The patch the unit changed has left the list, and our write replaces it on the unit too: the
        // list and the unit agree without it.
        if (origin.overwritten) return;
        target = patchInSlot(offset);
        // A patch named and not listed: the slot's patch is another one, whose texts are no edit of the
        // patch the unit changed.
        if (!origin.heldPath.empty()) {
            held.heldName.reset();
            held.heldComment.reset();
        }
    }
    bufferDataFromDevice_.push_back(
        {std::move(patchItem), offset, std::move(target), origin.overwritten, held.heldName, held.heldComment,
         absoluteFile(origin.heldPath)});
    appDelegate_.setReloadDataFromDeviceTimer();
}

std::string PatchManagerViewController::absoluteFile(const std::string& path) const
{
    return path.empty() || path.front() == '/' ? path : coordinator_.applicationFolder() + "/" + path;
}

std::shared_ptr<PatchItem> PatchManagerViewController::heldPatch(const std::string& path) const
{
    if (path.empty()) return nullptr;
    const auto absolute = [this](const std::string& file) { return absoluteFile(file); };
    const std::string held = absolute(path);
    // A change still buffered names the file its patch takes when it applies.
    for (auto change = bufferDataFromDevice_.rbegin(); change != bufferDataFromDevice_.rend(); ++change)
        if (change->patchItem && change->target && absolute(change->patchItem->path) == held) return change->target;
    for (const auto& patch : patchItems_)
        if (patch && absolute(patch->path) == held) return patch;
    // A merge gave the patch the unit changed another file, which the unit had not taken yet.
    if (auto moved = fileTrail_.follow(held, absolute); moved && slotOf(moved.get())) return moved;
    return nullptr;
}

std::shared_ptr<PatchItem> PatchManagerViewController::patchKeptForUndo(const std::string& path) const
{
    if (path.empty()) return nullptr;
    const auto absolute = [this](const std::string& file) { return absoluteFile(file); };
    const std::string held = absolute(path);
    const auto moved = fileTrail_.follow(held, absolute);
    for (const auto& record : undoController_.actionStack()) {
        const auto* replaced = dynamic_cast<const DragFromPoolToListAction*>(record.get());
        if (!replaced) continue;
        for (const auto& object : replaced->mItems) {
            const auto* kept = std::get_if<std::shared_ptr<PatchItem>>(&object);
            if (kept && *kept && (*kept == moved || absolute((*kept)->path) == held)) return *kept;
        }
    }
    return nullptr;
}

std::optional<std::uint64_t> PatchManagerViewController::slotOf(const PatchItem* patch) const
{
    const auto found = std::find_if(patchItems_.begin(), patchItems_.end(), [patch](const auto& item) { return item.get() == patch; });
    if (found == patchItems_.end()) return std::nullopt;
    return static_cast<std::uint64_t>(found - patchItems_.begin());
}

std::optional<std::uint64_t> PatchManagerViewController::slotOf(const std::string& offset) const
{
    const auto bank = std::find_if(bankItems_.begin(), bankItems_.end(),
                                   [&](const auto& item) { return item && item->bankName == offset; });
    if (bank == bankItems_.end()) return std::nullopt;
    return static_cast<std::uint64_t>(bank - bankItems_.begin());
}

std::shared_ptr<PatchItem> PatchManagerViewController::patchInSlot(const std::string& offset) const
{
    const auto slot = slotOf(offset);
    return slot && *slot < patchItems_.size() ? patchItems_[*slot] : nullptr;
}

void PatchManagerViewController::setReloadBufferDataTimer()
{
    loadBufferDataTimer_.stop();
    loadBufferDataTimer_.start(static_cast<int>(std::min<std::int64_t>(reloadBufferDataSeconds_, 86400) * 1000));
}

void PatchManagerViewController::endTextEditing()
{
    // Moving the keys would end nothing while another window has them: the edits end themselves.
    if (patchListDelegate_) patchListDelegate_->endEdit();
    if (rightPanelOutlineView_) rightPanelOutlineView_->endEditing();
}

bool PatchManagerViewController::isEditingText() const
{
    if (patchListDelegate_ && patchListDelegate_->editor()) return true;
    const QWidget* focus = QApplication::focusWidget();
    return qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus) ||
           qobject_cast<const QTextEdit*>(focus);
}

void PatchManagerViewController::updateBuffterDataToPatchList()
{
    // Never under the user's typing: the changes wait for another quiet time.
    if (isEditingText()) {
        appDelegate_.setReloadDataFromDeviceTimer();
        return;
    }
    for (const std::uint64_t slot : applyBufferedChanges(true)) updatePatchFileToDevideAtIndex(slot);
}

// A step that writes, moves or copies the list's patches works on what the unit holds: the changes it
// reported within the quiet time are taken first, or a backup would keep the patch as it was while the
// unit and, a moment later, the list hold the new one. Under typing the patches take them all the same;
// only the list's reload waits, so the text being typed stays as it is.
void PatchManagerViewController::takeUnitChanges(std::uint64_t from, std::uint64_t to)
{
    for (const std::uint64_t slot : applyBufferedChanges(!isEditingText()))
        if (slot < from || slot >= to) updatePatchFileToDevideAtIndex(slot);
}

bool PatchManagerViewController::takeUnitChangesOf(PatchItem& patch, bool* unitNeedsIt)
{
    bool taken = false;
    if (unitNeedsIt) *unitNeedsIt = false;
    std::vector<BufferedChange> others;
    for (auto& change : std::exchange(bufferDataFromDevice_, {})) {
        if (change.target.get() != &patch || !change.patchItem) {
            others.push_back(std::move(change));
            continue;
        }
        const bool usersTexts = mergeUnitChange(change, patch);
        if (unitNeedsIt && unitNeedsPatchAfter(change, usersTexts)) *unitNeedsIt = true;
        taken = true;
    }
    bufferDataFromDevice_ = std::move(others);
    return taken;
}

std::vector<std::uint64_t> PatchManagerViewController::applyBufferedChanges(bool reloadList)
{
    std::vector<std::uint64_t> rewrites;
    if (bufferDataFromDevice_.empty()) return rewrites;
    const auto buffer = std::exchange(bufferDataFromDevice_, {});
    for (const auto& change : buffer) {
        if (!change.patchItem) continue;
        if (!change.target) {
            updateBufferPatchItem(*change.patchItem, change.offset);
            continue;
        }
        const bool usersTexts = mergeUnitChange(change, *change.target);
        const auto slot = slotOf(change.target.get());
        if (slot && unitNeedsPatchAfter(change, usersTexts) &&
            std::find(rewrites.begin(), rewrites.end(), *slot) == rewrites.end())
            rewrites.push_back(*slot);
    }
    if (mainController_) mainController_->reloadEffectListIfNeeded();
    if (!patchManagerTableView_) {
        patchListModel_->reload();
        return rewrites;
    }
    if (!reloadList) {
        if (patchListDelegate_) patchListDelegate_->followPatch();
        patchManagerTableView_->viewport()->update();
        return rewrites;
    }
    const auto kept = patchManagerTableView_->selectedRows();
    patchManagerTableView_->reloadData();
    if (!kept.empty() && kept.back() < static_cast<std::uint64_t>(patchListModel_->rowCount()))
        patchManagerTableView_->setUpCurrentSelectionWithIndexSet(kept, true);
    return rewrites;
}

void PatchManagerViewController::updateBufferPatchItem(const PatchItem& patchItem, const std::string& offset)
{
    if (const auto target = patchInSlot(offset)) updateBufferPatchItem(patchItem, *target);
}

// The unit holds the change only in the slot it reported, only when no write of ours came over it there and
// only as it made it: anywhere else, or with the user's texts over it, the patch goes to the unit again.
bool PatchManagerViewController::unitNeedsPatchAfter(const BufferedChange& change, bool usersTexts) const
{
    const auto slot = slotOf(change.target.get());
    return slot && (change.rewrite || usersTexts || slot != slotOf(change.offset));
}

bool PatchManagerViewController::mergeUnitChange(const BufferedChange& change, PatchItem& target)
{
    auto merged = change.patchItem->copy();
    // The unit changed what it held before a merge moved the patch to another file: a text that merge
    // took from the unit is no edit of the user's, and a later change of that text on the unit goes over
    // it; a text the unit left as it held it keeps the list's.
    const auto absolute = [this](const std::string& file) { return absoluteFile(file); };
    const auto taken = fileTrail_.takenSinceLeaving(change.heldPath, target, absolute);
    struct Field {
        bool kept = false;   // the list's text goes over the unit's
        bool users = false;  // and it is the user's
    };
    const auto field = [](const std::string& listed, const std::string& unit, const std::optional<std::string>& held,
                          const std::optional<std::string>& fromUnit) {
        Field f;
        if (!held || listed == *held) return f;
        f.users = !(fromUnit && listed == *fromUnit);
        f.kept = f.users || unit == *held;
        return f;
    };
    const Field name = field(target.patchName, merged->patchName, change.heldName, taken ? taken->name : std::nullopt);
    const Field comment =
        field(target.patchComment, merged->patchComment, change.heldComment, taken ? taken->comment : std::nullopt);
    bool usersTexts = name.kept || comment.kept;
    // The user's texts go as the patch's file stores them: one that does not decode (an undo puts such a
    // name back) reads as "", and only its bytes keep it.
    const auto stored = coordinator_.storedPatchTexts(target.path);
    StoredPatchTexts kept;
    if (name.kept) {
        merged->patchName = target.patchName;
        if (stored) kept.name = stored->name;
    }
    if (comment.kept) {
        merged->patchComment = target.patchComment;
        if (stored) kept.comment = stored->comment;
    }
    // The unit's file takes the user's texts; where it cannot, the list shows what the unit holds and says
    // the user's edit did not keep.
    if (usersTexts && !coordinator_.restoreFilePatch(*merged, kept)) {
        dialogs_.showInformation("Patch_CanNotEditPatchItem", target.patchName);
        merged = change.patchItem->copy();
        usersTexts = false;
    }
    const std::string former = absoluteFile(target.path);
    updateBufferPatchItem(*merged, target);
    PatchFileTrail::UnitTexts fromUnit;
    if (!usersTexts || !name.users) fromUnit.name = target.patchName;
    if (!usersTexts || !comment.users) fromUnit.comment = target.patchComment;
    if (change.target.get() == &target) fileTrail_.record(former, absoluteFile(target.path), change.target, std::move(fromUnit));
    return usersTexts;
}

void PatchManagerViewController::updateBufferPatchItem(const PatchItem& patchItem, PatchItem& target)
{
    // The list keeps the same object, so selections and open cells holding it stay valid.
    target.overwriteAllDataFromPatchItem(patchItem);
    coordinator_.updatePatchWarningWithPatchItem(target);
}

// ---- the device patch list ----

void PatchManagerViewController::mouseDownInHeaderOfTableColumn()
{
    if (!patchManagerTableView_) return;
    currentSelectionIndexSet_ = patchManagerTableView_->selectedRows();
}

void PatchManagerViewController::didClickTableColumn()
{
    if (!patchManagerTableView_) return;
    patchManagerTableView_->setUpCurrentSelectionWithIndexSet(currentSelectionIndexSet_, false);
}

void PatchManagerViewController::didChangePositionFromRowIndexSet(CustomTableViewForPatch&,
                                                                  const std::vector<std::uint64_t>& rows,
                                                                  std::uint64_t toRow)
{
    auto action = std::make_shared<ChangePositionAction>();
    action->mType = 1;
    action->setUpOldList(undoObjects(patchItems_));
    const auto result = PatchListReorder::move(patchItems_, rows, toRow);
    if (result.count == 0) return;
    reloadDataInPatchList();
    std::vector<std::uint64_t> moved;
    for (std::uint64_t row = result.target; row < result.target + result.count; ++row) moved.push_back(row);
    if (patchManagerTableView_) patchManagerTableView_->setUpCurrentSelectionWithIndexSet(moved, false);
    if (!result.changedRange) return;
    action->changedRange = {result.changedRange->location, result.changedRange->length};
    action->setUpNewList(undoObjects(patchItems_));
    undoController_.addActionStack(action);
    updatePatchFileToDevideAtRange(result.changedRange->location, result.changedRange->length);
}

void PatchManagerViewController::didSelectRowAtIndex(CustomTableViewForPatch& table, std::uint64_t row)
{
    if (table.isEmptyRow(static_cast<int>(row)) || row >= patchItems_.size() || !patchItems_[row]) return;
    coordinator_.selectPatchItem(patchItems_[row], static_cast<std::int64_t>(row));
}

void PatchManagerViewController::tableViewDidBecomeFirstResponder(CustomTableViewForPatch&)
{
    isRestoreAllMode_ = false;
    setArrowImageWithBackupAllAndRestoreAllState();
}

// ---- the list's option menu ----

std::shared_ptr<PatchItem> PatchManagerViewController::patchItemForRightClickAtIndex(CustomTableViewForPatch&,
                                                                                     std::uint64_t row)
{
    return row < patchItems_.size() ? patchItems_[row] : nullptr;
}

// ---- undo handlers ----

// The handlers are in PatchManagerViewControllerUndo.cpp.
