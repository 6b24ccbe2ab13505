#include "app/dialogs/SheetButton.h"

#include <QFocusEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

SheetButton::SheetButton(QWidget* parent) : QPushButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAutoDefault(false);
}

void SheetButton::setHasKeys(bool hasKeys)
{
    if (hasKeys_ == hasKeys) return;
    hasKeys_ = hasKeys;
    update();
}

void SheetButton::showKeys(const QWidget& sheet, std::initializer_list<SheetButton*> buttons, const QPushButton* marked)
{
    for (SheetButton* button : buttons) button->setHasKeys(sheet.hasFocus() && button == marked);
}

QPushButton* SheetButton::markedAfterFocusOut(const QFocusEvent& event, std::initializer_list<SheetButton*> buttons,
                                              QPushButton* marked)
{
    if (event.reason() == Qt::ActiveWindowFocusReason || event.reason() == Qt::PopupFocusReason || buttons.size() == 0)
        return marked;
    for (SheetButton* button : buttons) button->setDefault(button == *buttons.begin());
    return *buttons.begin();
}

void SheetButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.features &= ~(QStyleOptionButton::DefaultButton | QStyleOptionButton::AutoDefaultButton);
    option.state &= ~(QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange);
    if (hasKeys_) option.state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
    painter.drawControl(QStyle::CE_PushButton, option);
}
