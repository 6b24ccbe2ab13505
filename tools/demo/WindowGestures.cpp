#include "WindowGestures.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "WindowShot.h"

QWidget* WindowGestures::mainWindow() { return WindowShot::findWindow(QApplication::applicationName()); }

QTableView* WindowGestures::patchList(QWidget& window)
{
    return window.findChild<QTableView*>(QStringLiteral("CustomTableViewForPatch"));
}

QString WindowGestures::patchListText(int row, int column)
{
    QWidget* window = mainWindow();
    QTableView* table = window != nullptr ? patchList(*window) : nullptr;
    return table != nullptr ? table->model()->index(row, column).data().toString() : QString();
}

void WindowGestures::doubleClickPatchList(QWidget& window, int row, int column)
{
    QTableView* table = patchList(window);
    if (table == nullptr) return;
    const QRect cell = table->visualRect(table->model()->index(row, column));
    const QPointF at = cell.center();
    const QPointF global = table->viewport()->mapToGlobal(at);
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                            QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, global, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &event);
    }
}

void WindowGestures::type(const QString& text, int key, Qt::KeyboardModifiers modifiers)
{
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr) return;
    if (key != 0) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(focus, &press);
        return;
    }
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(focus, &press);
    }
}

void WindowGestures::clickButton(QWidget& window, const char* name)
{
    if (auto* button = window.findChild<QPushButton*>(QString::fromLatin1(name))) click(*button);
}

QString WindowGestures::busyLine(QWidget& window)
{
    auto* line = window.findChild<QLabel*>(QStringLiteral("deviceWorkLabel"));
    // The line whole: its label shows it broken to the room it has.
    return line != nullptr && line->isVisible() ? line->accessibleName() : QString();
}

QAction* WindowGestures::enabledAction(QWidget& window, const QString& text)
{
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == text && action->isEnabled()) return action;
    return nullptr;
}

void WindowGestures::click(QWidget& target, QPoint at, Qt::MouseButton button)
{
    QTest::mouseClick(&target, button, Qt::NoModifier, at.isNull() ? target.rect().center() : at);
}

bool WindowGestures::chooseMenuItem(QWidget& window, const QString& menu, const QString& item)
{
    auto* bar = window.findChild<QMenuBar*>();
    if (bar == nullptr) return false;
    for (QAction* title : bar->actions()) {
        QMenu* shown = title->menu();
        // Titles carry their keyboard mnemonic's marker.
        if (shown == nullptr || title->text().remove(QLatin1Char('&')) != menu) continue;
        click(*bar, bar->actionGeometry(title).center());
        if (!shown->isVisible()) return false;
        for (QAction* action : shown->actions()) {
            if (action->text().remove(QLatin1Char('&')) != item || !action->isEnabled()) continue;
            click(*shown, shown->actionGeometry(action).center());
            return true;
        }
        shown->hide();
        return false;
    }
    return false;
}
