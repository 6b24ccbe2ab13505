#pragma once

#include <QWidget>

class AppDelegate;
class RightClickButton;
class UndoMenuDelegate;

// The undo popover's content: one Undo button, whose left and right clicks both undo the newest edit.
// Whether it is enabled is decided once, when the menu is made.
class UndoMenu : public QWidget {
    Q_OBJECT
public:
    UndoMenu(bool undoEnabled, AppDelegate& appDelegate, QWidget* parent = nullptr);

    // Undo is offered while the stack holds an edit and no restore of the whole list runs.
    static bool isUndoEnabled(bool canBeUndo, bool restoringAll) { return canBeUndo && !restoringAll; }

    // Not owned; cleared by the delegate when it goes.
    void setDelegate(UndoMenuDelegate* delegate) { delegate_ = delegate; }
    UndoMenuDelegate* delegate() const { return delegate_; }
    RightClickButton* undoButton() const { return undoButton_; }

    // Refused while a dialog shows.
    void didClickOnUndoButton();

private:
    AppDelegate& appDelegate_;
    UndoMenuDelegate* delegate_ = nullptr;
    RightClickButton* undoButton_;
};
