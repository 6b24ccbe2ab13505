#pragma once

#include <QLabel>
#include <QPointer>

#include "app/controls/UndoMenuDelegate.h"

class AppDelegate;
class AutoClosePopover;
class UndoController;
class UndoMenu;

// A picture of the patch screen (the arrows beside the Backup All button, the panes' backgrounds) that
// opens the undo popover on a right click or a Control-click (ControlClick). A plain left click does nothing
// and its press goes no further; the popover opens only on the patch screen and never under a dialog.
class RightClickImageView : public QLabel, public UndoMenuDelegate {
    Q_OBJECT
public:
    // The program's application state and undo stack, unless others are given.
    explicit RightClickImageView(QWidget* parent = nullptr);
    RightClickImageView(AppDelegate& appDelegate, UndoController& undoController, QWidget* parent = nullptr);
    ~RightClickImageView() override;

    // The popover every right-click view shares.
    static AutoClosePopover* getMenuPopover();
    // Whether a right click opens the popover: on the patch screen (window state 1), with no dialog.
    static bool opensUndoMenu(bool isShowingDialog, int windowState) { return !isShowingDialog && windowState == 1; }

    // A right button release at `globalPosition`.
    void rightMouseUp(const QPoint& globalPosition);
    void showRightClickDialog(const QPoint& globalPosition);
    void drawOptionMenu(const QPoint& globalPosition);

    void undoMenuDidClickOnUndoButton() override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    AppDelegate& appDelegate_;
    UndoController& undoController_;
    // The menu this view opened last, which may outlive it inside the shared popover.
    QPointer<UndoMenu> menu_;
};
