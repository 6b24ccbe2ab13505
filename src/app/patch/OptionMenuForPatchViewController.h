#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

class AppDelegate;
class OptionMenuForPatchViewControllerDelegate;
class PatchItem;
class RightClickButton;

// The device list's option menu for one row: save to the pool, read from it, undo, properties. Which
// buttons are usable is decided once, when the menu is made; a click (left or right button alike) hands
// the row to the delegate, and does nothing while a sheet shows.
class OptionMenuForPatchViewController final : public QWidget {
    Q_OBJECT
public:
    // What the enabling depends on.
    struct State {
        bool canSave = false;
        bool canRead = false;
        bool canBeUndo = false;
        bool isRestoringAll = false;
    };
    struct Enabling {
        bool saving = false;
        bool reading = false;
        bool undo = false;
        bool property = true;
    };
    static Enabling enabling(const State& state);

    // The delegate is asked its two questions here; it must outlive the menu (it owns the popover).
    OptionMenuForPatchViewController(std::uint64_t targetIndex, std::shared_ptr<PatchItem> patchItem,
                                     OptionMenuForPatchViewControllerDelegate* delegate, AppDelegate& appDelegate,
                                     bool canBeUndo, QWidget* parent = nullptr);

    std::uint64_t targetIndex() const { return targetIndex_; }
    const std::shared_ptr<PatchItem>& patchItem() const { return patchItem_; }
    RightClickButton* savingInPatchPoolButton() const { return savingInPatchPoolButton_; }
    RightClickButton* readingInPatchPoolButton() const { return readingInPatchPoolButton_; }
    RightClickButton* undoButton() const { return undoButton_; }
    RightClickButton* propertyButton() const { return propertyButton_; }

    void savingInPatchPoolButtonClicked();
    void readingFromPatchPoolButtonClicked();
    void propertyButtonClicked();
    void undoButtonClicked();

private:
    RightClickButton* addButton(const char* titleKey, bool enabled, void (OptionMenuForPatchViewController::*action)());

    OptionMenuForPatchViewControllerDelegate* delegate_;
    std::uint64_t targetIndex_;
    std::shared_ptr<PatchItem> patchItem_;
    AppDelegate& appDelegate_;
    RightClickButton* savingInPatchPoolButton_ = nullptr;
    RightClickButton* readingInPatchPoolButton_ = nullptr;
    RightClickButton* undoButton_ = nullptr;
    RightClickButton* propertyButton_ = nullptr;
};
