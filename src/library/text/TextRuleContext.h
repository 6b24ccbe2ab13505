#pragma once

#include <functional>
#include <optional>
#include <string>

// What the text rules need of the program around them.
struct TextRuleContext {
    // The first preferred localisation: "ja" or "en".
    std::string language = "en";
    // The plain text on the general pasteboard, if any.
    std::function<std::optional<std::string>()> pasteboardString;
    // Queues an information sheet with the text.
    std::function<void(const std::string&)> showDialogWithInformation;
    // The interface text of a localisation key.
    std::function<std::string(const std::string&)> localizedString;
};
