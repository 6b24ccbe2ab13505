#include "app/dialogs/SheetButton.h"

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
