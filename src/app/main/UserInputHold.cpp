#include "app/main/UserInputHold.h"

#include <QApplication>
#include <QEvent>

UserInputHold::UserInputHold()
{
    qApp->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

UserInputHold::~UserInputHold()
{
    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
}

bool UserInputHold::isHeld(const QEvent& event)
{
    switch (event.type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

bool UserInputHold::eventFilter(QObject* watched, QEvent* event)
{
    if (event != nullptr && isHeld(*event)) {
        // A drag entering is refused, so no drop follows it.
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
