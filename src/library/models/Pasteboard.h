#pragma once

#include <string>
#include <vector>

// The one pasteboard type the dragged items travel under: plain text, holding their keyed archive.
inline constexpr const char* kPlainTextPasteboardType = "text/plain";

inline const std::vector<std::string>& plainTextPasteboardTypes()
{
    static const std::vector<std::string> types{kPlainTextPasteboardType};
    return types;
}
