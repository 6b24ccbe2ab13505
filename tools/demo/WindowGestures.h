#pragma once

#include <QPoint>
#include <QString>
#include <qnamespace.h>

class QAction;
class QTableView;
class QWidget;

// What the demo's tour and the program's end-to-end tests do to the main window, as a person's mouse
// and keyboard would: the patch list and its cells, keys typed into the focused editor, a button
// clicked by its name, a menu item found by its text.
class WindowGestures {
public:
    // The program's main window, when it shows.
    static QWidget* mainWindow();
    static QTableView* patchList(QWidget& window);
    // The text of a cell of the patch list; empty before the window shows.
    static QString patchListText(int row, int column);
    // A double click on a cell of the patch list, which opens its editor.
    static void doubleClickPatchList(QWidget& window, int row, int column);
    // Text typed a key at a time into whatever has the focus; or, with `key`, that one key.
    static void type(const QString& text, int key = 0, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // The button of that name clicked as the pointer clicks it.
    static void clickButton(QWidget& window, const char* name);
    // A click as the pointer makes it at `at` (the middle when none): the press moves the keys as the
    // widget's focus policy says, which a call on the widget never does.
    static void click(QWidget& target, QPoint at = {}, Qt::MouseButton button = Qt::LeftButton);
    // The item `item` of the window's menu `menu` chosen with the pointer: the menu's title clicked in
    // the bar, then the item in the menu that opens; whether the item was there, enabled, to click.
    static bool chooseMenuItem(QWidget& window, const QString& menu, const QString& item);
    // The enabled menu item of that text; none while it is disabled.
    static QAction* enabledAction(QWidget& window, const QString& text);
    // The busy line under the tabs, as shown: empty while it is hidden.
    static QString busyLine(QWidget& window);
};
