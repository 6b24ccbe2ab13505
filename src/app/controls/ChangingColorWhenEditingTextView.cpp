#include "app/controls/ChangingColorWhenEditingTextView.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "app/controls/ChangingColorWhenEditingTextField.h"
#include "app/controls/EditingTextDelegate.h"
#include "app/controls/RuleText.h"
#include "app/controls/TextMeasure.h"
#include "app/controls/TypedChange.h"
#include "app/shell/AppDelegate.h"

namespace {

bool isControlKey(const QKeyEvent& event, int key)
{
    return event.key() == key && (event.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

}  // namespace

ChangingColorWhenEditingTextView::ChangingColorWhenEditingTextView(QWidget* parent)
    : QPlainTextEdit(parent), editableText_(*this)
{
    setFrameShape(QFrame::NoFrame);
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setReadOnly(true);
    showLook(false);
}

ChangingColorWhenEditingTextView::~ChangingColorWhenEditingTextView()
{
    canBeEdit_ = nullptr;
    // A view that goes while edited gives the window its shortcuts back and is edited no more.
    if (isEditing_) {
        AppDelegate& app = AppDelegate::getInstance();
        app.enableMenuShortkey();
        if (app.editingTextView() == this) app.setEditingTextView(false, nullptr);
    }
}

void ChangingColorWhenEditingTextView::setDelegate(EditingTextDelegate* delegate)
{
    delegate_ = delegate;
    editableText_.setDelegate(delegate);
}

qreal ChangingColorWhenEditingTextView::verticalInsetFor(qreal height, qreal textHeight)
{
    const qreal usable = std::min(height, kMaximumCentringHeight);
    const auto inset = static_cast<float>((usable - textHeight) / 2);
    return inset >= 0 ? inset : 0;
}

void ChangingColorWhenEditingTextView::showLook(bool editing)
{
    QPalette look = palette();
    look.setColor(QPalette::Text, editing ? Qt::black : Qt::white);
    look.setColor(QPalette::Base, editing ? QColor(Qt::white) : QColor(Qt::transparent));
    setPalette(look);
    // The viewport holds a palette of its own, which the view's does not reach; and the band above it
    // (the centring margin) is the view's own, so both are filled while edited.
    viewport()->setPalette(look);
    viewport()->setAutoFillBackground(editing);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(editing);
    viewport()->update();
    update();
}

void ChangingColorWhenEditingTextView::clearTextView()
{
    isEditing_ = false;
    isTypedWord_ = false;
    isPasted_ = false;
    alligned_ = false;
    QTextCursor cursor = textCursor();
    cursor.setPosition(0);
    setTextCursor(cursor);
    setReadOnly(true);
    showLook(false);
    verticalScrollBar()->setValue(0);
}

void ChangingColorWhenEditingTextView::revertTextViewString()
{
    if (originalText_) setPlainText(*originalText_);
}

void ChangingColorWhenEditingTextView::paintEvent(QPaintEvent* event)
{
    if (!alligned_) {
        alligned_ = true;
        const QRectF area = rect();
        const QSizeF text = TextMeasure::measure(toPlainText(), font(), area.size());
        inset_ = verticalInsetFor(area.height(), text.height());
        // The margins move the viewport, which is not done while it paints.
        QTimer::singleShot(0, this, [this] { setViewportMargins(0, static_cast<int>(inset_), 0, 0); });
    }
    if (!isEditing_ && (textCursor().position() != 0 || textCursor().hasSelection())) {
        QTextCursor cursor = textCursor();
        cursor.setPosition(0);
        setTextCursor(cursor);
    }
    QPlainTextEdit::paintEvent(event);
}

void ChangingColorWhenEditingTextView::focusInEvent(QFocusEvent* event)
{
    AppDelegate& app = AppDelegate::getInstance();
    app.clearColorEditingTextField();
    // Back from another window the edit goes on in its own look: the idle white is for the others.
    if (!isEditing_) app.clearColorEditingTextView();
    QPlainTextEdit::focusInEvent(event);
    if (isEditing_ || !mayBeEdited()) return;
    app.disableMenuShortkey();
    app.setEditingTextView(true, this);
    isEditing_ = true;
    setReadOnly(false);
    showLook(true);
    if (carried_) takeOnCarried();
}

void ChangingColorWhenEditingTextView::handOverEdit()
{
    handedOver_ = true;
    if (!isEditing_) return;
    isEditing_ = false;
    AppDelegate& app = AppDelegate::getInstance();
    app.enableMenuShortkey();
    if (app.editingTextView() == this) app.setEditingTextView(false, nullptr);
}

void ChangingColorWhenEditingTextView::continueEditOf(const ChangingColorWhenEditingTextView& closed)
{
    // A view whose edit never began since its own reload still holds what it was handed: that is where
    // the user was, not where setting its text left the cursor.
    Carried carried = closed.carried_ ? *closed.carried_
                                      : Carried{closed.textCursor().anchor(), closed.textCursor().position(),
                                                closed.isPasted_, closed.isTypedWord_};
    // The original stays the text this view was opened with, the patch's after the reload; typing goes on
    // as typed, and a view with nothing changed shows the reload's text.
    const QString typed = closed.toPlainText();
    if (!closed.originalText_ || typed != *closed.originalText_) {
        setPlainText(typed);
    } else {
        const int length = static_cast<int>(toPlainText().size());
        const bool whole = std::abs(carried.position - carried.anchor) == static_cast<int>(typed.size()) && !typed.isEmpty();
        carried.anchor = whole ? (carried.anchor == 0 ? 0 : length) : std::min(carried.anchor, length);
        carried.position = whole ? length - carried.anchor : std::min(carried.position, length);
    }
    carried_ = carried;
    // Already in its edit (the window has the keys): the edit goes on now; else when it begins.
    if (isEditing_) takeOnCarried();
}

void ChangingColorWhenEditingTextView::takeOnCarried()
{
    const Carried carried = *std::exchange(carried_, std::nullopt);
    isPasted_ = carried.isPasted;
    isTypedWord_ = carried.isTypedWord;
    QTextCursor cursor = textCursor();
    cursor.setPosition(carried.anchor);
    cursor.setPosition(carried.position, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void ChangingColorWhenEditingTextView::focusOutEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusOutEvent(event);
    if (ChangingColorWhenEditingTextField::isFocusLentAway(*event) || handedOver_) return;
    if (!isEditing_) return;
    if (isPasted_ && !isTypedWord_ && delegate_ && !delegate_->textShouldEndEditing(editableText_)) {
        // A pasted-only comment the rule refuses keeps the view edited.
        QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
        return;
    }
    AppDelegate& app = AppDelegate::getInstance();
    app.clearColorEditingTextField();
    app.clearColorEditingTextView();
    app.enableMenuShortkey();
    app.setEditingTextView(false, nullptr);
    clearTextView();
    emit editingEnded();
}

bool ChangingColorWhenEditingTextView::replaceSelection(const QString& replacement)
{
    QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int length = cursor.selectionEnd() - start;
    const TextRange range{static_cast<std::size_t>(start), static_cast<std::size_t>(length)};
    if (delegate_ && !delegate_->shouldChangeText(editableText_, {range}, {RuleText::of(replacement)})) return false;
    cursor.insertText(replacement);
    setTextCursor(cursor);
    return true;
}

void ChangingColorWhenEditingTextView::insertFromMimeData(const QMimeData* source)
{
    if (isReadOnly() || !source || !source->hasText() || source->text().isEmpty()) return;
    if (replaceSelection(source->text())) ensureCursorVisible();
    isPasted_ = true;
}

void ChangingColorWhenEditingTextView::inputMethodEvent(QInputMethodEvent* event)
{
    if (isReadOnly()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    const auto outcome = composition_.handle(
        *event, InputMethodComposition::stateOf(*this), delegate_, editableText_,
        [this] { return toPlainText(); }, [this](QInputMethodEvent& taken) { QPlainTextEdit::inputMethodEvent(&taken); });
    if (outcome.committed) isTypedWord_ = true;
    if (outcome.putBack) InputMethodComposition::putBack(*this, *outcome.putBack);
}

void ChangingColorWhenEditingTextView::handFocusToList()
{
    if (QWidget* responder = ChangingColorWhenEditingTextField::responderOf(this)) {
        responder->setFocus(Qt::OtherFocusReason);
    }
    if (hasFocus()) clearFocus();
}

void ChangingColorWhenEditingTextView::keyPressEvent(QKeyEvent* event)
{
    if (isReadOnly()) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (isControlKey(*event, Qt::Key_C)) {
        const QTextCursor cursor = textCursor();
        if (!toPlainText().isEmpty() && cursor.hasSelection()) {
            QApplication::clipboard()->setText(cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
        }
        return;
    }
    if (isControlKey(*event, Qt::Key_V) || event->matches(QKeySequence::Paste)) {
        const QString pasted = QApplication::clipboard()->text();
        if (pasted.isEmpty()) return;
        replaceSelection(pasted);
        isPasted_ = true;
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        revertTextViewString();
        handFocusToList();
        return;
    }
    const QTextCursor cursor = textCursor();
    const auto change = TypedChange::forKey(*event, toPlainText(), cursor.selectionStart(),
                                            cursor.selectionEnd() - cursor.selectionStart(), cursor.position(), true);
    // Only a key that types or edits is typing: a modifier's own press (the Control before a paste's V)
    // or a move of the cursor is not.
    if (change || event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) isTypedWord_ = true;
    if (change && delegate_ &&
        !delegate_->shouldChangeText(editableText_, {change->range}, {RuleText::of(change->replacement)})) {
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void ChangingColorWhenEditingTextView::mousePressEvent(QMouseEvent* event)
{
    if (mayBeEdited()) {
        QPlainTextEdit::mousePressEvent(event);
        return;
    }
    event->accept();
    if (AppDelegate::getInstance().editingTextView() == this) return;
    auto* responder = qobject_cast<QAbstractScrollArea*>(ChangingColorWhenEditingTextField::responderOf(this));
    if (!responder) return;
    responder->setFocus(Qt::MouseFocusReason);
    QWidget* target = responder->viewport();
    QMouseEvent passed(QEvent::MouseButtonPress, target->mapFromGlobal(event->globalPosition()), event->globalPosition(),
                       event->button(), event->buttons(), event->modifiers());
    QCoreApplication::sendEvent(target, &passed);
}

void ChangingColorWhenEditingTextView::wheelEvent(QWheelEvent* event)
{
    auto* list = qobject_cast<QAbstractScrollArea*>(ChangingColorWhenEditingTextField::responderOf(this));
    if (!list) {
        event->ignore();
        return;
    }
    event->accept();
    QWidget* target = list->viewport();
    QWheelEvent passed(target->mapFromGlobal(event->globalPosition()), event->globalPosition(), event->pixelDelta(),
                       event->angleDelta(), event->buttons(), event->modifiers(), event->phase(), event->inverted(),
                       event->source());
    QCoreApplication::sendEvent(target, &passed);
}
