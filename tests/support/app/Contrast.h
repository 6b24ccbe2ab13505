#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace testing_app {

// The contrast ratio of two opaque colours by their relative luminance (sRGB), 1 to 21.
inline double contrastRatio(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double channel) {
            return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
    };
    const double first = luminance(a) + 0.05;
    const double second = luminance(b) + 0.05;
    return std::max(first, second) / std::min(first, second);
}

// How a selected text reads as a field drew it (`shot`, a grab of the field with its text selected):
// the highlight is the commonest colour of the field's inside other than `base` (the field's own
// colour, away from the text), the text the pixel inside the highlight's box that stands out most from
// it. 1 when no highlight shows.
inline double selectedTextContrast(const QImage& shot, const QColor& base)
{
    const QRect inside = shot.rect().adjusted(2, 2, -2, -2);
    QHash<QRgb, int> counts;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (const QRgb pixel = shot.pixel(x, y); pixel != base.rgb()) ++counts[pixel];
    if (counts.isEmpty()) return 1;
    QRgb highlight = counts.constBegin().key();
    for (auto each = counts.constBegin(); each != counts.constEnd(); ++each)
        if (each.value() > counts.value(highlight)) highlight = each.key();
    QRect box;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (shot.pixel(x, y) == highlight) box |= QRect(x, y, 1, 1);
    double best = 1;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            best = std::max(best, contrastRatio(QColor(shot.pixel(x, y)), QColor(highlight)));
    return best;
}

}  // namespace testing_app
