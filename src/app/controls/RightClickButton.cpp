#include "app/controls/RightClickButton.h"

#include <QMouseEvent>

RightClickButton::RightClickButton(QWidget* parent) : RightClickButton(QString(), parent) {}

RightClickButton::RightClickButton(const QString& title, QWidget* parent) : QPushButton(title, parent)
{
    // A press takes no keys: a name being typed stays open under the popover, and an Undo chosen there
    // undoes what came before it rather than the typing the press would have committed. Tab still
    // reaches the button.
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (isEnabled() && leftButtonAction_) leftButtonAction_();
    });
}

RightClickButton* RightClickButton::menuButton(const QString& title, bool enabled, const std::function<void()>& action,
                                              QWidget* parent)
{
    auto* button = new RightClickButton(title, parent);
    button->setEnabled(enabled);
    button->setAction(action);
    button->setRightAction(action);
    return button;
}

void RightClickButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        rightPressed_ = isEnabled();
        event->accept();
        return;
    }
    QPushButton::mousePressEvent(event);
}

void RightClickButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton) {
        QPushButton::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    const bool wasPressed = rightPressed_;
    rightPressed_ = false;
    if (wasPressed && isEnabled() && rect().contains(event->position().toPoint()) && rightButtonAction_) {
        rightButtonAction_();
    }
}
