#include "app/controls/InputMethodComposition.h"

#include <QLineEdit>
#include <QList>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <algorithm>

#include "app/controls/EditingTextDelegate.h"
#include "app/controls/TypedChange.h"

InputMethodComposition::Outcome InputMethodComposition::handle(QInputMethodEvent& event, const Editor& before,
                                                               EditingTextDelegate* delegate, EditableText& editor,
                                                               const std::function<QString()>& textNow,
                                                               const std::function<void(QInputMethodEvent&)>& take)
{
    const std::size_t longest = delegate ? delegate->longestText(editor) : EditingTextDelegate::kLongestText;
    const auto check = [&](QInputMethodEvent& checked) {
        return TypedChange::checkInputMethod(checked, before.selectionStart, before.selectionLength, before.cursor,
                                             delegate, editor);
    };
    return handle(event, before, longest, check, textNow, take);
}

InputMethodComposition::Outcome InputMethodComposition::handle(QInputMethodEvent& event, const Editor& before,
                                                               std::size_t longest,
                                                               const std::function<bool(QInputMethodEvent&)>& check,
                                                               const std::function<QString()>& textNow,
                                                               const std::function<void(QInputMethodEvent&)>& take)
{
    if (!composing_ && !event.preeditString().isEmpty()) began_ = before;
    Outcome outcome;
    outcome.committed = check(event);
    // The rule may have entered its own version of a refused commit.
    const bool ruleWrote = textNow() != before.text;
    Editor now = before;
    if (ruleWrote) now = Editor{textNow(), 0, 0, 0};
    std::unique_ptr<QInputMethodEvent> cut = bounded(event, roomFor(now, longest));
    QInputMethodEvent& taken = cut ? *cut : event;
    take(taken);
    composing_ = !taken.preeditString().isEmpty();
    // Once something was entered the selection it replaced is gone for good.
    if (outcome.committed || ruleWrote) began_.reset();
    if (composing_ || !began_) return outcome;
    if (textNow() != began_->text) outcome.putBack = began_;
    began_.reset();
    return outcome;
}

std::size_t InputMethodComposition::roomFor(const Editor& before, std::size_t longest)
{
    const auto kept = static_cast<std::size_t>(std::max(0, int(before.text.size()) - before.selectionLength));
    return longest > kept ? longest - kept : 0;
}

std::unique_ptr<QInputMethodEvent> InputMethodComposition::bounded(const QInputMethodEvent& event, std::size_t room)
{
    const QString& preedit = event.preeditString();
    if (static_cast<std::size_t>(preedit.size()) <= room) return nullptr;
    qsizetype length = static_cast<qsizetype>(room);
    // Never half a surrogate pair.
    if (length > 0 && preedit.at(length - 1).isHighSurrogate()) --length;
    QList<QInputMethodEvent::Attribute> attributes;
    for (const QInputMethodEvent::Attribute& attribute : event.attributes()) {
        QInputMethodEvent::Attribute kept = attribute;
        if (attribute.type == QInputMethodEvent::Cursor || attribute.type == QInputMethodEvent::TextFormat ||
            attribute.type == QInputMethodEvent::Ruby || attribute.type == QInputMethodEvent::Language) {
            const int start = std::clamp(attribute.start, 0, int(length));
            const int end = attribute.type == QInputMethodEvent::Cursor
                                ? start
                                : std::clamp(attribute.start + attribute.length, start, int(length));
            if (attribute.type != QInputMethodEvent::Cursor) {
                if (end == start) continue;
                kept.length = end - start;
            }
            kept.start = start;
        }
        attributes.append(kept);
    }
    auto copy = std::make_unique<QInputMethodEvent>(preedit.left(length), attributes);
    copy->setCommitString(event.commitString(), event.replacementStart(), event.replacementLength());
    return copy;
}

InputMethodComposition::Editor InputMethodComposition::stateOf(const QPlainTextEdit& editor)
{
    const QTextCursor cursor = editor.textCursor();
    return {editor.toPlainText(), cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart(),
            cursor.position()};
}

InputMethodComposition::Editor InputMethodComposition::stateOf(const QLineEdit& editor)
{
    const int length = editor.hasSelectedText() ? static_cast<int>(editor.selectedText().size()) : 0;
    return {editor.text(), editor.selectionStart(), length, editor.cursorPosition()};
}

void InputMethodComposition::putBack(QPlainTextEdit& editor, const Editor& state)
{
    // One edit of the document, so Undo steps over it as over any other.
    QTextCursor cursor(editor.document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(state.text);
    const bool forward = state.cursor >= state.selectionStart + state.selectionLength;
    cursor.setPosition(forward ? state.selectionStart : state.selectionStart + state.selectionLength);
    cursor.setPosition(state.cursor, state.selectionLength > 0 ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    editor.setTextCursor(cursor);
}

void InputMethodComposition::putBack(QLineEdit& editor, const Editor& state)
{
    editor.setText(state.text);
    if (state.selectionLength == 0) {
        editor.setCursorPosition(state.cursor);
        return;
    }
    const bool forward = state.cursor >= state.selectionStart + state.selectionLength;
    editor.setSelection(forward ? state.selectionStart : state.selectionStart + state.selectionLength,
                        forward ? state.selectionLength : -state.selectionLength);
}
