#pragma once

class QWidget;

// The demo tour's steps on selection, Backup All, Restore All and undo, each through the gestures or
// controls the user has: a Shift range clicked in the list, the Backup All button, the seeded backup
// selected in the pool and restored with the same button (its result sheet), the Undo popover opened by
// a right click under the panes, and its Undo putting the list back. Each act does nothing once its
// state is there, so the tour may repeat it.
class UndoTour {
public:
    static void selectShiftRange(QWidget& window);
    static bool shiftRangeSelected();
    static void backUpAll(QWidget& window);
    static bool backedUp();
    static void restoreSeededBackup(QWidget& window);
    static bool restoreResultShown();
    static void openUndoPopover(QWidget& window);
    static bool undoPopoverShown();
    static void undoFromPopover(QWidget& window);
    static bool listUndone();
};
