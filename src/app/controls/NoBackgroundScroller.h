#pragma once

#include <QScrollBar>

// A standard scroller that draws no knob slot: its knob and arrows lie over whatever is behind it (the
// effect list's sideways scroller, under the list's own rows).
class NoBackgroundScroller : public QScrollBar {
    Q_OBJECT
public:
    explicit NoBackgroundScroller(QWidget* parent = nullptr);
    explicit NoBackgroundScroller(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
