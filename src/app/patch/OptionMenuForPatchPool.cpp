#include "app/patch/OptionMenuForPatchPool.h"

#include <QVBoxLayout>

#include "app/controls/RightClickButton.h"
#include "app/controls/SubclassButtonCell.h"
#include "app/patch/OptionMenuForPatchPoolDelegate.h"
#include "app/shell/AppDelegate.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/DirectoryObject.h"

std::int64_t OptionMenuForPatchPool::maskForRow(const DirectoryObject& item, const DirectoryObject* parent)
{
    std::int64_t mask = item.isIncompatible ? std::int64_t{kIncompatible} : std::int64_t{0};
    if (item.isGroup) mask |= item.isBackUpAllGroup ? kBackupAllGroup : kGroup;
    else if (parent == nullptr) mask |= kTopLevelPatch;
    else mask |= parent->isBackUpAllGroup ? kPatchInBackupAllGroup : kPatchInGroup;
    return mask;
}

std::int64_t OptionMenuForPatchPool::maskForSelection(const PoolSelectionEntries& entries)
{
    std::int64_t mask = 0;
    for (const auto& entry : entries)
        if (entry.childItem) mask |= maskForRow(*entry.childItem, entry.parentItem.get());
    return mask;
}

OptionMenuForPatchPool::Node OptionMenuForPatchPool::firstBackupAllGroup(const PoolSelectionEntries& entries)
{
    for (const auto& entry : entries)
        if (entry.childItem && entry.childItem->isGroup && entry.childItem->isBackUpAllGroup) return entry.childItem;
    return nullptr;
}

bool OptionMenuForPatchPool::asksCanCopy(std::int64_t mask, bool isRestoringAll)
{
    return !isRestoringAll && !(mask & kIncompatible) && !(mask & kEmptySpace);
}

OptionMenuForPatchPool::Enabling OptionMenuForPatchPool::enabling(const State& state)
{
    const std::int64_t mask = state.mask;
    Enabling result;
    result.writeOrRestoreTitleKey = (mask & kBackupAllGroup) ? "Patch_RestoreAllToDevice" : "Patch_CopyToDeviceMemory";
    result.writeOrRestore =
        asksCanCopy(mask, state.isRestoringAll) && state.canCopyToDeviceMemory && state.isDeviceConnected;
    result.del = !(mask & kPatchInBackupAllGroup) && !(mask & kEmptySpace);
    result.property = !(mask & kEmptySpace);
    result.undo = state.canBeUndo && !state.isRestoringAll;
    result.createGroup = true;
    return result;
}

OptionMenuForPatchPool::OptionMenuForPatchPool(std::int64_t typeOfPatchGroupInPool, Node item, Node group,
                                               PoolSelectionEntries targetItems, OptionMenuForPatchPoolDelegate* delegate,
                                               AppDelegate& appDelegate, bool canBeUndo, QWidget* parent)
    : QWidget(parent),
      typeOfPatchGroupInPool_(typeOfPatchGroupInPool),
      group_(std::move(group)),
      item_(std::move(item)),
      targetItems_(std::move(targetItems)),
      delegate_(delegate),
      appDelegate_(appDelegate)
{
    setObjectName(QStringLiteral("OptionMenuForPatchPool"));
    SubclassButtonCell::applyMenuBackground(*this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(2);
    State state;
    state.mask = typeOfPatchGroupInPool_;
    state.isRestoringAll = appDelegate_.isRestoringAll();
    state.canCopyToDeviceMemory = asksCanCopy(state.mask, state.isRestoringAll) && delegate_ &&
                                  delegate_->optionMenuForPatchPoolCanCopyToDeviceMemory(this);
    // A unit being let go takes no copy: it would queue behind the eject.
    state.isDeviceConnected = appDelegate_.isDeviceConnected() && !appDelegate_.isLettingDeviceGo();
    state.canBeUndo = canBeUndo && !appDelegate_.isLettingDeviceGo();
    const Enabling enabled = enabling(state);
    writeOrRestoreButton_ = addButton(enabled.writeOrRestoreTitleKey, enabled.writeOrRestore,
                                      &OptionMenuForPatchPool::ClickedOnWriteOrRestoreButton);
    deleteButton_ = addButton("Patch_Delete", enabled.del, &OptionMenuForPatchPool::ClickedOnDeleteButton);
    propertyButton_ = addButton("Patch_Property", enabled.property, &OptionMenuForPatchPool::ClickedOnPropertyButton);
    undoButton_ = addButton("Patch_Undo", enabled.undo, &OptionMenuForPatchPool::ClickedOnUndoButton);
    createGroupButton_ = addButton("Patch_CreateNewGroup", enabled.createGroup,
                                   &OptionMenuForPatchPool::didClickOnCreateGroupButton);
    setFixedWidth(200);
    adjustSize();
}

RightClickButton* OptionMenuForPatchPool::addButton(const std::string& titleKey, bool enabled,
                                                    void (OptionMenuForPatchPool::*action)())
{
    auto* button = RightClickButton::menuButton(InterfaceTexts::localizedString(titleKey), enabled,
                                                [this, action] { (this->*action)(); }, this);
    button->setObjectName(QString::fromStdString(titleKey));
    SubclassButtonCell::applyLook(*button);
    layout()->addWidget(button);
    return button;
}

void OptionMenuForPatchPool::ClickedOnWriteOrRestoreButton()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    if (typeOfPatchGroupInPool_ & kBackupAllGroup)
        delegate_->optionMenuForPatchPoolDidClickOnButtonRestoreAllToDeviceAtItem(this, firstBackupAllGroup(targetItems_),
                                                                                nullptr);
    else
        delegate_->optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItems(this, targetItems_);
}

void OptionMenuForPatchPool::ClickedOnDeleteButton()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    delegate_->optionMenuForPatchPoolDidClickOnDeleteButtonWithItems(this, targetItems_);
}

void OptionMenuForPatchPool::ClickedOnPropertyButton()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    delegate_->optionMenuForPatchPoolDidClickOnPropertyButtonAtItem(this, item_, group_);
}

void OptionMenuForPatchPool::ClickedOnUndoButton()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    delegate_->optionMenuForPatchPoolDidClickOnUndoButtonAtItem(this, item_, group_);
}

void OptionMenuForPatchPool::didClickOnCreateGroupButton()
{
    if (appDelegate_.isShowingDialog() || !delegate_) return;
    delegate_->optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(this, item_, group_);
}
