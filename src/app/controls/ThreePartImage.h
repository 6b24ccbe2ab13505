#pragma once

#include <QImage>
#include <QRectF>

#include <array>

class QPainter;

// A picture drawn in three pieces over a rectangle of any length: the two caps keep their own length
// along the drawing direction and the middle piece is stretched between them. When the rectangle is
// shorter than both caps, the caps share it evenly and the middle gets nothing.
class ThreePartImage {
public:
    // Start cap, middle, end cap. Vertical pieces run top to bottom, horizontal ones left to right.
    static std::array<QRectF, 3> verticalPieces(const QRectF& frame, qreal startLength, qreal endLength);
    static std::array<QRectF, 3> horizontalPieces(const QRectF& frame, qreal startLength, qreal endLength);

    static void drawVertical(QPainter& painter, const QRectF& frame, const QImage& start, const QImage& middle,
                             const QImage& end);
    static void drawHorizontal(QPainter& painter, const QRectF& frame, const QImage& start, const QImage& middle,
                               const QImage& end);
};
