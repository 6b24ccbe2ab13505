#pragma once

#include <QColor>
#include <QPushButton>

// A button of the option menus whose title is white while it is enabled and light grey while not.
class SubclassButtonCell : public QPushButton {
    Q_OBJECT
public:
    explicit SubclassButtonCell(const QString& title = QString(), QWidget* parent = nullptr);

    static QColor titleColor(bool enabled);

protected:
    void changeEvent(QEvent* event) override;

private:
    void showTitleColour();
};
