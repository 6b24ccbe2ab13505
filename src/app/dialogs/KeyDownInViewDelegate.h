#pragma once

class QKeyEvent;
class ViewForKeyDown;

// Hears every key pressed in a ViewForKeyDown.
class KeyDownInViewDelegate {
public:
    virtual ~KeyDownInViewDelegate() = default;
    virtual void view(ViewForKeyDown* view, QKeyEvent* event) = 0;
};
