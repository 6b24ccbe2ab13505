#pragma once

#include <Qt>

// Which mouse releases count as right clicks: the right button's, and the left button's with the Control
// key held, the one-button mouse's way to the same menus. Qt names the Control key Meta where Ctrl is the
// desktop's own selection key (it does so on the other desktop, whose Command is Ctrl here): where Ctrl
// picks rows (the patch list and the pool, whose Ctrl-click adds a row), only Meta makes a right click of a
// left click; elsewhere Ctrl and Meta both do.
class ControlClick {
public:
    static bool isRightClick(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, bool ctrlSelects = false);
};
