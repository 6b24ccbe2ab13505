#include "app/controls/RightClickButton.h"

#include <QMouseEvent>

RightClickButton::RightClickButton(QWidget* parent) : RightClickButton(QString(), parent) {}

RightClickButton::RightClickButton(const QString& title, QWidget* parent) : QPushButton(title, parent)
{
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (isEnabled() && leftButtonAction_) leftButtonAction_();
    });
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
