#pragma once

#include <QColor>

#include <array>
#include <cstdint>
#include <optional>

// The colours of the device list's banks: consecutive banks take ten colours in turn, every second slot
// of a bank is darker, and every colour is lightened with 30 % white.
class BankColorTable {
public:
    static constexpr std::size_t kCount = 10;

    static const std::array<QColor, kCount>& colorItems();
    // The index in colorItems() of the bank holding `row`, with `slotsPerBank` slots per bank.
    static std::size_t colorIndexOfRow(std::uint64_t row, std::uint64_t slotsPerBank);
    // The row's colour; none without a device (no slots per bank).
    static std::optional<QColor> colorOfRow(std::uint64_t row, std::uint64_t slotsPerBank);
};
