#include "app/patch/OptionMenuForPatchViewController.h"

#include <QVBoxLayout>

#include "app/controls/RightClickButton.h"
#include "app/controls/SubclassButtonCell.h"
#include "app/patch/OptionMenuForPatchViewControllerDelegate.h"
#include "app/shell/AppDelegate.h"
#include "app/views/InterfaceTexts.h"

OptionMenuForPatchViewController::Enabling OptionMenuForPatchViewController::enabling(const State& state)
{
    Enabling result;
    result.saving = state.canSave;
    result.reading = state.canRead;
    result.undo = state.canBeUndo && !state.isRestoringAll;
    result.property = true;
    return result;
}

OptionMenuForPatchViewController::OptionMenuForPatchViewController(std::uint64_t targetIndex,
                                                                   std::shared_ptr<PatchItem> patchItem,
                                                                   OptionMenuForPatchViewControllerDelegate* delegate,
                                                                   AppDelegate& appDelegate, bool canBeUndo,
                                                                   QWidget* parent)
    : QWidget(parent),
      delegate_(delegate),
      targetIndex_(targetIndex),
      patchItem_(std::move(patchItem)),
      appDelegate_(appDelegate)
{
    setObjectName(QStringLiteral("OptionMenuForPatchViewController"));
    SubclassButtonCell::applyMenuBackground(*this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(2);
    State state;
    state.canSave = delegate_ && delegate_->optionMenuCanSaveToPatchPool();
    state.canRead = delegate_ && delegate_->optionMenuCanReadFromPatchPool();
    state.canBeUndo = canBeUndo && !appDelegate_.isLettingDeviceGo();
    state.isRestoringAll = appDelegate_.isRestoringAll();
    const Enabling enabled = enabling(state);
    savingInPatchPoolButton_ = addButton("Patch_SavingToPatchPool", enabled.saving,
                                         &OptionMenuForPatchViewController::savingInPatchPoolButtonClicked);
    readingInPatchPoolButton_ = addButton("Patch_ReadingFromPatchPool", enabled.reading,
                                          &OptionMenuForPatchViewController::readingFromPatchPoolButtonClicked);
    undoButton_ = addButton("Patch_Undo", enabled.undo, &OptionMenuForPatchViewController::undoButtonClicked);
    propertyButton_ = addButton("Patch_Property", enabled.property, &OptionMenuForPatchViewController::propertyButtonClicked);
    setFixedWidth(200);
    adjustSize();
}

RightClickButton* OptionMenuForPatchViewController::addButton(const char* titleKey, bool enabled,
                                                              void (OptionMenuForPatchViewController::*action)())
{
    auto* button = RightClickButton::menuButton(InterfaceTexts::localizedString(titleKey), enabled,
                                                [this, action] { (this->*action)(); }, this);
    button->setObjectName(QString::fromLatin1(titleKey));
    SubclassButtonCell::applyLook(*button);
    layout()->addWidget(button);
    return button;
}

void OptionMenuForPatchViewController::savingInPatchPoolButtonClicked()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    delegate_->optionMenuDidClickOnSavingInPatchPoolButtonAtIndex(targetIndex_);
}

void OptionMenuForPatchViewController::readingFromPatchPoolButtonClicked()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    delegate_->optionMenuDidClickOnReadingFromPatchPoolButtonAtIndex(targetIndex_);
}

void OptionMenuForPatchViewController::propertyButtonClicked()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    delegate_->optionMenuDidClickOnPropertyButtonAtIndex(targetIndex_);
}

void OptionMenuForPatchViewController::undoButtonClicked()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    delegate_->optionMenuDidClickOnUndoButtonAtIndex(targetIndex_);
}
