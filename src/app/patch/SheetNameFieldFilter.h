#pragma once

#include <functional>
#include <string>
#include <vector>

#include "library/text/TextRange.h"

class QKeyEvent;
class QLineEdit;

// The name field of a property sheet puts every change of its text to its rule before it is made:
// typing, deleting and pasting. Ctrl+Return, the line-break command, inserts nothing.
class SheetNameFieldFilter {
public:
    // Whether the rule lets the change through (it may have made its own version of it instead).
    using Rule = std::function<bool(const std::vector<TextRange>& ranges, const std::vector<std::string>& replacements)>;

    // True when the key has been dealt with here and goes no further.
    static bool filterKey(QLineEdit& field, const QKeyEvent& key, const std::string& pasteboard, const Rule& rule);

    // Gives the field the keyboard with its whole text selected, once its sheet is up. The sheet is
    // asked before its window shows, and a showing window hands the focus to the sheet's own view.
    static void focusWhenShown(QLineEdit& field);
};
