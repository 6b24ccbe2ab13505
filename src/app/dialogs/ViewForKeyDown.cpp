#include "app/dialogs/ViewForKeyDown.h"

#include <QKeyEvent>
#include <QPushButton>

#include "app/dialogs/KeyDownInViewDelegate.h"

ViewForKeyDown::ViewForKeyDown(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }

void ViewForKeyDown::keyPressEvent(QKeyEvent* event)
{
    if (delegate_) delegate_->view(this, event);
    event->accept();
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
