#pragma once

#include <QImage>
#include <QMetaType>

#include "app/controls/AttributedTitle.h"

// What the pool row cell draws for one row, as the patch pool's and the effect pool's models hand it
// over (CustomCellForAttributedString::kRowContentRole). A default one is a cleared cell.
struct PoolRowContent {
    AttributedTitle title;
    // A top-level patch: an item without a parent group. Its title starts at x = 22.
    bool isSingleItem = false;
    // Picks the effect pool's selection pictures instead of the patch pool's.
    bool isEffectPoolCell = false;
    // Drawn left of the title (both pools give a patch or an effect a 10 by 5 colour swatch); none when
    // null.
    QImage iconImage;
    // Drawn right after the title when it fits in the row; none when null.
    QImage statusImage;
};

Q_DECLARE_METATYPE(PoolRowContent)
