#include "app/controls/ScalingWidthTextField.h"

#include <QFontMetrics>
#include <QResizeEvent>

#include <cmath>

ScalingWidthTextField::ScalingWidthTextField(const QString& text, QWidget* parent) : QLabel(text, parent) {}

std::optional<QRectF> ScalingWidthTextField::wrappingBounds(bool wraps, const QSizeF& frame)
{
    if (!wraps || !(frame.height() > 1.0)) return std::nullopt;
    return QRectF(0, 0, frame.width() - 4.0, 10000.0);
}

QSize ScalingWidthTextField::sizeHint() const
{
    const auto bounds = wrappingBounds(wordWrap(), QSizeF(size()));
    if (!bounds) return QLabel::sizeHint();
    const QRect wrapped = fontMetrics().boundingRect(bounds->toRect(), Qt::TextWordWrap, text());
    return {wrapped.width(), wrapped.height()};
}

void ScalingWidthTextField::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) updateGeometry();
}
