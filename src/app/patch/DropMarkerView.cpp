#include "app/patch/DropMarkerView.h"

#include <QPainter>
#include <QPainterPath>

DropMarkerView::DropMarkerView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setObjectName(QStringLiteral("DropMarkerView"));
}

void DropMarkerView::place(const QRect& frame, Shape shape)
{
    shape_ = shape;
    setGeometry(frame);
    raise();
    show();
    update();
}

void DropMarkerView::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, shape_ == Shape::On);
    const QRectF inner = QRectF(rect()).adjusted(kBorderWidth / 2.0, kBorderWidth / 2.0, -kBorderWidth / 2.0,
                                                 -kBorderWidth / 2.0);
    QPen pen(markerColor(), kBorderWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    if (shape_ == Shape::On) {
        QColor fill = markerColor();
        fill.setAlphaF(0.3f);
        painter.setBrush(fill);
        const double radius = height() / 2.0;
        painter.drawRoundedRect(inner, radius, radius);
        return;
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(inner);
}
