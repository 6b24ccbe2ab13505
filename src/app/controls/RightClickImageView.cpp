#include "app/controls/RightClickImageView.h"

#include <QMouseEvent>

#include "app/controls/AutoClosePopover.h"
#include "app/controls/ControlClick.h"
#include "app/controls/UndoMenu.h"
#include "app/shell/AppDelegate.h"
#include "library/undo/UndoController.h"

RightClickImageView::RightClickImageView(QWidget* parent)
    : RightClickImageView(AppDelegate::getInstance(), UndoController::getInstance(), parent)
{
}

RightClickImageView::RightClickImageView(AppDelegate& appDelegate, UndoController& undoController, QWidget* parent)
    : QLabel(parent), appDelegate_(appDelegate), undoController_(undoController)
{
    setContextMenuPolicy(Qt::PreventContextMenu);
}

RightClickImageView::~RightClickImageView()
{
    // Looked up without the shared popover, which may have gone first when the window closes.
    if (menu_ && menu_->delegate() == this) menu_->setDelegate(nullptr);
}

AutoClosePopover* RightClickImageView::getMenuPopover() { return AutoClosePopover::getMenuPopover(); }

void RightClickImageView::mousePressEvent(QMouseEvent* event) { event->accept(); }

void RightClickImageView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (ControlClick::isRightClick(event->button(), event->modifiers())) rightMouseUp(event->globalPosition().toPoint());
}

void RightClickImageView::rightMouseUp(const QPoint& globalPosition)
{
    if (appDelegate_.isShowingDialog()) return;
    showRightClickDialog(globalPosition);
}

void RightClickImageView::showRightClickDialog(const QPoint& globalPosition)
{
    if (!opensUndoMenu(appDelegate_.isShowingDialog(), appDelegate_.getWindowState())) return;
    getMenuPopover()->close();
    drawOptionMenu(globalPosition);
}

void RightClickImageView::drawOptionMenu(const QPoint& globalPosition)
{
    AutoClosePopover* popover = getMenuPopover();
    if (popover->isShown()) popover->close();
    auto* menu = new UndoMenu(UndoMenu::isUndoEnabled(undoController_.canBeUndo(), appDelegate_.isUndoHeld()),
                              appDelegate_);
    menu->setDelegate(this);
    menu_ = menu;
    popover->setContentWidget(menu);
    popover->showAtPointer(globalPosition);
}

void RightClickImageView::undoMenuDidClickOnUndoButton()
{
    // The menu may have opened before a Restore All or the unit's letting go began.
    if (!appDelegate_.isUndoHeld()) undoController_.doUndoAction();
    getMenuPopover()->close();
}
