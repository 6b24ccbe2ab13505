#include "app/controls/NoBackgroundScroller.h"

#include <QPainter>
#include <QStyleOptionSlider>

NoBackgroundScroller::NoBackgroundScroller(QWidget* parent) : NoBackgroundScroller(Qt::Vertical, parent) {}

NoBackgroundScroller::NoBackgroundScroller(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
}

void NoBackgroundScroller::paintEvent(QPaintEvent*)
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    // Every part but the slot, which is the groove and the two page areas beside the knob.
    option.subControls =
        QStyle::SC_All & ~(QStyle::SC_ScrollBarGroove | QStyle::SC_ScrollBarAddPage | QStyle::SC_ScrollBarSubPage);
    QPainter painter(this);
    style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
}
