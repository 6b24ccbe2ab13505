#include "app/dialogs/ConfirmationView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ConfirmationView::ConfirmationView(QWidget* parent)
    : ViewForKeyDown(parent),
      titleLabel_(new QLabel(this)),
      descriptionLabel_(new QLabel(this)),
      firstButton_(new QPushButton(this)),
      secondButton_(new QPushButton(this))
{
    QFont titleFont = titleLabel_->font();
    titleFont.setBold(true);
    titleLabel_->setFont(titleFont);
    titleLabel_->setWordWrap(true);
    titleLabel_->setTextFormat(Qt::PlainText);
    descriptionLabel_->setTextFormat(Qt::PlainText);
    descriptionLabel_->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* button : {firstButton_, secondButton_}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        button->setMinimumWidth(100);
        buttons->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->addWidget(titleLabel_);
    layout->addWidget(descriptionLabel_);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    connect(firstButton_, &QPushButton::clicked, this, &ConfirmationView::firstButtonClicked);
    connect(secondButton_, &QPushButton::clicked, this, &ConfirmationView::secondButtonClicked);
    setDelegate(this);
    setIsDefaultSecondButton(false);
}

void ConfirmationView::setTitleText(const QString& text) { titleLabel_->setText(text); }

void ConfirmationView::setDescriptionText(const QString& text) { descriptionLabel_->setText(text); }

void ConfirmationView::setFirstButtonTitleText(const QString& text) { firstButton_->setText(text); }

void ConfirmationView::setSecondButtonTitleText(const QString& text) { secondButton_->setText(text); }

void ConfirmationView::setIsDefaultSecondButton(bool isDefaultSecondButton)
{
    focusedButton_ = isDefaultSecondButton ? secondButton_ : firstButton_;
    firstButton_->setDefault(!isDefaultSecondButton);
    secondButton_->setDefault(isDefaultSecondButton);
}

void ConfirmationView::firstButtonClicked()
{
    if (actionForFirstButton_) actionForFirstButton_();
}

void ConfirmationView::secondButtonClicked()
{
    if (actionForSecondButton_) actionForSecondButton_();
}

void ConfirmationView::view(ViewForKeyDown* view, QKeyEvent* event)
{
    if (view != this) return;
    focusedButton_ = keyDownToSwichButtonWithEvent(*event, {firstButton_, secondButton_}, focusedButton_);
}

void ConfirmationView::showEvent(QShowEvent* event)
{
    ViewForKeyDown::showEvent(event);
    setFocus();
}
