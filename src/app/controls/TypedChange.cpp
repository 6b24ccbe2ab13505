#include "app/controls/TypedChange.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>

#include <algorithm>

#include "app/controls/EditingTextDelegate.h"
#include "app/controls/RuleText.h"

namespace {

TextRange rangeOf(int start, int length)
{
    return {static_cast<std::size_t>(start), static_cast<std::size_t>(length)};
}

}  // namespace

std::optional<TypedChange> TypedChange::forKey(const QKeyEvent& event, const QString& text, int selectionStart,
                                               int selectionLength, int cursor, bool multiline)
{
    const bool hasSelection = selectionLength > 0;
    const TextRange selection = hasSelection ? rangeOf(selectionStart, selectionLength) : rangeOf(cursor, 0);
    if (event.matches(QKeySequence::Cut)) {
        if (!hasSelection) return std::nullopt;
        return TypedChange{selection, QString()};
    }
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (event.key() == Qt::Key_Backspace && modifiers == Qt::NoModifier) {
        if (hasSelection) return TypedChange{selection, QString()};
        if (cursor <= 0) return std::nullopt;
        const bool pair = cursor >= 2 && text.at(cursor - 1).isLowSurrogate() && text.at(cursor - 2).isHighSurrogate();
        return TypedChange{rangeOf(cursor - (pair ? 2 : 1), pair ? 2 : 1), QString()};
    }
    if (event.key() == Qt::Key_Delete && modifiers == Qt::NoModifier) {
        if (hasSelection) return TypedChange{selection, QString()};
        if (cursor >= text.size()) return std::nullopt;
        const bool pair = cursor + 1 < text.size() && text.at(cursor).isHighSurrogate() && text.at(cursor + 1).isLowSurrogate();
        return TypedChange{rangeOf(cursor, pair ? 2 : 1), QString()};
    }
    if ((event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        if (!multiline) return std::nullopt;
        return TypedChange{selection, QStringLiteral("\n")};
    }
    const QString typed = event.text();
    if (typed.isEmpty()) return std::nullopt;
    // The editors insert whatever text a key carries, Alt or Meta held or not; only Control (with or
    // without Shift) makes a shortcut of it. A format character goes in even then.
    if (modifiers == Qt::ControlModifier && typed.at(0).category() != QChar::Other_Format) return std::nullopt;
    // Control characters are commands, never text; a tab is text only where line breaks are.
    for (const QChar c : typed) {
        if (c.category() == QChar::Other_Control && !(multiline && c == QLatin1Char('\t'))) return std::nullopt;
    }
    return TypedChange{selection, typed};
}

std::optional<TypedChange> TypedChange::forInputMethod(const QInputMethodEvent& event, int selectionStart,
                                                       int selectionLength, int cursor)
{
    if (event.commitString().isEmpty() && event.replacementLength() == 0) return std::nullopt;
    // A selection goes before the commit, whatever range the method names.
    if (selectionLength > 0) return TypedChange{rangeOf(selectionStart, selectionLength), event.commitString()};
    const int start = std::max(0, cursor + event.replacementStart());
    return TypedChange{rangeOf(start, event.replacementLength()), event.commitString()};
}

bool TypedChange::checkInputMethod(QInputMethodEvent& event, int selectionStart, int selectionLength, int cursor,
                                   EditingTextDelegate* delegate, EditableText& editor)
{
    const auto change = forInputMethod(event, selectionStart, selectionLength, cursor);
    if (!change) return false;
    if (!delegate || delegate->shouldChangeText(editor, {change->range}, {RuleText::of(change->replacement)}))
        return true;
    event.setCommitString(QString());
    return false;
}
