#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

class QPainter;

// The header of one list column: the list's background picture, separators between titled columns, a
// centred dark grey title and, while a device is connected, a sort indicator right after the title when
// it fits in the column. The lists keep one per column (see CustomHeaderView) and set its properties
// when they build their columns and, for the sort state, whenever the sort changes.
class CustomHeaderCell {
public:
    enum HeaderType : std::int64_t { EffectPool = 0, EffectList = 1, PatchPool = 2, PatchList = 3 };

    // The second separator of the last column of an effect list lies this far in from its right edge.
    static constexpr qreal kLastEffectSeparatorInset = 8.0;
    static constexpr qreal kSeparatorWidth = 2.0;
    // The last column of an effect list moves its title this far left, off the second separator.
    static constexpr qreal kLastEffectTitleShift = 2.0;

    // Any type other than the effect pool, the effect list and the patch pool is a patch list.
    std::int64_t headerType() const { return headerType_; }
    void setHeaderType(std::int64_t type) { headerType_ = type; }
    // 0 no indicator, 1 ascending, any other value descending.
    std::int64_t sortState() const { return sortState_; }
    void setSortState(std::int64_t state) { sortState_ = state; }
    bool isNotFirstCell() const { return isNotFirstCell_; }
    void setIsNotFirstCell(bool notFirst) { isNotFirstCell_ = notFirst; }
    bool isLastEffectCell() const { return isLastEffectCell_; }
    void setIsLastEffectCell(bool last) { isLastEffectCell_ = last; }

    static QColor titleColor();
    QString backgroundImageName() const;
    // Nothing while no indicator is wanted.
    std::optional<QString> sortIndicatorImageName() const;

    // The separators of a column with or without a title.
    QVector<QRectF> separatorFrames(const QRectF& frame, bool hasTitle) const;
    // The measured title centred in the frame.
    QRectF titleRect(const QRectF& frame, const QSizeF& measuredTitle) const;
    // The sort indicator one point right of the title's end, two thirds of the frame's height wide and a
    // third high; nothing while no device is connected, while no sort is shown, or when it would pass the
    // column's right edge.
    std::optional<QRectF> sortIndicatorRect(const QRectF& frame, qreal measuredTitleWidth, bool deviceConnected) const;
    // The text rectangle cut back to the cell's width.
    static QRectF checkWidthForTextRect(const QRectF& textRect, const QRectF& cellFrame);
    // The title's size when wrapped into the frame (what does not fit is cut at the frame's bottom).
    static QSizeF measureTitle(const QString& title, const QFont& font, const QSizeF& frame);

    void draw(QPainter& painter, const QRectF& frame, const QString& title, const QFont& font,
              bool deviceConnected) const;

private:
    std::int64_t headerType_ = PatchList;
    std::int64_t sortState_ = 0;
    bool isNotFirstCell_ = false;
    bool isLastEffectCell_ = false;
};
