#include "app/controls/TextMeasure.h"

#include <QFontMetricsF>

#include <algorithm>

QSizeF TextMeasure::measure(const QString& text, const QFont& font, const QSizeF& box)
{
    if (text.isEmpty()) return {0, 0};
    const QRectF bounds = QFontMetricsF(font).boundingRect(QRectF(QPointF(0, 0), box), Qt::TextWordWrap | Qt::AlignLeft, text);
    return {std::min(bounds.width(), box.width()), std::min(bounds.height(), box.height())};
}
