#include "app/controls/RightClickColorWell.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/controls/ControlClick.h"
#include "app/controls/RightClickImageView.h"
#include "app/shell/AppDelegate.h"
#include "library/undo/UndoController.h"

RightClickColorWell::RightClickColorWell(QWidget* parent)
    : RightClickColorWell(AppDelegate::getInstance(), UndoController::getInstance(), parent)
{
}

RightClickColorWell::RightClickColorWell(AppDelegate& appDelegate, UndoController& undoController, QWidget* parent)
    : QWidget(parent), appDelegate_(appDelegate), undoController_(undoController)
{
    setContextMenuPolicy(Qt::PreventContextMenu);
}

RightClickColorWell::~RightClickColorWell() = default;

void RightClickColorWell::setColor(const QColor& colour)
{
    color_ = colour;
    update();
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
    if (!ControlClick::isRightClick(event->button(), event->modifiers())) return;
    if (appDelegate_.isShowingDialog()) return;
    // A fresh picture per click: the popover's menu may outlive the last one, which then undoes nothing.
    rightClickImageView_ = std::make_unique<RightClickImageView>(appDelegate_, undoController_);
    rightClickImageView_->showRightClickDialog(event->globalPosition().toPoint());
}

void RightClickColorWell::keyPressEvent(QKeyEvent* event) { event->accept(); }
