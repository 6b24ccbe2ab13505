#include "app/effect/EffectRowColors.h"

#include <algorithm>

#include "library/models/EffectItem.h"

namespace {

double component(const EffectItem& item, const char* key)
{
    if (!item.effectColor) return 0.0;
    const auto found = item.effectColor->find(key);
    if (found == item.effectColor->end()) return 0.0;
    if (const auto real = found->second.asReal()) return std::clamp(*real, 0.0, 255.0);
    if (const auto whole = found->second.asInteger()) return std::clamp(static_cast<double>(*whole), 0.0, 255.0);
    return 0.0;
}

}  // namespace

QColor EffectRowColors::colorOfEffect(const EffectItem& item)
{
    return QColor::fromRgbF(static_cast<float>(component(item, "Red") / 255.0),
                            static_cast<float>(component(item, "Green") / 255.0),
                            static_cast<float>(component(item, "Blue") / 255.0), 1.0f);
}

EffectRowColors EffectRowColors::setCurrentColorWithCurrentEffectItem(const EffectItem& item, std::int64_t row)
{
    EffectRowColors colors;
    colors.currentEffectColor = colorOfEffect(item);
    const QColor hsv = colors.currentEffectColor.toHsv();
    const float reduction = row % 2 != 0 ? 0.3f : 0.1f;
    const float brightness = std::max(0.0f, hsv.valueF() - reduction);
    colors.currentEffectBackgroundColor = QColor::fromHsvF(hsv.hsvHueF(), hsv.hsvSaturationF(), brightness, 0.8f);
    return colors;
}
