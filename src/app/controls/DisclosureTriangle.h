#pragma once

#include <QColor>
#include <QRect>

class QPainter;

// The small triangle left of a group in the pools, pointing down while the group is open. Its colour
// reads at 3:1 and more on the pools' dark background and on their selection bars.
class DisclosureTriangle {
public:
    static constexpr QColor kColour{190, 196, 206};

    // Drawn in the branch area `rect` (the outline's indentation wide at its right end).
    static void draw(QPainter& painter, const QRect& rect, int indentation, bool expanded);
};
