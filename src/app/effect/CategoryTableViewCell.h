#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

class QPainter;

// The category cell of the effect list ("CategoryCell"): the effect colour's card and the category's
// name over the row's darker background.
class CategoryTableViewCell {
public:
    static constexpr const char* kIdentifier = "CategoryCell";
    static constexpr int kCardWidth = 12;

    void clearCellView();
    // The card becomes an image of the card's size filled with the colour.
    void setColorCardWithColor(const QColor& color, const QSize& cardSize);
    const QImage& colorCard() const { return colorCard_; }
    void setCategory(const QString& category) { category_ = category; }
    void setBackgroundColor(const QColor& color) { backgroundColor_ = color; }

    static QRect colorCardRect(const QRect& rect);
    void paint(QPainter& painter, const QRect& rect) const;

private:
    QImage colorCard_;
    QString category_;
    QColor backgroundColor_;
};
