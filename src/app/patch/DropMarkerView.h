#pragma once

#include <QColor>
#include <QRect>
#include <QWidget>

// The orange insertion marker both patch views draw over a row while a drop would land there: a frame
// (its edges partly outside the row) or, for a drop onto a group, a translucent bar with round ends.
// It never takes the mouse.
class DropMarkerView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBorderWidth = 2;
    static QColor markerColor() { return QColor::fromRgbF(245.0f / 255.0f, 147.0f / 255.0f, 30.9f / 255.0f, 1.0f); }

    enum class Shape { Frame, On };

    explicit DropMarkerView(QWidget* parent);

    // `frame` in the parent's coordinates.
    void place(const QRect& frame, Shape shape);
    Shape shape() const { return shape_; }

    // The frames of the device list's markers around a row: over it (its top edge above the row) or
    // under it (its bottom edge below the row).
    static QRect listTopFrame(const QRect& row) { return row.adjusted(-kBorderWidth, -2 * kBorderWidth, kBorderWidth, 0); }
    static QRect listBottomFrame(const QRect& row) { return row.adjusted(-kBorderWidth, 0, kBorderWidth, kBorderWidth); }
    // The pool's: above puts its top edge on the row's top edge, below its bottom edge on the row's
    // bottom edge; the other edges lie outside the row.
    static QRect poolAboveFrame(const QRect& row) { return row.adjusted(-kBorderWidth, 0, kBorderWidth, kBorderWidth); }
    static QRect poolBelowFrame(const QRect& row) { return row.adjusted(-kBorderWidth, -kBorderWidth, kBorderWidth, 0); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Shape shape_ = Shape::Frame;
};
