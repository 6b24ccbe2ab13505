#include "app/controls/UnchangeLayoutCell.h"

#include <QStyleOptionButton>
#include <QStylePainter>

#include "app/controls/TextMeasure.h"

UnchangeLayoutCell::UnchangeLayoutCell(const QString& title, QWidget* parent) : QPushButton(title, parent) {}

QRectF UnchangeLayoutCell::titleRectForBounds(const QRectF& standardTitle, const QRectF& bounds, qreal textHeight)
{
    QRectF title = standardTitle;
    if (textHeight < title.height()) {
        title.setY(bounds.y() + (bounds.height() - textHeight) / 2);
        title.setHeight(textHeight);
    }
    return title;
}

void UnchangeLayoutCell::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString title = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRectF standard = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QSizeF measured = TextMeasure::measure(title, font(), standard.size());
    const QRectF place = titleRectForBounds(standard, QRectF(rect()), measured.height());
    painter.setPen(option.palette.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(place, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, title);
}
