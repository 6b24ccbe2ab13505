#pragma once

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <chrono>

#include "support/app/TestApplication.h"

namespace testing_app {

// A mouse event sent straight to `target` at `point`; the button is held on every event but a release, and a
// move names no button of its own, as the platform sends them.
inline void mouse(QWidget* target, QEvent::Type type, QPoint point, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(point), target->mapToGlobal(QPointF(point)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, modifiers);
    QCoreApplication::sendEvent(target, &event);
}

// A press and its release.
inline void click(QWidget* target, QPoint point = {5, 5}, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    mouse(target, QEvent::MouseButtonPress, point, button, modifiers);
    mouse(target, QEvent::MouseButtonRelease, point, button, modifiers);
}

// A key event (a press unless told) sent straight to `target`.
inline void key(QWidget* target, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {},
                QEvent::Type type = QEvent::KeyPress)
{
    QKeyEvent event(type, code, modifiers, text);
    QCoreApplication::sendEvent(target, &event);
}

// Pressed and let go.
inline void tap(QWidget* target, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {})
{
    key(target, code, modifiers, text);
    key(target, code, modifiers, text, QEvent::KeyRelease);
}

// Text an input method hands over whole, as a composed word arrives.
inline void commitText(QWidget* target, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(target, &event);
}

// Each character as a key press of its own, to `target`, or to whatever has the keys as it comes.
inline void typeText(const QString& text, QWidget* target = nullptr)
{
    for (const QChar typed : text) key(target ? target : QApplication::focusWidget(), 0, Qt::NoModifier, QString(typed));
}

// Shown and made the active window; whether it became one.
inline bool activate(QWidget& window)
{
    window.show();
    window.activateWindow();
    return processEventsUntil([&] { return window.isActiveWindow(); });
}

// A few turns of the event loop, for what lands on a later turn.
inline void spin() { processEventsUntil([] { return false; }, std::chrono::milliseconds(20)); }

}  // namespace testing_app
