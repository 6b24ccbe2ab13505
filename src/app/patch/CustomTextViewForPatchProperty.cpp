#include "app/patch/CustomTextViewForPatchProperty.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>

#include "app/controls/ChangingColorWhenEditingTextField.h"
#include "app/controls/EditingTextDelegate.h"
#include "app/controls/RuleText.h"
#include "app/controls/TypedChange.h"
#include "library/text/TextRange.h"

namespace {

bool isControlKey(const QKeyEvent& event, int key)
{
    return event.key() == key && (event.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

bool isControlReturn(const QKeyEvent& event)
{
    return isControlKey(event, Qt::Key_Return) || isControlKey(event, Qt::Key_Enter);
}

}  // namespace

CustomTextViewForPatchProperty::CustomTextViewForPatchProperty(QWidget* parent)
    : QPlainTextEdit(parent), editableText_(*this)
{
    setObjectName(QStringLiteral("patchCommentTextView"));
    setTabChangesFocus(true);
}

void CustomTextViewForPatchProperty::setDelegate(EditingTextDelegate* delegate)
{
    delegate_ = delegate;
    editableText_.setDelegate(delegate);
}

void CustomTextViewForPatchProperty::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    if (event->key() == Qt::Key_F2) {
        setFocus(Qt::ShortcutFocusReason);
        return;
    }
    if (isControlKey(*event, Qt::Key_C)) {
        const QTextCursor cursor = textCursor();
        if (!toPlainText().isEmpty() && cursor.hasSelection())
            QApplication::clipboard()->setText(cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
        return;
    }
    if (isControlKey(*event, Qt::Key_V)) {
        paste(QApplication::clipboard()->text());
        return;
    }
    if (isControlKey(*event, Qt::Key_A)) {
        selectAll();
        return;
    }
    // The line-break command inserts nothing here.
    if (isControlReturn(*event)) return;
    const QTextCursor cursor = textCursor();
    const auto change = TypedChange::forKey(*event, toPlainText(), cursor.selectionStart(),
                                            cursor.selectionEnd() - cursor.selectionStart(), cursor.position(), true);
    if (change && delegate_ &&
        !delegate_->shouldChangeText(editableText_, {change->range}, {RuleText::of(change->replacement)}))
        return;
    QPlainTextEdit::keyPressEvent(event);
}

void CustomTextViewForPatchProperty::insertFromMimeData(const QMimeData* source)
{
    if (!isReadOnly() && source && source->hasText()) paste(source->text());
}

void CustomTextViewForPatchProperty::inputMethodEvent(QInputMethodEvent* event)
{
    if (isReadOnly()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    const auto outcome = composition_.handle(
        *event, InputMethodComposition::stateOf(*this), delegate_, editableText_, [this] { return toPlainText(); },
        [this](QInputMethodEvent& taken) { QPlainTextEdit::inputMethodEvent(&taken); });
    if (outcome.putBack) InputMethodComposition::putBack(*this, *outcome.putBack);
}

void CustomTextViewForPatchProperty::paste(const QString& pasted)
{
    if (pasted.isEmpty()) return;
    QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int length = cursor.selectionEnd() - start;
    const TextRange range{static_cast<std::size_t>(start), static_cast<std::size_t>(length)};
    const bool accepted = !delegate_ || delegate_->shouldChangeText(editableText_, {range}, {RuleText::of(pasted)});
    if (accepted) {
        cursor.insertText(pasted);
        setTextCursor(cursor);
    }
    ensureCursorVisible();
    // The rule may have rewritten the text itself, so the delegate checks it either way.
    if (delegate_) delegate_->textDidChange(this);
}

void CustomTextViewForPatchProperty::collapseSelection()
{
    QTextCursor cursor = textCursor();
    if (!cursor.hasSelection() && cursor.position() == 0) return;
    cursor.setPosition(0);
    setTextCursor(cursor);
}

void CustomTextViewForPatchProperty::focusOutEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusOutEvent(event);
    // Another window or a popup only borrows the keys: back here, the typing goes on where it was.
    if (!ChangingColorWhenEditingTextField::isFocusLentAway(*event)) collapseSelection();
}

void CustomTextViewForPatchProperty::paintEvent(QPaintEvent* event)
{
    QPlainTextEdit::paintEvent(event);
    // An inactive window's focus is still this view when the keys come back to it.
    if (!hasFocus() && window()->focusWidget() != this && textCursor().hasSelection()) collapseSelection();
}
