#include "app/effect/EffectPoolOutlineView.h"

#include <QDrag>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>

#include <cmath>

#include "app/controls/CustomScroller.h"
#include "app/controls/DisclosureTriangle.h"
#include "app/effect/EffectItemDrag.h"
#include "app/effect/EffectPoolModel.h"
#include "app/views/NamedImages.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"

EffectPoolOutlineView::EffectPoolOutlineView(QWidget* parent) : QTreeView(parent)
{
    setObjectName(QStringLiteral("EffectPool"));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);
    setItemsExpandable(true);
    setUniformRowHeights(false);
    setAnimated(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScroller_ = new CustomScroller(this);
    verticalScroller_->setIsEffectManagerRuler(true);
    setVerticalScrollBar(verticalScroller_);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    QPalette colours = palette();
    const QColor background = QColor::fromRgbF(30 / 255.0f, 45 / 255.0f, 75 / 255.0f, 1.0f);
    colours.setColor(QPalette::Base, background);
    colours.setColor(QPalette::Window, background);
    // The rows draw their own selection.
    colours.setColor(QPalette::Highlight, Qt::transparent);
    colours.setColor(QPalette::HighlightedText, Qt::white);
    setPalette(colours);
    viewport()->setAutoFillBackground(true);
    setDragStarter([this](std::unique_ptr<QMimeData> data, const QPixmap& image, const QPoint& hotSpot) {
        auto* drag = new QDrag(this);
        drag->setMimeData(data.release());
        drag->setPixmap(image);
        drag->setHotSpot(hotSpot);
        drag->exec(Qt::CopyAction);
    });
}

void EffectPoolOutlineView::setPoolModel(EffectPoolModel* model)
{
    poolModel_ = model;
    setModel(model);
}

std::vector<QModelIndex> EffectPoolOutlineView::shownRows() const
{
    std::vector<QModelIndex> rows;
    if (model() == nullptr) return rows;
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
        for (int row = 0; row < model()->rowCount(parent); ++row) {
            const QModelIndex index = model()->index(row, 0, parent);
            if (!index.isValid()) continue;
            rows.push_back(index);
            if (isExpanded(index)) walk(index);
        }
    };
    walk(QModelIndex());
    return rows;
}

int EffectPoolOutlineView::rowForIndex(const QModelIndex& index) const
{
    const auto rows = shownRows();
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (rows[row] == index) return static_cast<int>(row);
    return -1;
}

QModelIndex EffectPoolOutlineView::indexForRow(int row) const
{
    const auto rows = shownRows();
    return row >= 0 && static_cast<std::size_t>(row) < rows.size() ? rows[static_cast<std::size_t>(row)] : QModelIndex();
}

int EffectPoolOutlineView::rowAtPoint(const QPointF& point) const
{
    const QModelIndex index = indexAt(point.toPoint());
    return index.isValid() ? rowForIndex(index.siblingAtColumn(0)) : -1;
}

std::vector<std::shared_ptr<DirectoryObject>> EffectPoolOutlineView::selectedNodes() const
{
    std::vector<std::shared_ptr<DirectoryObject>> nodes;
    if (poolModel_ == nullptr || selectionModel() == nullptr) return nodes;
    for (const QModelIndex& index : shownRows())
        if (selectionModel()->isSelected(index))
            if (auto node = poolModel_->nodeAt(index)) nodes.push_back(std::move(node));
    return nodes;
}

void EffectPoolOutlineView::selectRows(const std::set<int>& rows)
{
    if (selectionModel() == nullptr) return;
    QItemSelection selection;
    const auto shown = shownRows();
    for (const int row : rows)
        if (row >= 0 && static_cast<std::size_t>(row) < shown.size())
            selection.select(shown[static_cast<std::size_t>(row)], shown[static_cast<std::size_t>(row)]);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void EffectPoolOutlineView::expandItem(const QModelIndex& index)
{
    expand(index);
    const int children = model()->rowCount(index);
    if (children > 0) {
        const QModelIndex last = model()->index(children - 1, 0, index);
        if (last.isValid()) scrollTo(last);
    }
    scrollTo(index);
    updateRuler();
}

void EffectPoolOutlineView::forceExpandForItem(const QModelIndex& index) { expand(index); }

void EffectPoolOutlineView::collapseItem(const QModelIndex& index)
{
    collapse(index);
    updateRuler();
}

void EffectPoolOutlineView::reloadData(bool structureChanged)
{
    if (poolModel_ != nullptr) {
        if (structureChanged) {
            selectionIndexSet_.clear();
            poolModel_->reset();
        } else {
            poolModel_->refresh();
        }
    }
    viewport()->update();
    updateRuler();
}

bool EffectPoolOutlineView::isExpandedOverView() const
{
    const auto rows = shownRows();
    if (rows.empty()) return false;
    const QRect last = visualRect(rows.back());
    return last.y() + verticalOffset() + last.height() > viewport()->height();
}

void EffectPoolOutlineView::updateRuler() { verticalScroller_->setRulerVisible(isExpandedOverView()); }

bool EffectPoolOutlineView::rulerVisible() const { return verticalScroller_->rulerVisible(); }

void EffectPoolOutlineView::mousePressEvent(QMouseEvent* event)
{
    // Only the place is kept: the release decides what the press meant.
    mouseDownPoint_ = event->position();
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void EffectPoolOutlineView::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void EffectPoolOutlineView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    const QPointF point = event->position();
    const int row = rowAtPoint(point);
    // A press that ends on another row is no click.
    if (row != rowAtPoint(mouseDownPoint_)) return;
    if (row < 0) {
        if (rect().contains(point.toPoint())) selectionModel()->clearSelection();
        return;
    }
    selectionIndexSet_ = {row};
    selectRows(selectionIndexSet_);
    const QModelIndex index = indexForRow(row);
    // The arrow keys go on from the row clicked, not from wherever the keyboard last was.
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    if (!model()->hasChildren(index)) return;
    const auto shift = [this, row](int by) {
        std::set<int> moved;
        for (const int each : selectionIndexSet_) moved.insert(each > row ? each + by : each);
        selectionIndexSet_ = std::move(moved);
    };
    // The rows below move by the rows the group shows or hides, counted as shown, so a group holding an
    // open group moves them by all its shown rows.
    const auto before = static_cast<int>(shownRows().size());
    if (!isExpanded(index)) {
        expandItem(index);
        shift(static_cast<int>(shownRows().size()) - before);
        selectionModel()->clearSelection();
        selectRows(selectionIndexSet_);
        return;
    }
    // Selected rows inside the group go with it.
    const auto shown = shownRows();
    const auto isInside = [&shown, &index, row](int each) {
        if (each <= row || static_cast<std::size_t>(each) >= shown.size()) return false;
        for (QModelIndex up = shown[static_cast<std::size_t>(each)].parent(); up.isValid(); up = up.parent())
            if (up == index) return true;
        return false;
    };
    for (auto each = selectionIndexSet_.begin(); each != selectionIndexSet_.end();) {
        if (isInside(*each)) {
            selectionModel()->select(shown[static_cast<std::size_t>(*each)],
                                     QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
            each = selectionIndexSet_.erase(each);
        } else {
            ++each;
        }
    }
    collapseItem(index);
    shift(static_cast<int>(shownRows().size()) - before);
    selectRows(selectionIndexSet_);
}

void EffectPoolOutlineView::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!(event->buttons() & Qt::LeftButton)) return;
    dragSelectedEffects(event->position());
}

void EffectPoolOutlineView::dragSelectedEffects(const QPointF& point)
{
    const QPointF moved = point - mouseDownPoint_;
    if (static_cast<long>(std::hypot(moved.x(), moved.y())) < 2) return;
    const int row = rowAtPoint(point);
    if (row < 0 || poolModel_ == nullptr || selectionModel() == nullptr) return;
    // The selection as shown decides (the arrow keys move it without a click): a row no longer selected
    // starts no drag, and what goes is the selection the row is part of.
    const QModelIndex pressed = indexForRow(row);
    if (!selectionModel()->isSelected(pressed)) return;
    const auto node = poolModel_->nodeAt(pressed);
    if (!node || node->isGroup) return;
    std::vector<std::shared_ptr<EffectItem>> items;
    for (const auto& selected : selectedNodes()) {
        const auto* item = std::get_if<std::shared_ptr<EffectItem>>(&selected->object);
        if (item == nullptr || !*item || selected->isIncompatible) continue;
        if (canDragEffectItem_ && canDragEffectItem_(**item)) items.push_back(*item);
    }
    if (items.empty()) return;
    auto data = EffectItemDrag::mimeDataForItems(items);
    if (!data) return;
    const QImage image = NamedImages::image(QStringLiteral("mouse"));
    // The picture hangs centred below the pointer.
    if (dragStarter_) dragStarter_(std::move(data), QPixmap::fromImage(image), QPoint(image.width() / 2, 0));
}

void EffectPoolOutlineView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    updateRuler();
}

void EffectPoolOutlineView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    if (model() == nullptr || !model()->hasChildren(index)) return;
    DisclosureTriangle::draw(*painter, rect, indentation(), isExpanded(index));
}
