#pragma once

// The editors the patch list opens in its cells, as the user opens and leaves them.

#include <QApplication>
#include <QTableView>
#include <QWidget>

#include <chrono>

#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/RightClickImageView.h"

namespace list_editors {

using namespace std::chrono_literals;

// The `Editor` the list shows; none when it shows none.
template <typename Editor>
Editor* shown(QWidget& window)
{
    for (Editor* editor : WindowGestures::patchList(window)->findChildren<Editor*>())
        if (editor->isVisible()) return editor;
    return nullptr;
}

// Opens the row's cell in `column` (1 the name, 2 the comment) for editing; whether its editor took the
// keys. The user types once the field shows its text selected, which it does on its next turn.
template <typename Editor>
bool open(QWidget& window, int row, int column)
{
    WindowGestures::doubleClickPatchList(window, row, column);
    if (!ProgramRig::waitUntil([] { return qobject_cast<Editor*>(QApplication::focusWidget()) != nullptr; }, 5s))
        return false;
    QCoreApplication::processEvents();
    return true;
}

// Puts the Undo popover away and gives the window the keys back, as the user does after an undo from it.
inline void backToTheWindow(QWidget& window)
{
    if (auto* popover = RightClickImageView::getMenuPopover(); popover && popover->isVisible()) popover->hide();
    window.activateWindow();
}

}  // namespace list_editors
