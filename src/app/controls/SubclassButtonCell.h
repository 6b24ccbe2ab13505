#pragma once

#include <QColor>
#include <QPushButton>

// A button of the option menus whose title is white while it is enabled and light grey while not.
class SubclassButtonCell : public QPushButton {
    Q_OBJECT
public:
    explicit SubclassButtonCell(const QString& title = QString(), QWidget* parent = nullptr);

    static QColor titleColor(bool enabled);
    // The face of a button given the look.
    static QColor faceColor();
    // Gives another button the same title colours, for each of its states, on a dark face.
    static void applyLook(QPushButton& button);
    // The darker ground of a menu of such buttons.
    static void applyMenuBackground(QWidget& menu);

protected:
    void changeEvent(QEvent* event) override;

private:
    void showTitleColour();
};
