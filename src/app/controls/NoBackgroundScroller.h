#pragma once

#include <QScrollBar>

// A standard scroller without its slot: only the knob and the arrows are drawn, over whatever lies
// behind it.
class NoBackgroundScroller : public QScrollBar {
    Q_OBJECT
public:
    explicit NoBackgroundScroller(QWidget* parent = nullptr);
    explicit NoBackgroundScroller(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
