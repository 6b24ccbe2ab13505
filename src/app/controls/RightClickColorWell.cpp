#include "app/controls/RightClickColorWell.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/shell/AppDelegate.h"

RightClickColorWell::RightClickColorWell(QWidget* parent) : QWidget(parent)
{
    setContextMenuPolicy(Qt::PreventContextMenu);
}

void RightClickColorWell::setColor(const QColor& colour)
{
    color_ = colour;
    update();
}

bool RightClickColorWell::isRightClick(Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    return button == Qt::RightButton || (button == Qt::LeftButton && modifiers.testFlag(Qt::ControlModifier));
}

void RightClickColorWell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(60, 64, 70));
    painter.fillRect(rect().adjusted(3, 3, -3, -3), color_);
}

void RightClickColorWell::mousePressEvent(QMouseEvent* event) { event->accept(); }

void RightClickColorWell::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!isRightClick(event->button(), event->modifiers())) return;
    if (AppDelegate::getInstance().isShowingDialog()) return;
    if (rightClick_) rightClick_(event->globalPosition().toPoint());
}

void RightClickColorWell::keyPressEvent(QKeyEvent* event) { event->accept(); }
