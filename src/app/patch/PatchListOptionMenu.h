#pragma once

#include <QPushButton>
#include <QWidget>

#include <cstdint>
#include <memory>

class OptionMenuForPatchViewControllerDelegate;
class PatchItem;

// The device list's option menu for one row: save to the library, read from it, undo, properties.
// Each button tells the delegate with the row; the two library buttons are enabled as the delegate says.
class PatchListOptionMenu final : public QWidget {
    Q_OBJECT
public:
    PatchListOptionMenu(std::uint64_t targetIndex, OptionMenuForPatchViewControllerDelegate& delegate,
                        std::shared_ptr<PatchItem> patchItem, QWidget* parent = nullptr);

    std::uint64_t targetIndex() const { return targetIndex_; }
    const std::shared_ptr<PatchItem>& patchItem() const { return patchItem_; }
    QPushButton* savingButton() const { return saving_; }
    QPushButton* readingButton() const { return reading_; }
    QPushButton* undoButton() const { return undo_; }
    QPushButton* propertyButton() const { return property_; }

private:
    std::uint64_t targetIndex_;
    std::shared_ptr<PatchItem> patchItem_;
    QPushButton* saving_;
    QPushButton* reading_;
    QPushButton* undo_;
    QPushButton* property_;
};
