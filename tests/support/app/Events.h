#pragma once

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

namespace testing_app {

// A mouse event sent straight to `target` at `point`; the button is held on every event but a release.
inline void mouse(QWidget* target, QEvent::Type type, QPoint point, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(point), target->mapToGlobal(QPointF(point)), button, held, modifiers);
    QCoreApplication::sendEvent(target, &event);
}

// A press and its release.
inline void click(QWidget* target, QPoint point = {5, 5}, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    mouse(target, QEvent::MouseButtonPress, point, button, modifiers);
    mouse(target, QEvent::MouseButtonRelease, point, button, modifiers);
}

// A key press sent straight to `target`.
inline void key(QWidget* target, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, code, modifiers, text);
    QCoreApplication::sendEvent(target, &press);
}

}  // namespace testing_app
