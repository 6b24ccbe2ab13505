#include "app/controls/HeldDragMove.h"

#include <QWidget>

void HeldDragMove::remember(const QDragMoveEvent& event, const QWidget& over)
{
    held_ = true;
    pointer_ = over.mapToGlobal(event.position());
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

std::unique_ptr<QDragMoveEvent> HeldDragMove::replay(const QWidget& over) const
{
    if (!held_ || !data_) return nullptr;
    return std::make_unique<QDragMoveEvent>(over.mapFromGlobal(pointer_).toPoint(), actions_, data_.data(), buttons_,
                                            modifiers_);
}
