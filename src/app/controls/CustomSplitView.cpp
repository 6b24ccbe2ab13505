#include "app/controls/CustomSplitView.h"

CustomSplitView::CustomSplitView(Qt::Orientation orientation, QWidget* parent) : QSplitter(orientation, parent)
{
    setHandleWidth(kDividerThickness);
    setChildrenCollapsible(false);
    // One sheet for both orientations, so the colour follows a later change of orientation.
    setStyleSheet(QStringLiteral("QSplitter::handle:horizontal { background: %1; }"
                                 "QSplitter::handle:vertical { background: %2; }")
                      .arg(dividerColor(Qt::Horizontal).name(), dividerColor(Qt::Vertical).name()));
}

QColor CustomSplitView::dividerColor(Qt::Orientation orientation)
{
    return orientation == Qt::Horizontal ? QColor(128, 130, 133) : QColor(30, 45, 75);
}
