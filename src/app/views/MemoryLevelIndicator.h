#pragma once

#include <QColor>
#include <QRectF>
#include <QWidget>

// How full the device's memory is: a 7-point bar, a dark blue track and a light blue fill whose length
// is the value's share of the range.
class MemoryLevelIndicator final : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kBarHeight = 7.0;

    explicit MemoryLevelIndicator(QWidget* parent = nullptr);

    double value() const { return value_; }
    void setValue(double value);
    double minValue() const { return minValue_; }
    void setMinValue(double minValue);
    double maxValue() const { return maxValue_; }
    void setMaxValue(double maxValue);

    static QColor trackColor();
    static QColor fillColor();
    // The value's share of the range, in 0..1: a value outside the range fills the bar fully or not
    // at all, and a range whose maximum is not above its minimum shows an empty bar.
    static double fraction(double value, double minValue, double maxValue);
    // The bar is the frame cut to the bar height; the fill is the bar cut to the fraction's width.
    static QRectF barRect(const QRectF& frame);
    static QRectF fillRect(const QRectF& frame, double fraction);

    QSize sizeHint() const override { return {160, static_cast<int>(kBarHeight)}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double value_ = 0;
    double minValue_ = 0;
    double maxValue_ = 100;
};
