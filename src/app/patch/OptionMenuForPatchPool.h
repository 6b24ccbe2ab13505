#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "app/patch/PoolSelectionEntry.h"

class AppDelegate;
class DirectoryObject;
class OptionMenuForPatchPoolDelegate;
class RightClickButton;

// The patch pool's option menu: copy to the device (or restore all, for a backup-all group), delete,
// property, undo and create group. What the selection holds is one mask of kinds; which buttons are
// usable is decided once, when the menu is made; a click (left or right button alike) goes to the
// delegate, and does nothing while a sheet shows.
class OptionMenuForPatchPool final : public QWidget {
    Q_OBJECT
public:
    using Node = std::shared_ptr<DirectoryObject>;

    // The kinds of selected rows, OR-ed into the mask; a click in empty space is exactly kEmptySpace.
    enum Kind : std::int64_t {
        kTopLevelPatch = 2,
        kPatchInBackupAllGroup = 4,
        kPatchInGroup = 8,
        kGroup = 16,
        kBackupAllGroup = 32,
        kIncompatible = 64,
        kEmptySpace = 128,
    };
    // The bits of one selected row.
    static std::int64_t maskForRow(const DirectoryObject& item, const DirectoryObject* parent);
    static std::int64_t maskForSelection(const PoolSelectionEntries& entries);
    // The first backup-all group among the entries' items, in entry order.
    static Node firstBackupAllGroup(const PoolSelectionEntries& entries);

    struct State {
        std::int64_t mask = 0;
        bool isRestoringAll = false;
        // The delegate's answer; only asked for when it can matter.
        bool canCopyToDeviceMemory = false;
        bool isDeviceConnected = false;
        bool canBeUndo = false;
    };
    struct Enabling {
        bool writeOrRestore = false;
        bool del = false;
        bool property = false;
        bool undo = false;
        bool createGroup = true;
        // "Patch_RestoreAllToDevice" or "Patch_CopyToDeviceMemory".
        std::string writeOrRestoreTitleKey;
    };
    static Enabling enabling(const State& state);
    // Whether the copy question needs asking at all.
    static bool asksCanCopy(std::int64_t mask, bool isRestoringAll);

    // The delegate is asked its question here; it must outlive the menu (it owns the popover).
    OptionMenuForPatchPool(std::int64_t typeOfPatchGroupInPool, Node item, Node group, PoolSelectionEntries targetItems,
                           OptionMenuForPatchPoolDelegate* delegate, AppDelegate& appDelegate, bool canBeUndo,
                           QWidget* parent = nullptr);

    std::int64_t typeOfPatchGroupInPool() const { return typeOfPatchGroupInPool_; }
    const Node& item() const { return item_; }
    const Node& group() const { return group_; }
    const PoolSelectionEntries& targetItems() const { return targetItems_; }
    RightClickButton* writeOrRestoreButton() const { return writeOrRestoreButton_; }
    RightClickButton* deleteButton() const { return deleteButton_; }
    RightClickButton* propertyButton() const { return propertyButton_; }
    RightClickButton* undoButton() const { return undoButton_; }
    RightClickButton* createGroupButton() const { return createGroupButton_; }

    void ClickedOnWriteOrRestoreButton();
    void ClickedOnDeleteButton();
    void ClickedOnPropertyButton();
    void ClickedOnUndoButton();
    void didClickOnCreateGroupButton();

private:
    RightClickButton* addButton(const std::string& titleKey, bool enabled, void (OptionMenuForPatchPool::*action)());

    std::int64_t typeOfPatchGroupInPool_;
    Node group_;
    Node item_;
    PoolSelectionEntries targetItems_;
    OptionMenuForPatchPoolDelegate* delegate_;
    AppDelegate& appDelegate_;
    RightClickButton* writeOrRestoreButton_ = nullptr;
    RightClickButton* deleteButton_ = nullptr;
    RightClickButton* propertyButton_ = nullptr;
    RightClickButton* undoButton_ = nullptr;
    RightClickButton* createGroupButton_ = nullptr;
};
