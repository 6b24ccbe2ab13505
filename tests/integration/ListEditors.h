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

// Whether an `Editor` took the keys. The user types once the field shows its text selected, which it does
// on its next turn.
template <typename Editor>
bool tookTheKeys()
{
    if (!ProgramRig::waitUntil([] { return qobject_cast<Editor*>(QApplication::focusWidget()) != nullptr; }, 5s))
        return false;
    QCoreApplication::processEvents();
    return true;
}

// Opens the row's cell in `column` (1 the name, 2 the comment) for editing; whether its editor took the keys.
template <typename Editor>
bool open(QWidget& window, int row, int column)
{
    WindowGestures::doubleClickPatchList(window, row, column);
    return tookTheKeys<Editor>();
}

// Once an undo from the popover reloaded the list under an open editor: puts the popover away and gives the
// window the keys back, as the user does; the editor the reloaded list opened again, with the keys, or none.
template <typename Editor>
Editor* backAfterTheUndo(QWidget& window)
{
    if (!ProgramRig::waitUntil([&] { return shown<Editor>(window) != nullptr; }, 5s)) return nullptr;
    Editor* editor = shown<Editor>(window);
    if (auto* popover = RightClickImageView::getMenuPopover(); popover && popover->isVisible()) popover->hide();
    window.activateWindow();
    return ProgramRig::waitUntil([&] { return QApplication::focusWidget() == editor; }, 5s) ? editor : nullptr;
}

}  // namespace list_editors
