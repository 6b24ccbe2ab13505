#pragma once

// What the undo menu tells the view that opened it.
class UndoMenuDelegate {
public:
    virtual ~UndoMenuDelegate() = default;
    virtual void undoMenuDidClickOnUndoButton() = 0;
};
