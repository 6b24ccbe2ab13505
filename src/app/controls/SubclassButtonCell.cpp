#include "app/controls/SubclassButtonCell.h"

#include <QEvent>

SubclassButtonCell::SubclassButtonCell(const QString& title, QWidget* parent) : QPushButton(title, parent)
{
    showTitleColour();
}

QColor SubclassButtonCell::faceColor() { return QColor(46, 50, 56); }

QColor SubclassButtonCell::titleColor(bool enabled) { return enabled ? QColor(Qt::white) : QColor(170, 170, 170); }

void SubclassButtonCell::applyLook(QPushButton& button)
{
    QPalette look = button.palette();
    look.setColor(QPalette::Active, QPalette::ButtonText, titleColor(true));
    look.setColor(QPalette::Inactive, QPalette::ButtonText, titleColor(true));
    look.setColor(QPalette::Disabled, QPalette::ButtonText, titleColor(false));
    // A dark face, so that the white titles read.
    look.setColor(QPalette::Button, faceColor());
    button.setPalette(look);
}

void SubclassButtonCell::applyMenuBackground(QWidget& menu)
{
    QPalette dark = menu.palette();
    dark.setColor(QPalette::Window, faceColor().darker(130));
    menu.setPalette(dark);
    menu.setAutoFillBackground(true);
}

void SubclassButtonCell::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) showTitleColour();
}

void SubclassButtonCell::showTitleColour()
{
    QPalette look = palette();
    const QColor colour = titleColor(isEnabled());
    if (look.color(QPalette::ButtonText) == colour) return;
    // Both groups, so that the title shows this colour whichever group the style paints with.
    look.setColor(QPalette::Active, QPalette::ButtonText, colour);
    look.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
    look.setColor(QPalette::Disabled, QPalette::ButtonText, colour);
    setPalette(look);
}
