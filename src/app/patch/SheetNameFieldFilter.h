#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "library/text/TextRange.h"

class InputMethodComposition;
class QEvent;
class QKeyEvent;
class QLineEdit;

// The name field of a property sheet puts every change of its text to its rule before it is made:
// typing, deleting, pasting (Ctrl+V or the middle button), an input method's commit and a dropped
// text. Ctrl+Return, the line-break command, inserts nothing.
class SheetNameFieldFilter {
public:
    // Whether the rule lets the change through (it may have made its own version of it instead).
    using Rule = std::function<bool(const std::vector<TextRange>& ranges, const std::vector<std::string>& replacements)>;
    // The plain text on the clipboard, read only for a paste.
    using Pasteboard = std::function<std::optional<std::string>()>;

    // True when the event sent to `field` has been dealt with here and goes no further. An input
    // method's refused commit goes on without its text.
    // An input method's composition (`composition`, the field's own) is cut to the room `longest`
    // UTF-16 units leave, and one that ends with nothing taken leaves the name as it was.
    static bool filterEvent(QLineEdit& field, QEvent& event, const Pasteboard& pasteboard, const Rule& rule,
                            std::size_t longest, InputMethodComposition& composition);
    static bool filterKey(QLineEdit& field, const QKeyEvent& key, const Pasteboard& pasteboard, const Rule& rule);

    // Gives the field the keyboard with its whole text selected, once its sheet is up. The sheet is
    // asked before its window shows, and a showing window hands the focus to the sheet's own view.
    static void focusWhenShown(QLineEdit& field);
};
