#include "app/controls/CustomSplitView.h"

#include <QEvent>
#include <QPainter>

CustomSplitView::CustomSplitView(Qt::Orientation orientation, QWidget* parent) : QSplitter(orientation, parent)
{
    setHandleWidth(kDividerThickness);
    setChildrenCollapsible(false);
}

QColor CustomSplitView::dividerColor(Qt::Orientation orientation)
{
    return orientation == Qt::Horizontal ? QColor(128, 130, 133) : QColor(30, 45, 75);
}

QSplitterHandle* CustomSplitView::createHandle()
{
    QSplitterHandle* handle = QSplitter::createHandle();
    handle->installEventFilter(this);
    return handle;
}

bool CustomSplitView::eventFilter(QObject* watched, QEvent* event)
{
    // The divider is one colour whole, read at each paint so it follows a later change of orientation.
    if (event->type() == QEvent::Paint) {
        if (auto* handle = qobject_cast<QSplitterHandle*>(watched); handle && handle->splitter() == this) {
            QPainter painter(handle);
            painter.fillRect(handle->rect(), dividerColor(orientation()));
            return true;
        }
    }
    return QSplitter::eventFilter(watched, event);
}
