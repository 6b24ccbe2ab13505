#include "app/controls/DisclosureTriangle.h"

#include <QPainter>
#include <QPolygonF>

void DisclosureTriangle::draw(QPainter& painter, const QRect& rect, int indentation, bool expanded)
{
    const QPointF centre(rect.right() - indentation / 2.0, rect.center().y() + 0.5);
    QPolygonF triangle;
    if (expanded)
        triangle << centre + QPointF(-4, -2) << centre + QPointF(4, -2) << centre + QPointF(0, 3);
    else
        triangle << centre + QPointF(-2, -4) << centre + QPointF(3, 0) << centre + QPointF(-2, 4);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kColour);
    painter.drawPolygon(triangle);
    painter.restore();
}
