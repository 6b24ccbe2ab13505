#include "app/dialogs/ViewForKeyDown.h"

#include <QKeyEvent>
#include <QPushButton>

#include "app/dialogs/KeyDownInViewDelegate.h"
#include "app/dialogs/SheetKeys.h"

ViewForKeyDown::ViewForKeyDown(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }

void ViewForKeyDown::keyPressEvent(QKeyEvent* event)
{
    // A key a field let through arrives here too: only what the sheet's buttons should hear goes on.
    if (delegate_ && SheetKeys::reachesButtons(event->key(), editedField() != nullptr)) delegate_->view(this, event);
    event->accept();
}

QWidget* ViewForKeyDown::editedField() const
{
    // The child last focused, kept while the window is inactive; this view itself once it took the focus.
    QWidget* focus = focusWidget();
    return focus && focus != this && isAncestorOf(focus) ? focus : nullptr;
}

bool ViewForKeyDown::focusNextPrevChild(bool next)
{
    // On the view itself Tab is a button key, handled with the others; Shift+Tab goes back to the last field.
    QWidget* field = editedField();
    if (field == nullptr && next) return false;
    QList<QWidget*> fields;
    for (QWidget* widget = nextInFocusChain(); widget && widget != this; widget = widget->nextInFocusChain()) {
        if (isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && widget->isEnabled() &&
            widget->isVisibleTo(this) && !fields.contains(widget))
            fields.push_back(widget);
    }
    if (fields.isEmpty()) return field != nullptr;
    if (field == nullptr) {
        fields.back()->setFocus(Qt::BacktabFocusReason);
        return true;
    }
    const qsizetype at = fields.indexOf(field);
    // Past the last field (or before the first) the keys go to the buttons, so a keyboard alone can
    // reach Cancel.
    if (at >= 0 && (next ? at == fields.size() - 1 : at == 0)) {
        setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    const qsizetype target = at < 0 ? 0 : (next ? at + 1 : at - 1);
    fields.at(target)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

QPushButton* ViewForKeyDown::keyDownToSwichButtonWithEvent(const QKeyEvent& event, const QList<QPushButton*>& buttons,
                                                            QPushButton* focusedButton)
{
    const qsizetype index = buttons.indexOf(focusedButton);
    if (index < 0 || buttons.isEmpty()) return focusedButton;
    const qsizetype count = buttons.size();
    switch (event.key()) {
    case Qt::Key_Right:
    case Qt::Key_Tab: {
        QPushButton* next = buttons.at((index + 1) % count);
        focusedButton->setDefault(false);
        next->setDefault(true);
        return next;
    }
    case Qt::Key_Left: {
        QPushButton* previous = buttons.at((index + count - 1) % count);
        for (QPushButton* button : buttons) button->setDefault(button == previous);
        return previous;
    }
    case Qt::Key_Return:
        focusedButton->click();
        return focusedButton;
    default:
        return focusedButton;
    }
}
