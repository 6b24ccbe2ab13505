#pragma once

// Which keys a sheet's buttons hear. A key pressed on the sheet itself moves the mark among its buttons
// (Right and Tab forward, Left back) and Return presses the marked one. A text field being edited keeps
// its keys, Tab among them, which takes the typing to the next field as the desktop does: a mark moved
// by a key the user meant for the field would turn the Return that follows into another answer. Return
// and Enter in a field still press the marked button, as a desktop dialog's default button does, and its
// Escape reaches the sheet, whose Cancel (where it has one) answers it.
class SheetKeys {
public:
    static bool reachesButtons(int key, bool fromEditedField);
};
