#include "app/controls/CustomHeaderView.h"

#include <QPainter>

#include "app/shell/AppDelegate.h"

CustomHeaderView::CustomHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSortIndicatorShown(false);
    setHighlightSections(false);
}

CustomHeaderCell& CustomHeaderView::headerCell(int logicalIndex)
{
    if (logicalIndex >= static_cast<int>(cells_.size())) cells_.resize(static_cast<std::size_t>(logicalIndex) + 1);
    return cells_[static_cast<std::size_t>(logicalIndex)];
}

const CustomHeaderCell* CustomHeaderView::headerCellIfAny(int logicalIndex) const
{
    if (logicalIndex < 0 || logicalIndex >= static_cast<int>(cells_.size())) return nullptr;
    return &cells_[static_cast<std::size_t>(logicalIndex)];
}

void CustomHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!rect.isValid() || logicalIndex < 0) return;
    static const CustomHeaderCell plain;
    const CustomHeaderCell* cell = headerCellIfAny(logicalIndex);
    const QString title = model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString() : QString();
    (cell ? *cell : plain).draw(*painter, QRectF(rect), title, font(), AppDelegate::getInstance().isDeviceConnected());
}
