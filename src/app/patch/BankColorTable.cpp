#include "app/patch/BankColorTable.h"

#include <algorithm>

const std::array<QColor, BankColorTable::kCount>& BankColorTable::colorItems()
{
    static const std::array<QColor, kCount> items{
        QColor(12, 65, 154),  QColor(61, 37, 142),  QColor(107, 22, 135), QColor(174, 1, 88),  QColor(255, 64, 0),
        QColor(255, 140, 0), QColor(178, 219, 17), QColor(27, 152, 80),  QColor(1, 126, 116), QColor(0, 104, 129)};
    return items;
}

std::size_t BankColorTable::colorIndexOfRow(std::uint64_t row, std::uint64_t slotsPerBank)
{
    if (slotsPerBank == 0) return 0;
    const std::uint64_t inCycle = row % (slotsPerBank * kCount);
    return static_cast<std::size_t>(std::min<std::uint64_t>(inCycle / slotsPerBank, kCount - 1));
}

std::optional<QColor> BankColorTable::colorOfRow(std::uint64_t row, std::uint64_t slotsPerBank)
{
    if (slotsPerBank == 0) return std::nullopt;
    QColor color = colorItems()[colorIndexOfRow(row, slotsPerBank)];
    if ((row % (slotsPerBank * kCount)) % slotsPerBank % 2 == 1) {
        float hue = 0, saturation = 0, brightness = 0;
        color.getHsvF(&hue, &saturation, &brightness);
        color = QColor::fromHsvF(std::max(hue, 0.0f), saturation, std::max(brightness - 0.2f, 0.0f), 1.0f);
    }
    constexpr float kWhite = 0.3f;
    return QColor::fromRgbF(color.redF() * (1 - kWhite) + kWhite, color.greenF() * (1 - kWhite) + kWhite,
                            color.blueF() * (1 - kWhite) + kWhite, 1.0f);
}
