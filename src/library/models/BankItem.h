#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One bank row of the device patch list; only the label is ever set.
class BankItem {
public:
    std::optional<std::string> bankName;
    std::uint64_t groupNum = 0;
    std::uint64_t bankNum = 0;
    std::uint64_t patchNum = 0;
};
