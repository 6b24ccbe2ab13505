#pragma once

#include <QString>

#include <optional>

#include "library/text/TextRange.h"

class EditableText;
class EditingTextDelegate;
class QInputMethodEvent;
class QKeyEvent;

// The change of an editor's text a key press makes, so that it can be put to the text rules before it
// is made: typed characters replace the selection, Backspace and Delete remove the selection or the
// character before or after the cursor, Cut removes the selection, and in a multi-line editor Return
// puts a line break in. Keys that change nothing (moving, shortcuts) make none. Whatever an editor
// would insert for a key makes a change, whatever modifier produced it: characters above the basic
// plane (a surrogate pair, one character), format and private-use characters included.
struct TypedChange {
    TextRange range;
    QString replacement;

    static std::optional<TypedChange> forKey(const QKeyEvent& event, const QString& text, int selectionStart,
                                             int selectionLength, int cursor, bool multiline);
    // The change an input method's commit makes: the selection, or the range the method names around
    // the cursor, replaced by the committed text. None when it commits nothing.
    static std::optional<TypedChange> forInputMethod(const QInputMethodEvent& event, int selectionStart,
                                                     int selectionLength, int cursor);
    // Puts an input method's commit to the delegate's rule before the editor takes the event; a refused
    // commit is taken out, so the composition ends with nothing entered (the rule may have entered its
    // own version). True when a commit stays in the event.
    static bool checkInputMethod(QInputMethodEvent& event, int selectionStart, int selectionLength, int cursor,
                                 EditingTextDelegate* delegate, EditableText& editor);
};
