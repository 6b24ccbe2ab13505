#pragma once

#include <QDragMoveEvent>
#include <QMimeData>
#include <QPointer>

#include <memory>

// The last move of a drag over an item view. The view scrolls by itself while a drag is held at its edge,
// and the platform sends no move while the pointer stays still: replaying this move after each scroll
// keeps the place a drop would land on the row now under the pointer, as the marker shows it.
class HeldDragMove {
public:
    void remember(const QDragMoveEvent& event);
    void forget();
    // The same move again; none when no drag is over the view or its data has gone.
    std::unique_ptr<QDragMoveEvent> replay() const;

private:
    bool held_ = false;
    QPointF position_;
    Qt::DropActions actions_;
    QPointer<QMimeData> data_;
    Qt::MouseButtons buttons_;
    Qt::KeyboardModifiers modifiers_;
};
