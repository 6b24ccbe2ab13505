#pragma once

#include <QPushButton>
#include <QRectF>

// A button whose title, however many lines it wraps to within the button's title area, sits centred on the
// button's whole height: a frame taller than its title keeps the title in its middle (the effect screen's
// Load button).
class UnchangeLayoutCell : public QPushButton {
    Q_OBJECT
public:
    explicit UnchangeLayoutCell(const QString& title = QString(), QWidget* parent = nullptr);

    // Where the title is drawn in `bounds`: the style's title area, centred on `bounds`' height once the
    // title, measured within that area (wrapped, the lines below it cut off; no title measures nothing),
    // is lower than the area.
    QRectF titleRectForBounds(const QRectF& bounds) const;
    // The rule itself: the standard title area, centred in `bounds` on a text `textHeight` high when the
    // text is lower than the area; otherwise the area as it is.
    static QRectF centredTitleRect(const QRectF& standardTitle, const QRectF& bounds, qreal textHeight);

protected:
    void paintEvent(QPaintEvent* event) override;
};
