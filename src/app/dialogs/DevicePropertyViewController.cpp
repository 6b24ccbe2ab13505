#include "app/dialogs/DevicePropertyViewController.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/views/InterfaceTexts.h"

DevicePropertyViewController::DevicePropertyViewController(const QString& modelName, const QString& version,
                                                           QWidget* parent)
    : QWidget(parent),
      deviceModelLabel_(new QLabel(InterfaceTexts::localizedString("PatchPool_DeviceModel"), this)),
      modelNameTextField_(new QLabel(modelName, this)),
      versionTextField_(new QLabel(version, this)),
      okButton_(new QPushButton(InterfaceTexts::localizedString("Common_Ok"), this))
{
    for (QLabel* field : {modelNameTextField_, versionTextField_}) {
        field->setTextFormat(Qt::PlainText);
        field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    okButton_->setDefault(true);
    okButton_->setMinimumWidth(100);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->addWidget(deviceModelLabel_, 0, 0);
    layout->addWidget(modelNameTextField_, 0, 1);
    layout->addWidget(versionTextField_, 1, 1);
    layout->addWidget(okButton_, 2, 1, Qt::AlignRight);
    setMinimumWidth(360);
    connect(okButton_, &QPushButton::clicked, this, &DevicePropertyViewController::didClickOkButton);
}

void DevicePropertyViewController::didClickOkButton()
{
    if (actionForOkButton_) actionForOkButton_();
}
