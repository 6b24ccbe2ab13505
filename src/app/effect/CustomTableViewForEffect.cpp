#include "app/effect/CustomTableViewForEffect.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "app/controls/CustomScroller.h"
#include "app/controls/TableRowChecks.h"
#include "app/effect/EffectListCellDelegate.h"
#include "app/effect/EffectListModel.h"

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
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
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
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void CustomTableViewForEffect::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

void CustomTableViewForEffect::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void CustomTableViewForEffect::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    const QPoint point = event->position().toPoint();
    const int row = rowAtPoint(point);
    if (isEmptyRow(row)) return;
    const QModelIndex index = indexAt(point);
    if (cellDelegate_ && cellDelegate_->clickButtonAt(index, visualRect(index), point)) return;
    selectionModel()->select(QItemSelection(model()->index(row, 0), model()->index(row, model()->columnCount() - 1)),
                             QItemSelectionModel::ClearAndSelect);
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
}

void CustomTableViewForEffect::keyPressEvent(QKeyEvent* event)
{
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
        painter.fillRect(event->rect(), palette().color(QPalette::Base));
        for (int row = first; row <= last; ++row) {
            bool selected = false;
            const CustomTableRowView rowView = fillRowView(row, &selected);
            if (!selected) painter.fillRect(rowRect(row), row % 2 == 0 ? QColor(Qt::white) : kOddRowFill);
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
