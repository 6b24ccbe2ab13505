#pragma once

#include <QColor>
#include <QPushButton>

// A button whose title stays white when it is disabled (the Backup All button); an enabled one keeps
// its own title colour.
class UnchangedTextColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit UnchangedTextColorButton(const QString& title = QString(), QWidget* parent = nullptr);

    static QColor titleColor(bool enabled, const QColor& enabledColour);
};
