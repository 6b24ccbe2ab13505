#pragma once

#include <QPushButton>
#include <QRectF>

// A button whose title, however many lines it wraps to, sits centred on the button's height.
class UnchangeLayoutCell : public QPushButton {
    Q_OBJECT
public:
    explicit UnchangeLayoutCell(const QString& title = QString(), QWidget* parent = nullptr);

    // The standard title rectangle centred in `bounds` on a text of `textHeight` when it is taller
    // than that text.
    static QRectF titleRectForBounds(const QRectF& standardTitle, const QRectF& bounds, qreal textHeight);

protected:
    void paintEvent(QPaintEvent* event) override;
};
