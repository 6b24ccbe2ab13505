#pragma once

#include <QColor>
#include <QRect>
#include <QString>

#include <cstdint>

class QPainter;

// The row background of the lists of both screens: alternating light and dark strips with a 5-point
// cap at the right end, and a rounded frame round a selected row (blue in effect lists, orange in patch
// lists). The list delegates keep one per row, call clearView() before reusing it and then set the row
// and its kind. It only paints, so nothing can ever be dropped on it.
class CustomTableRowView {
public:
    static constexpr int kCapWidth = 5;
    static constexpr qreal kSelectionBorderWidth = 3.0;
    static constexpr qreal kSelectionCornerRadius = 6.0;

    void clearView();

    std::uint64_t row() const { return row_; }
    void setRow(std::uint64_t row) { row_ = row; }
    bool isEffectRow() const { return isEffectRow_; }
    void setIsEffectRow(bool isEffectRow) { isEffectRow_ = isEffectRow; }
    // Kept for the owners; the drawing does not read it.
    bool isEmptyRow() const { return isEmptyRow_; }
    void setIsEmptyRow(bool isEmptyRow) { isEmptyRow_ = isEmptyRow; }

    // Odd rows are dark, even rows light.
    bool isDarkRow() const { return row_ % 2 == 1; }
    QString leftImageName() const;
    QString rightImageName() const;
    QColor selectionColor() const;

    // The pieces of a row drawn in `rect`: the body without its cap, and the cap, which always spans
    // the last five points of the drawn width.
    static QRect leftPieceFrame(const QRect& rect);
    static QRect rightPieceFrame(const QRect& rect);

    void drawRect(QPainter& painter, const QRect& rect, bool selected) const;
    // True when drawRect paints every pixel of its rect (its pictures have no transparency), so what lay
    // beneath need not be painted first.
    bool coversRect() const;
    // The selection frame covers the row without its right cap.
    void drawSelectionInRect(QPainter& painter, const QRect& rect) const;

private:
    std::uint64_t row_ = 0;
    bool isEffectRow_ = false;
    bool isEmptyRow_ = false;
};
