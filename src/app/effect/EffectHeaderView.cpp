#include "app/effect/EffectHeaderView.h"

#include <QPainter>
#include <QPainterPath>

EffectHeaderView::EffectHeaderView(int headerType, std::function<bool()> isDeviceConnected, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), headerType_(headerType), isDeviceConnected_(std::move(isDeviceConnected))
{
    setSectionsClickable(true);
    setHighlightSections(false);
    setSortIndicatorShown(false);
    setFixedHeight(kHeight);
}

void EffectHeaderView::setUpCells(int count)
{
    cells_.assign(static_cast<std::size_t>(std::max(0, count)), HeaderCell{});
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        cells_[i].headerType = headerType_;
        cells_[i].isNotFirstCell = i != 0;
        cells_[i].isLastEffectCell = headerType_ == 1 && i + 1 == cells_.size();
    }
    viewport()->update();
}

const EffectHeaderView::HeaderCell& EffectHeaderView::cell(int section) const
{
    static const HeaderCell none;
    return section >= 0 && static_cast<std::size_t>(section) < cells_.size() ? cells_[static_cast<std::size_t>(section)]
                                                                              : none;
}

void EffectHeaderView::setSortState(int section, int sortState)
{
    if (section < 0 || static_cast<std::size_t>(section) >= cells_.size()) return;
    cells_[static_cast<std::size_t>(section)].sortState = sortState;
    viewport()->update();
}

QSize EffectHeaderView::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    size.setHeight(kHeight);
    return size;
}

void EffectHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    const HeaderCell& headerCell = cell(logicalIndex);
    painter->save();
    painter->fillRect(rect, headerCell.headerType == 0 ? QColor(22, 34, 58) : QColor(38, 44, 56));
    const QColor separator(90, 100, 120);
    if (headerCell.isNotFirstCell) painter->fillRect(QRect(rect.left(), rect.top() + 4, 1, rect.height() - 8), separator);
    if (headerCell.isLastEffectCell) painter->fillRect(QRect(rect.right(), rect.top() + 4, 1, rect.height() - 8), separator);
    QFont font(QStringLiteral("Helvetica Neue"));
    font.setPixelSize(12);
    font.setBold(true);
    painter->setFont(font);
    painter->setPen(QColor(200, 206, 216));
    const QString title = model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
    painter->drawText(rect.adjusted(10, 0, -20, 0), Qt::AlignVCenter | Qt::AlignLeft, title);
    if (headerCell.sortState != 0 && isDeviceConnected_ && isDeviceConnected_()) {
        const QPointF centre(rect.right() - 12, rect.center().y());
        QPainterPath arrow;
        const qreal tip = headerCell.sortState == 1 ? -4 : 4;
        arrow.moveTo(centre.x() - 4, centre.y() - tip / 2);
        arrow.lineTo(centre.x() + 4, centre.y() - tip / 2);
        arrow.lineTo(centre.x(), centre.y() + tip / 2);
        arrow.closeSubpath();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->fillPath(arrow, QColor(200, 206, 216));
    }
    painter->restore();
}
