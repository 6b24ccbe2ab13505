#include "app/controls/ChangingColorWhenEditingTextField.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "app/controls/EditingKeyMonitor.h"
#include "app/controls/EditingTextDelegate.h"
#include "app/controls/RuleText.h"
#include "app/controls/TypedChange.h"
#include "app/shell/AppDelegate.h"

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

ChangingColorWhenEditingTextField::ChangingColorWhenEditingTextField(QWidget* parent)
    : QLineEdit(parent), editableText_(*this)
{
    setFrame(false);
    setDragEnabled(false);
    setAcceptDrops(false);
    // A right click is the list's: the field shows no menu of its own.
    setContextMenuPolicy(Qt::PreventContextMenu);
    showLook(false);
}

ChangingColorWhenEditingTextField::~ChangingColorWhenEditingTextField()
{
    EditingKeyMonitor::removeFor(this);
    // A field that goes while edited gives the window its shortcuts back.
    if (isInEdit_) AppDelegate::getInstance().enableMenuShortkey();
}

void ChangingColorWhenEditingTextField::setDelegate(EditingTextDelegate* delegate)
{
    delegate_ = delegate;
    editableText_.setDelegate(delegate);
}

bool ChangingColorWhenEditingTextField::isOwnShortcut(const QKeyEvent& event)
{
    return isControlKey(event, Qt::Key_C) || isControlKey(event, Qt::Key_V) || isControlKey(event, Qt::Key_A) ||
           isControlReturn(event) || (event.key() == Qt::Key_Escape && event.modifiers() == Qt::NoModifier);
}

bool ChangingColorWhenEditingTextField::isFocusLentAway(const QEvent& event)
{
    if (event.type() != QEvent::FocusOut) return false;
    const Qt::FocusReason reason = static_cast<const QFocusEvent&>(event).reason();
    return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

QWidget* ChangingColorWhenEditingTextField::responderOf(QWidget* control)
{
    for (QWidget* up = control ? control->parentWidget() : nullptr; up; up = up->parentWidget()) {
        if (qobject_cast<QAbstractScrollArea*>(up)) return up;
    }
    return nullptr;
}

void ChangingColorWhenEditingTextField::showLook(bool editing)
{
    // Idle, the text lies on the list's own background; edited, it is black on white.
    QPalette shown = palette();
    shown.setColor(QPalette::Text, editing ? Qt::black : Qt::white);
    shown.setColor(QPalette::Base, editing ? QColor(Qt::white) : QColor(Qt::transparent));
    setPalette(shown);
}

void ChangingColorWhenEditingTextField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // Back from a dialog or another window the edit simply goes on.
    if (isReadOnly() || isInEdit_) return;
    isTypedWord_ = false;
    isPasted_ = false;
    isEditing_ = false;
    isInEdit_ = true;
    AppDelegate& app = AppDelegate::getInstance();
    if (app.getEdittingTextField() != this) app.clearColorEditingTextField();
    app.setEditingTextField(this);
    showLook(true);
    app.disableMenuShortkey();
    EditingKeyMonitor::installFor(this);
    const int start = ++editStarts_;
    if (carried_) {
        takeOnCarried();
        return;
    }
    QTimer::singleShot(0, this, [this, start] {
        if (isInEdit_ && start == editStarts_) selectAll();
    });
}

void ChangingColorWhenEditingTextField::handOverEdit()
{
    handedOver_ = true;
    if (!isInEdit_) return;
    isInEdit_ = false;
    EditingKeyMonitor::removeFor(this);
    AppDelegate::getInstance().enableMenuShortkey();
}

void ChangingColorWhenEditingTextField::continueEditOf(const ChangingColorWhenEditingTextField& closed)
{
    // A field whose edit never began since its own reload (the keys were away all along) still holds
    // what it was handed: that, not the state its text's setting left it in, is where the user was.
    Carried carried = closed.carried_ ? *closed.carried_ : closed.liveState();
    // The original stays the text this field was opened with, the patch's after the reload, so that
    // Escape brings back what the patch holds now. Typing goes on as typed; a field with nothing
    // changed shows the reload's text, where the edit stood in it.
    const bool changed = !closed.originalText_ || closed.text() != *closed.originalText_;
    if (changed) setText(closed.text());
    else carried = carried.fittedTo(static_cast<int>(closed.text().size()), static_cast<int>(text().size()));
    carried_ = carried;
    // Already in its edit (the window has the keys): the edit goes on now; else when it begins.
    if (isInEdit_) {
        ++editStarts_;
        takeOnCarried();
    }
}

ChangingColorWhenEditingTextField::Carried ChangingColorWhenEditingTextField::liveState() const
{
    const int length = hasSelectedText() ? static_cast<int>(selectedText().size()) : 0;
    return Carried{selectionStart(), length, cursorPosition(), isEditing_, isPasted_, isTypedWord_};
}

ChangingColorWhenEditingTextField::Carried ChangingColorWhenEditingTextField::Carried::fittedTo(int before, int now) const
{
    Carried fitted = *this;
    // A whole selection stays whole; else the places are kept as far as the text reaches.
    if (selectionLength > 0 && selectionLength == before) {
        fitted.selectionStart = 0;
        fitted.selectionLength = now;
        fitted.cursor = cursor == selectionStart ? 0 : now;
        return fitted;
    }
    fitted.selectionStart = std::min(std::max(selectionStart, 0), now);
    fitted.selectionLength = std::min(selectionLength, now - fitted.selectionStart);
    fitted.cursor = std::min(cursor, now);
    return fitted;
}

void ChangingColorWhenEditingTextField::takeOnCarried()
{
    const Carried carried = *std::exchange(carried_, std::nullopt);
    isEditing_ = carried.isEditing;
    isPasted_ = carried.isPasted;
    isTypedWord_ = carried.isTypedWord;
    if (carried.selectionLength > 0) {
        // The cursor stays at whichever end of the selection it was.
        const bool atStart = carried.cursor == carried.selectionStart;
        setSelection(atStart ? carried.selectionStart + carried.selectionLength : carried.selectionStart,
                     atStart ? -carried.selectionLength : carried.selectionLength);
    } else {
        deselect();
        setCursorPosition(carried.cursor);
    }
}

void ChangingColorWhenEditingTextField::focusOutEvent(QFocusEvent* event)
{
    // The field keeps its edit while another window or a popup has the keys for a moment.
    if (isFocusLentAway(*event) || handedOver_) {
        QLineEdit::focusOutEvent(event);
        return;
    }
    if (isInEdit_) textDidEndEditing();
    QLineEdit::focusOutEvent(event);
    if (!isInEdit_) {
        AppDelegate::getInstance().clearColorEditingTextField();
        AppDelegate::getInstance().clearColorEditingTextView();
    }
}

void ChangingColorWhenEditingTextField::textDidEndEditing()
{
    isEditing_ = false;
    isInEdit_ = false;
    if (isPasted_ && !isTypedWord_ && delegate_) delegate_->textShouldEndEditing(editableText_);
    EditingKeyMonitor::removeFor(this);
    AppDelegate::getInstance().enableMenuShortkey();
    showLook(false);
    deselect();
    setReadOnly(true);
    emit editingEnded();
}

void ChangingColorWhenEditingTextField::endEditing()
{
    if (QWidget* responder = responderOf(this)) {
        responder->setFocus(Qt::OtherFocusReason);
    }
    // Without a list to take it, or when it would not, the field just lets go.
    if (hasFocus()) clearFocus();
}

bool ChangingColorWhenEditingTextField::replaceSelection(const QString& replacement)
{
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    const int length = hasSelectedText() ? static_cast<int>(selectedText().size()) : 0;
    const TextRange range{static_cast<std::size_t>(start), static_cast<std::size_t>(length)};
    if (delegate_ && !delegate_->shouldChangeText(editableText_, {range}, {RuleText::of(replacement)})) return false;
    QString changed = text();
    changed.replace(start, length, replacement);
    setText(changed);
    setCursorPosition(start + static_cast<int>(replacement.size()));
    return true;
}

void ChangingColorWhenEditingTextField::paste(QClipboard::Mode mode)
{
    const QString pasted = QApplication::clipboard()->text(mode);
    if (pasted.isEmpty()) return;
    replaceSelection(pasted);
    isPasted_ = true;
    if (delegate_) delegate_->textDidChange(this);
}

bool ChangingColorWhenEditingTextField::keyDownEvent(QKeyEvent* event)
{
    if (!isEditing_) {
        isEditing_ = true;
        if (!delegate_ || !delegate_->textShouldBeginEditing(this)) return false;
    }
    if (isControlKey(*event, Qt::Key_C)) {
        if (!text().isEmpty() && hasSelectedText()) QApplication::clipboard()->setText(selectedText());
        return true;
    }
    if (isControlKey(*event, Qt::Key_V)) {
        paste(QClipboard::Clipboard);
        return true;
    }
    if (isControlKey(*event, Qt::Key_A)) {
        selectAll();
        return true;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (originalText_) setText(*originalText_);
        endEditing();
        return true;
    }
    if (isControlReturn(*event)) {
        if (delegate_ && delegate_->textShouldEndEditing(editableText_)) endEditing();
        return true;
    }
    return false;
}

void ChangingColorWhenEditingTextField::keyPressEvent(QKeyEvent* event)
{
    if (isReadOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // Escape without the monitor still cancels the edit.
        if (originalText_) setText(*originalText_);
        endEditing();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        paste(QClipboard::Clipboard);
        event->accept();
        return;
    }
    const int selectionLength = hasSelectedText() ? static_cast<int>(selectedText().size()) : 0;
    const auto change = TypedChange::forKey(*event, text(), selectionStart(), selectionLength, cursorPosition(), false);
    // Only a key that types or edits is typing: a modifier's own press (the Control before a paste's V)
    // or a move of the cursor is not.
    if (change || event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) isTypedWord_ = true;
    if (change && delegate_ &&
        !delegate_->shouldChangeText(editableText_, {change->range}, {RuleText::of(change->replacement)})) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void ChangingColorWhenEditingTextField::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QLineEdit::mousePressEvent(event);
}

void ChangingColorWhenEditingTextField::inputMethodEvent(QInputMethodEvent* event)
{
    if (isReadOnly()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    const auto outcome = composition_.handle(
        *event, InputMethodComposition::stateOf(*this), delegate_, editableText_, [this] { return text(); },
        [this](QInputMethodEvent& taken) { QLineEdit::inputMethodEvent(&taken); });
    if (outcome.committed) isTypedWord_ = true;
    if (outcome.putBack) InputMethodComposition::putBack(*this, *outcome.putBack);
}

void ChangingColorWhenEditingTextField::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton && !isReadOnly() && QApplication::clipboard()->supportsSelection()) {
        event->accept();
        deselect();
        paste(QClipboard::Selection);
        return;
    }
    if (event->button() != Qt::RightButton) {
        QLineEdit::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    if (isInEdit_) return;
    auto* responder = qobject_cast<QAbstractScrollArea*>(responderOf(this));
    if (!responder) return;
    responder->setFocus(Qt::MouseFocusReason);
    QWidget* target = responder->viewport();
    const QPointF at = target->mapFromGlobal(event->globalPosition());
    QMouseEvent passed(QEvent::MouseButtonRelease, at, event->globalPosition(), Qt::RightButton, event->buttons(),
                       event->modifiers());
    QCoreApplication::sendEvent(target, &passed);
}
