#include "app/controls/CustomHeaderCell.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "app/controls/TextMeasure.h"
#include "app/views/NamedImages.h"

QColor CustomHeaderCell::titleColor() { return QColor::fromRgbF(70 / 255.0f, 70 / 255.0f, 72 / 255.0f, 1.0f); }

QString CustomHeaderCell::backgroundImageName() const
{
    switch (headerType_) {
    case EffectPool: return QStringLiteral("effect_pool_header");
    case EffectList: return QStringLiteral("effect_list_header");
    case PatchPool: return QStringLiteral("patch_pool_header");
    default: return QStringLiteral("patch_list_header");
    }
}

std::optional<QString> CustomHeaderCell::sortIndicatorImageName() const
{
    if (sortState_ == 0) return std::nullopt;
    return sortState_ == 1 ? QStringLiteral("sort_indicator_ascending") : QStringLiteral("sort_indicator_descending");
}

QVector<QRectF> CustomHeaderCell::separatorFrames(const QRectF& frame, bool hasTitle) const
{
    QVector<QRectF> frames;
    if (!hasTitle || !isNotFirstCell_) return frames;
    frames.append(QRectF(frame.x(), frame.y(), kSeparatorWidth, frame.height()));
    if (isLastEffectCell_) {
        frames.append(QRectF(frame.x() + frame.width() - kLastEffectSeparatorInset, frame.y(), kSeparatorWidth,
                             frame.height()));
    }
    return frames;
}

QRectF CustomHeaderCell::titleRect(const QRectF& frame, const QSizeF& measuredTitle) const
{
    qreal x = frame.x() + (frame.width() - measuredTitle.width()) / 2;
    if (isLastEffectCell_) x -= kLastEffectTitleShift;
    return {x, frame.y() + (frame.height() - measuredTitle.height()) / 2, measuredTitle.width(), measuredTitle.height()};
}

std::optional<QRectF> CustomHeaderCell::sortIndicatorRect(const QRectF& frame, qreal measuredTitleWidth,
                                                          bool deviceConnected) const
{
    if (!deviceConnected || sortState_ == 0) return std::nullopt;
    const qreal unit = std::floor(frame.height() / 3);
    const qreal titleStart = frame.x() + (frame.width() - measuredTitleWidth) / 2;
    const qreal x = titleStart + measuredTitleWidth + 1;
    if (!(x + 2 * unit < frame.x() + frame.width())) return std::nullopt;
    return QRectF(x, frame.y() + (frame.height() - unit) / 2, 2 * unit, unit);
}

QRectF CustomHeaderCell::checkWidthForTextRect(const QRectF& textRect, const QRectF& cellFrame)
{
    QRectF checked = textRect;
    if (cellFrame.width() < textRect.x() + textRect.width()) checked.setWidth(cellFrame.width() - textRect.x());
    return checked;
}

QSizeF CustomHeaderCell::measureTitle(const QString& title, const QFont& font, const QSizeF& frame)
{
    return TextMeasure::measure(title, font, frame);
}

void CustomHeaderCell::draw(QPainter& painter, const QRectF& frame, const QString& title, const QFont& font,
                            bool deviceConnected) const
{
    painter.save();
    painter.drawImage(frame, NamedImages::image(backgroundImageName()));
    const QImage separator = NamedImages::image(QStringLiteral("cell_separator"));
    for (const QRectF& place : separatorFrames(frame, !title.isEmpty())) painter.drawImage(place, separator);
    const QSizeF measured = measureTitle(title, font, frame.size());
    if (const auto indicator = sortIndicatorRect(frame, measured.width(), deviceConnected)) {
        painter.drawImage(*indicator, NamedImages::image(*sortIndicatorImageName()));
    }
    if (!title.isEmpty()) {
        painter.setFont(font);
        painter.setPen(titleColor());
        painter.setClipRect(frame);
        painter.drawText(titleRect(frame, measured), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, title);
    }
    painter.restore();
}
