#include "app/patch/PatchListOptionMenu.h"

#include <QVBoxLayout>

#include "app/patch/OptionMenuForPatchViewControllerDelegate.h"
#include "app/views/InterfaceTexts.h"

PatchListOptionMenu::PatchListOptionMenu(std::uint64_t targetIndex, OptionMenuForPatchViewControllerDelegate& delegate,
                                         std::shared_ptr<PatchItem> patchItem, QWidget* parent)
    : QWidget(parent),
      targetIndex_(targetIndex),
      patchItem_(std::move(patchItem)),
      saving_(new QPushButton(InterfaceTexts::localizedString("Patch_SavingToPatchPool"), this)),
      reading_(new QPushButton(InterfaceTexts::localizedString("Patch_ReadingFromPatchPool"), this)),
      undo_(new QPushButton(InterfaceTexts::localizedString("Patch_Undo"), this)),
      property_(new QPushButton(InterfaceTexts::localizedString("Patch_Property"), this))
{
    setObjectName(QStringLiteral("PatchListOptionMenu"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    for (QPushButton* button : {saving_, reading_, undo_, property_}) layout->addWidget(button);
    saving_->setEnabled(delegate.optionMenuCanSaveToPatchPool());
    reading_->setEnabled(delegate.optionMenuCanReadFromPatchPool());
    // The delegate is the list, which owns the menu's popover and so outlives it.
    auto* target = &delegate;
    const std::uint64_t row = targetIndex_;
    connect(saving_, &QPushButton::clicked, this, [target, row] { target->optionMenuDidClickOnSavingInPatchPoolButtonAtIndex(row); });
    connect(reading_, &QPushButton::clicked, this, [target, row] { target->optionMenuDidClickOnReadingFromPatchPoolButtonAtIndex(row); });
    connect(undo_, &QPushButton::clicked, this, [target, row] { target->optionMenuDidClickOnUndoButtonAtIndex(row); });
    connect(property_, &QPushButton::clicked, this, [target, row] { target->optionMenuDidClickOnPropertyButtonAtIndex(row); });
    setFixedWidth(200);
    adjustSize();
}
