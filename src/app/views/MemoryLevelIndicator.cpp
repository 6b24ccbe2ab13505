#include "app/views/MemoryLevelIndicator.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

MemoryLevelIndicator::MemoryLevelIndicator(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(static_cast<int>(kBarHeight));
}

void MemoryLevelIndicator::setValue(double value)
{
    value_ = value;
    update();
}

void MemoryLevelIndicator::setMinValue(double minValue)
{
    minValue_ = minValue;
    update();
}

void MemoryLevelIndicator::setMaxValue(double maxValue)
{
    maxValue_ = maxValue;
    update();
}

QColor MemoryLevelIndicator::trackColor() { return QColor::fromRgbF(5 / 255.0f, 96 / 255.0f, 159 / 255.0f); }

QColor MemoryLevelIndicator::fillColor() { return QColor::fromRgbF(0, 186 / 255.0f, 241 / 255.0f); }

double MemoryLevelIndicator::fraction(double value, double minValue, double maxValue)
{
    if (!(maxValue > minValue)) return 0;
    const double share = (static_cast<float>(value) - minValue) / (maxValue - minValue);
    if (std::isnan(share)) return 0;
    return std::clamp(share, 0.0, 1.0);
}

QRectF MemoryLevelIndicator::barRect(const QRectF& frame)
{
    return {frame.x(), frame.y(), frame.width(), kBarHeight};
}

QRectF MemoryLevelIndicator::fillRect(const QRectF& frame, double fraction)
{
    QRectF fill = barRect(frame);
    fill.setWidth(fill.width() * fraction);
    return fill;
}

void MemoryLevelIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF frame = rect();
    painter.fillRect(barRect(frame), trackColor());
    painter.fillRect(fillRect(frame, fraction(value_, minValue_, maxValue_)), fillColor());
}
