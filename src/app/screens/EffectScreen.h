#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class DirectoryObject;
class EffectItem;
class MainWindowController;
class QPushButton;
class QWidget;

// The effect management screen as the main window controller sees it: the device effect list on the
// left, the effect pool on the right, and the operations the controller calls on them.
class EffectScreen {
public:
    using EffectItems = std::vector<std::shared_ptr<EffectItem>>;
    using StructureData = std::vector<std::shared_ptr<DirectoryObject>>;

    virtual ~EffectScreen() = default;

    virtual QWidget* view() = 0;
    // Held weakly.
    virtual void setMainController(MainWindowController* mainController) = 0;
    virtual void viewDidAppear() = 0;

    // The screen edits the list in place; the controller reverts an entry whose device write failed.
    virtual EffectItems& effectList() = 0;
    virtual void setEffectList(EffectItems effectList) = 0;
    virtual const StructureData& structureData() const = 0;
    virtual void setStructureData(StructureData structureData) = 0;
    virtual void setIsEffectListLoaded(bool loaded) = 0;
    // The Load-to-device button under the pool.
    virtual QPushButton* savingToDeviceButton() = 0;
    // Redraws one row of the device effect list in all its columns, keeping the selection.
    virtual void reloadEffectListRow(std::size_t row) = 0;

    // Clears the new, new-child and incompatible marks of every pool node and reloads the pool.
    virtual void resetEffectPoolState() = 0;
    virtual void reloadData() = 0;
    virtual void reloadDataInEffectList() = 0;
    virtual void reloadDataInEffectPool() = 0;
    virtual void validateRuler() = 0;
};
