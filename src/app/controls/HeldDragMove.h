#pragma once

#include <QDragMoveEvent>
#include <QMimeData>
#include <QPointer>

#include <memory>

class QWidget;

// The last move of a drag over an item view. The view scrolls by itself while a drag is held at its edge,
// and the platform sends no move while the pointer stays still: replaying this move after each scroll
// keeps the place a drop would land on the row now under the pointer, as the marker shows it. The move
// is kept where the pointer is on the screen, so a replay lands under it still when the view has moved
// beneath it since (a line of the window shown or gone above the view).
class HeldDragMove {
public:
    // `over` is the widget the move's position is in, the view's viewport.
    void remember(const QDragMoveEvent& event, const QWidget& over);
    void forget();
    // The same move again, at the pointer's place in `over` as it now lies; none when no drag is over the
    // view or its data has gone.
    std::unique_ptr<QDragMoveEvent> replay(const QWidget& over) const;

private:
    bool held_ = false;
    QPointF pointer_;
    Qt::DropActions actions_;
    QPointer<QMimeData> data_;
    Qt::MouseButtons buttons_;
    Qt::KeyboardModifiers modifiers_;
};
