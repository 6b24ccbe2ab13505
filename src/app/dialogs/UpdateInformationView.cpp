#include "app/dialogs/UpdateInformationView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/InterfaceTexts.h"

UpdateInformationView::UpdateInformationView(const QString& information, QWidget* parent)
    : QWidget(parent),
      informationTextField_(new QLabel(information, this)),
      okButton_(new QPushButton(InterfaceTexts::localizedString("Common_Ok"), this))
{
    informationTextField_->setWordWrap(true);
    informationTextField_->setTextFormat(Qt::PlainText);
    okButton_->setDefault(true);
    okButton_->setMinimumWidth(100);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->addWidget(informationTextField_);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    connect(okButton_, &QPushButton::clicked, this, &UpdateInformationView::didClickOkButton);
}

void UpdateInformationView::didClickOkButton()
{
    if (actionForOkButton_) actionForOkButton_();
}
