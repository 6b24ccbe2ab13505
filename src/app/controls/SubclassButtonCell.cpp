#include "app/controls/SubclassButtonCell.h"

#include <QEvent>

SubclassButtonCell::SubclassButtonCell(const QString& title, QWidget* parent) : QPushButton(title, parent)
{
    showTitleColour();
}

QColor SubclassButtonCell::titleColor(bool enabled) { return enabled ? QColor(Qt::white) : QColor(170, 170, 170); }

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
