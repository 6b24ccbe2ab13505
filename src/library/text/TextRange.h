#pragma once

#include <cstddef>
#include <optional>
#include <string>

// A range of an editor's text as editors count it: in UTF-16 code units.
struct TextRange {
    std::size_t location = 0;
    std::size_t length = 0;

    // `text` (UTF-8) with the range replaced; nothing when the range lies outside the text or cuts a
    // character in two.
    static std::optional<std::string> replacing(const std::string& text, TextRange range, const std::string& replacement);
};
