#include "app/patch/KeptFieldSelection.h"

#include <QFocusEvent>
#include <QLineEdit>

#include <utility>

#include "app/controls/ChangingColorWhenEditingTextField.h"

void KeptFieldSelection::see(QLineEdit& field, const QEvent& event)
{
    if (event.type() == QEvent::FocusOut) {
        if (!ChangingColorWhenEditingTextField::isFocusLentAway(event)) {
            kept_.reset();
            return;
        }
        const int cursor = field.cursorPosition();
        int anchor = cursor;
        if (field.hasSelectedText()) {
            const int start = field.selectionStart();
            anchor = cursor == start ? field.selectionEnd() : start;
        }
        kept_ = Kept{field.text(), anchor, cursor};
        return;
    }
    // A press in the field puts the caret where the user chose: the keys coming back after it (a window
    // manager may activate the window only then) put back nothing older over it.
    if (event.type() == QEvent::MouseButtonPress) {
        kept_.reset();
        return;
    }
    if (event.type() != QEvent::FocusIn || !kept_) return;
    const Kept kept = *std::exchange(kept_, std::nullopt);
    if (static_cast<const QFocusEvent&>(event).reason() != Qt::ActiveWindowFocusReason || field.text() != kept.text)
        return;
    if (kept.anchor == kept.cursor) field.setCursorPosition(kept.cursor);
    else field.setSelection(kept.anchor, kept.cursor - kept.anchor);
}
