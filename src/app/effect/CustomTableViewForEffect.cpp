#include "app/effect/CustomTableViewForEffect.h"

#include <QApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <utility>

#include "app/controls/ControlClick.h"
#include "app/controls/CustomScroller.h"
#include "app/controls/NoBackgroundScroller.h"
#include "app/controls/TableRowChecks.h"
#include "app/effect/EffectDialogs.h"
#include "app/effect/EffectItemDrag.h"
#include "app/effect/EffectListCellDelegate.h"
#include "app/effect/EffectListModel.h"
#include "app/effect/OptionMenuForEffectViewController.h"
#include "app/effect/TableViewForEffectRightClickDelegate.h"
#include "app/shell/AppDelegate.h"
#include "library/models/EffectItem.h"

namespace {

const QColor kOddRowFill = QColor::fromRgbF(212 / 255.0f, 223 / 255.0f, 238 / 255.0f, 1.0f);

}  // namespace

CustomTableViewForEffect::CustomTableViewForEffect(QWidget* parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("EffectTable"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(true);
    setFocusPolicy(Qt::StrongFocus);
    setDragEnabled(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    verticalHeader()->setMinimumSectionSize(kRowHeight);
    // A window narrower than the columns scrolls sideways, so Used and Favourite stay reachable.
    setHorizontalScrollBar(horizontalScroller_ = new NoBackgroundScroller(Qt::Horizontal, this));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScroller_ = new CustomScroller(this);
    verticalScroller_->setIsEffectManagerRuler(true);
    setVerticalScrollBar(verticalScroller_);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The row views draw the rows; the cells draw over them.
    viewport()->setAutoFillBackground(false);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(30, 45, 75));
    colours.setColor(QPalette::Highlight, Qt::transparent);
    setPalette(colours);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    connect(verticalScroller_, &QScrollBar::valueChanged, this, &CustomTableViewForEffect::boundDidChange);
    // The menu points at its row: a sideways scroll moves the row from under it as a vertical one does.
    connect(horizontalScroller_, &QScrollBar::valueChanged, this, &CustomTableViewForEffect::boundDidChange);
}

CustomTableViewForEffect::~CustomTableViewForEffect()
{
    addItemByDraggingBlock_ = nullptr;
    delete menuPopover_;
}

void CustomTableViewForEffect::setOptionMenuServices(AppDelegate* appDelegate, EffectDialogs* dialogs)
{
    appDelegate_ = appDelegate;
    dialogs_ = dialogs;
}

void CustomTableViewForEffect::setCellDelegate(EffectListCellDelegate* delegate)
{
    cellDelegate_ = delegate;
    setItemDelegate(delegate);
}

CustomTableRowView CustomTableViewForEffect::fillRowView(int row, bool* selected) const
{
    CustomTableRowView rowView;
    bool isSelected = false;
    if (rowViewProvider_) rowViewProvider_(row, rowView, isSelected);
    if (selected != nullptr) *selected = isSelected;
    return rowView;
}

const CustomTableRowView* CustomTableViewForEffect::rowViewForRow(int row) const
{
    if (!rowViewProvider_) return nullptr;
    checkedRowView_ = fillRowView(row);
    return &checkedRowView_;
}

void CustomTableViewForEffect::reloadData()
{
    // A reload keeps the selected rows that still hold an effect, as the rows are what is selected.
    QList<int> selected;
    if (selectionModel() != nullptr)
        for (const QModelIndex& index : selectionModel()->selectedRows()) selected.append(index.row());
    if (auto* list = qobject_cast<EffectListModel*>(model())) list->reload();
    if (selectionModel() != nullptr && model() != nullptr) {
        QItemSelection selection;
        for (const int row : selected)
            if (!isEmptyRow(row))
                selection.select(model()->index(row, 0), model()->index(row, model()->columnCount() - 1));
        selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    updateRuler();
}

bool CustomTableViewForEffect::isExpandedOverView() const
{
    if (model() == nullptr || model()->rowCount() == 0) return false;
    const int last = model()->rowCount() - 1;
    return rowViewportPosition(last) + verticalOffset() + rowHeight(last) > viewport()->height();
}

void CustomTableViewForEffect::updateRuler() { verticalScroller_->setRulerVisible(isExpandedOverView()); }

bool CustomTableViewForEffect::rulerVisible() const { return verticalScroller_->rulerVisible(); }

int CustomTableViewForEffect::rowAtPoint(const QPoint& point) const { return rowAt(point.y()); }

bool CustomTableViewForEffect::isEmptyRow(int row) const { return TableRowChecks::checkEmptyRow(row, this); }

void CustomTableViewForEffect::mousePressEvent(QMouseEvent* event)
{
    // A press selects nothing and starts no drag; the release decides.
    closeRightClickMenu();
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void CustomTableViewForEffect::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

void CustomTableViewForEffect::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    closeRightClickMenu();
    secondClick_ = event->button() == Qt::LeftButton;
}

void CustomTableViewForEffect::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    const QPoint point = event->position().toPoint();
    const bool secondClick = secondClick_;
    secondClick_ = false;
    if (ControlClick::isRightClick(event->button(), event->modifiers())) {
        rightMouseUp(point);
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    closeRightClickMenu();
    const int row = rowAtPoint(point);
    if (isEmptyRow(row)) return;
    const QModelIndex index = indexAt(point);
    const bool firstRanButton = std::exchange(clickRanButton_, false);
    if (secondClick) {
        // The first click of the two ran the star or the Recover button (which may be gone with the
        // recover): the second is part of that click.
        if (firstRanButton ||
            (cellDelegate_ && cellDelegate_->buttonAt(index, visualRect(index), point) != EffectListCellDelegate::Button::None))
            return;
        if (rightClickDelegate_)
            rightClickDelegate_->tableViewDidClickOnPropertyButtonAtIndex(*this, static_cast<std::size_t>(row), nullptr);
        return;
    }
    if (cellDelegate_ && cellDelegate_->clickButtonAt(index, visualRect(index), point)) {
        clickRanButton_ = true;
        return;
    }
    selectRowAlone(row);
}

void CustomTableViewForEffect::selectRowAlone(int row)
{
    selectionModel()->select(QItemSelection(model()->index(row, 0), model()->index(row, model()->columnCount() - 1)),
                             QItemSelectionModel::ClearAndSelect);
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
}

void CustomTableViewForEffect::rightMouseUp(const QPoint& position)
{
    if (appDelegate_ == nullptr || appDelegate_->isShowingDialog() || rightClickDelegate_ == nullptr) return;
    const int row = rowAtPoint(position);
    if (row < 0 || isEmptyRow(row)) return;
    const auto item = rightClickDelegate_->tableViewItemForRightClickAtIndex(*this, static_cast<std::size_t>(row));
    // The unknown effect has no menu, and keeps the selection as it was.
    if (!item || item->effectCategoryID == EffectItem::kUnknownCategoryID) return;
    selectRowAlone(row);
    drawOptionMenu(static_cast<std::size_t>(row), position);
}

void CustomTableViewForEffect::keyPressEvent(QKeyEvent* event)
{
    if (menuPopover_ && menuPopover_->isVisible()) {
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        QTableView::keyPressEvent(event);
        return;
    default:
        event->accept();
    }
}

void CustomTableViewForEffect::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    // The focus going into the menu that just opened is not the list losing it.
    const QWidget* focus = QApplication::focusWidget();
    if (focus && menuPopover_ && (focus == menuPopover_ || menuPopover_->isAncestorOf(focus))) return;
    if (event->reason() == Qt::PopupFocusReason) return;
    closeRightClickMenu();
}

// ---- the option menu ----

OptionMenuForEffectViewController* CustomTableViewForEffect::optionMenu() const
{
    return menuPopover_ ? qobject_cast<OptionMenuForEffectViewController*>(menuPopover_->contentWidget()) : nullptr;
}

void CustomTableViewForEffect::closeRightClickMenu()
{
    if (menuPopover_ && menuPopover_->isVisible()) menuPopover_->hide();
}

void CustomTableViewForEffect::drawOptionMenu(std::size_t row, const QPoint& position)
{
    if (appDelegate_ == nullptr || dialogs_ == nullptr || rightClickDelegate_ == nullptr) return;
    if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
    if (!menuPopover_) {
        menuPopover_ = new AutoClosePopover(this);
        menuPopover_->setObjectName(QStringLiteral("EffectListMenuPopover"));
    }
    closeRightClickMenu();
    menuPopover_->setContentWidget(new OptionMenuForEffectViewController(
        *appDelegate_, *dialogs_, row, rightClickDelegate_->tableViewItemForRightClickAtIndex(*this, row), this, this));
    menuPopover_->showAtPointer(viewport()->mapToGlobal(position));
    menuPopover_->setFocus(Qt::PopupFocusReason);
}

void CustomTableViewForEffect::optionMenuDidClickOnFavoriteButton(bool isFavourite, std::size_t index,
                                                                  const std::shared_ptr<EffectItem>& item)
{
    if (rightClickDelegate_) rightClickDelegate_->tableViewDidClickOnFavoriteButton(*this, isFavourite, index, item);
    closeRightClickMenu();
}

void CustomTableViewForEffect::optionMenuDidClickOnDeletingButtonAtIndex(std::size_t index,
                                                                         const std::shared_ptr<EffectItem>& item)
{
    if (rightClickDelegate_) rightClickDelegate_->tableViewDidClickOnDeletingButtonAtIndex(*this, index, item);
    closeRightClickMenu();
}

void CustomTableViewForEffect::optionMenuDidClickOnRecoveryButtonAtIndex(std::size_t index,
                                                                         const std::shared_ptr<EffectItem>& item)
{
    if (rightClickDelegate_) rightClickDelegate_->tableViewDidClickOnRecoveryButtonAtIndex(*this, index, item);
    closeRightClickMenu();
}

void CustomTableViewForEffect::optionMenuDidClickOnPropertyButtonAtIndex(std::size_t index,
                                                                         const std::shared_ptr<EffectItem>& item)
{
    if (rightClickDelegate_) rightClickDelegate_->tableViewDidClickOnPropertyButtonAtIndex(*this, index, item);
    closeRightClickMenu();
}

void CustomTableViewForEffect::optionMenuDidCancelDeletingAtIndex(std::size_t) { closeRightClickMenu(); }

void CustomTableViewForEffect::optionMenuDidCancelChangingFavouriteAtIndex(std::size_t) { closeRightClickMenu(); }

void CustomTableViewForEffect::optionMenuWhenUsedTimesAreCounted(std::function<void()> ask)
{
    if (rightClickDelegate_) rightClickDelegate_->tableViewWhenUsedTimesAreCounted(*this, std::move(ask));
    else ask();
}

void CustomTableViewForEffect::boundDidChange()
{
    closeRightClickMenu();
    const QWidget* focus = QApplication::focusWidget();
    if (focus && menuPopover_ && (focus == menuPopover_ || menuPopover_->isAncestorOf(focus))) setFocus();
}

// ---- drops ----

int CustomTableViewForEffect::effectCount() const
{
    int count = 0;
    const int rows = model() != nullptr ? model()->rowCount() : 0;
    while (count < rows && !isEmptyRow(count)) ++count;
    return count;
}

std::int64_t CustomTableViewForEffect::dropRowAtPoint(const QPoint& point) const
{
    int target = rowAtPoint(point);
    if (target < 0) return effectCount();
    while (target > 0 && isEmptyRow(target)) --target;
    return target;
}

bool CustomTableViewForEffect::acceptDrag(QDropEvent* event)
{
    // Only the program's own effects, and only as copies: nothing another program drops is read.
    if (event->mimeData() == nullptr || !event->mimeData()->hasFormat(QString::fromLatin1(EffectItemDrag::kMimeType)))
        return false;
    if (!(event->possibleActions() & Qt::CopyAction)) return false;
    if (!acceptsDragSource_ || !acceptsDragSource_(event->source())) return false;
    row_ = dropRowAtPoint(event->position().toPoint());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void CustomTableViewForEffect::dragEnterEvent(QDragEnterEvent* event)
{
    if (!acceptDrag(event)) event->ignore();
}

void CustomTableViewForEffect::dragMoveEvent(QDragMoveEvent* event)
{
    if (!acceptDrag(event)) event->ignore();
}

void CustomTableViewForEffect::dragLeaveEvent(QDragLeaveEvent* event) { event->accept(); }

void CustomTableViewForEffect::dropEvent(QDropEvent* event)
{
    if (!acceptDrag(event)) {
        event->ignore();
        return;
    }
    std::vector<std::shared_ptr<EffectItem>> items;
    for (const auto& dropped : EffectItemDrag::itemsFromMimeData(*event->mimeData()))
        if (auto own = itemForDroppedEffect_ ? itemForDroppedEffect_(*dropped) : nullptr) items.push_back(std::move(own));
    if (items.empty()) {
        // The drop ends first; the message waits its turn in the dialog queue.
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
        QTimer::singleShot(0, this, [this] {
            if (dialogs_ != nullptr) dialogs_->showInformation("Common_Fail");
        });
        return;
    }
    for (const auto& item : items) {
        if (addItemByDraggingBlock_) addItemByDraggingBlock_(item, row_);
        ++row_;
    }
}

void CustomTableViewForEffect::paintEvent(QPaintEvent* event)
{
    if (model() == nullptr) {
        QTableView::paintEvent(event);
        return;
    }
    const int first = std::max(0, rowAt(event->rect().top()));
    int last = rowAt(event->rect().bottom());
    if (last < 0) last = model()->rowCount() - 1;
    const auto rowRect = [this](int row) { return QRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row)); };
    {
        QPainter painter(viewport());
        // The rows' strips cover their rows whole: only what lies below the last row, and under a strip
        // with transparency, is filled first (a full fill of a tall list is a frame's worth of memory).
        const int rowsEnd = last >= first ? rowViewportPosition(last) + rowHeight(last) : event->rect().top();
        const QRect below = event->rect().intersected(QRect(0, rowsEnd, viewport()->width(), viewport()->height()));
        if (!below.isEmpty()) painter.fillRect(below, palette().color(QPalette::Base));
        for (int row = first; row <= last; ++row) {
            bool selected = false;
            const CustomTableRowView rowView = fillRowView(row, &selected);
            if (!selected && !rowView.coversRect())
                painter.fillRect(rowRect(row), row % 2 == 0 ? QColor(Qt::white) : kOddRowFill);
            rowView.drawRect(painter, rowRect(row), false);
        }
    }
    QTableView::paintEvent(event);
    // The selection frame goes over the cells' coloured backgrounds, so it shows on every row.
    QPainter painter(viewport());
    for (int row = first; row <= last; ++row) {
        bool selected = false;
        const CustomTableRowView rowView = fillRowView(row, &selected);
        if (selected) rowView.drawSelectionInRect(painter, rowRect(row));
    }
}

void CustomTableViewForEffect::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    updateRuler();
}
