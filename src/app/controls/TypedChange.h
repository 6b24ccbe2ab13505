#pragma once

#include <QString>

#include <optional>

#include "library/text/TextRange.h"

class QKeyEvent;

// The change of an editor's text a key press makes, so that it can be put to the text rules before it
// is made: typed characters replace the selection, Backspace and Delete remove the selection or the
// character before or after the cursor, Cut removes the selection, and in a multi-line editor Return
// puts a line break in. Keys that change nothing (moving, shortcuts) make none.
struct TypedChange {
    TextRange range;
    QString replacement;

    static std::optional<TypedChange> forKey(const QKeyEvent& event, const QString& text, int selectionStart,
                                             int selectionLength, int cursor, bool multiline);
};
