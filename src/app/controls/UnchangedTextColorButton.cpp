#include "app/controls/UnchangedTextColorButton.h"

UnchangedTextColorButton::UnchangedTextColorButton(const QString& title, QWidget* parent) : QPushButton(title, parent)
{
    QPalette look = palette();
    look.setColor(QPalette::Disabled, QPalette::ButtonText,
                  titleColor(false, look.color(QPalette::Active, QPalette::ButtonText)));
    setPalette(look);
}

QColor UnchangedTextColorButton::titleColor(bool enabled, const QColor& enabledColour)
{
    return enabled ? enabledColour : QColor(Qt::white);
}
