#pragma once

#include <QColor>

#include <cstdint>

class EffectItem;

// The two colours of an effect list row: the effect's own colour (the category card) and the darker,
// translucent background of the name and category cells, darker on odd rows than on even ones.
struct EffectRowColors {
    QColor currentEffectColor;
    QColor currentEffectBackgroundColor;

    // A missing colour (the unknown effect) reads as black; a background never goes below black.
    static EffectRowColors setCurrentColorWithCurrentEffectItem(const EffectItem& item, std::int64_t row);
    // The effect's "Red", "Green", "Blue" over 255, opaque.
    static QColor colorOfEffect(const EffectItem& item);
};
