#include "app/controls/ThreePartImage.h"

#include <QPainter>

#include <algorithm>

namespace {

// The caps' lengths along a run of `length`: their own, or an even share when they do not both fit.
std::pair<qreal, qreal> capLengths(qreal length, qreal start, qreal end)
{
    length = std::max<qreal>(0, length);
    if (start + end <= length) return {start, end};
    return {length / 2, length / 2};
}

}  // namespace

std::array<QRectF, 3> ThreePartImage::verticalPieces(const QRectF& frame, qreal startLength, qreal endLength)
{
    const auto [top, bottom] = capLengths(frame.height(), startLength, endLength);
    const qreal middle = std::max<qreal>(0, frame.height() - top - bottom);
    return {QRectF(frame.x(), frame.y(), frame.width(), top),
            QRectF(frame.x(), frame.y() + top, frame.width(), middle),
            QRectF(frame.x(), frame.y() + top + middle, frame.width(), bottom)};
}

std::array<QRectF, 3> ThreePartImage::horizontalPieces(const QRectF& frame, qreal startLength, qreal endLength)
{
    const auto [left, right] = capLengths(frame.width(), startLength, endLength);
    const qreal middle = std::max<qreal>(0, frame.width() - left - right);
    return {QRectF(frame.x(), frame.y(), left, frame.height()),
            QRectF(frame.x() + left, frame.y(), middle, frame.height()),
            QRectF(frame.x() + left + middle, frame.y(), right, frame.height())};
}

void ThreePartImage::drawVertical(QPainter& painter, const QRectF& frame, const QImage& start, const QImage& middle,
                                  const QImage& end)
{
    const auto pieces = verticalPieces(frame, start.height(), end.height());
    painter.drawImage(pieces[0], start);
    painter.drawImage(pieces[1], middle);
    painter.drawImage(pieces[2], end);
}

void ThreePartImage::drawHorizontal(QPainter& painter, const QRectF& frame, const QImage& start, const QImage& middle,
                                    const QImage& end)
{
    const auto pieces = horizontalPieces(frame, start.width(), end.width());
    painter.drawImage(pieces[0], start);
    painter.drawImage(pieces[1], middle);
    painter.drawImage(pieces[2], end);
}
