#include "app/controls/HeldDragMove.h"

void HeldDragMove::remember(const QDragMoveEvent& event)
{
    held_ = true;
    position_ = event.position();
    actions_ = event.possibleActions();
    // The event hands the data out as const; it is only handed back to the view's own handlers.
    data_ = const_cast<QMimeData*>(event.mimeData());
    buttons_ = event.buttons();
    modifiers_ = event.modifiers();
}

void HeldDragMove::forget()
{
    held_ = false;
    data_ = nullptr;
}

std::unique_ptr<QDragMoveEvent> HeldDragMove::replay() const
{
    if (!held_ || !data_) return nullptr;
    return std::make_unique<QDragMoveEvent>(position_.toPoint(), actions_, data_.data(), buttons_, modifiers_);
}
