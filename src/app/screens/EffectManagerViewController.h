#pragma once

#include <memory>
#include <vector>

class DirectoryObject;
class EffectItem;
class MainWindowController;
class QPushButton;
class QTableView;
class QWidget;

// The effect management screen as the main window controller sees it: the device effect list on the
// left, the effect pool tree on the right. The models are the coordinator's.
class EffectManagerViewController {
public:
    using EffectItems = std::vector<std::shared_ptr<EffectItem>>;
    using StructureData = std::vector<std::shared_ptr<DirectoryObject>>;

    virtual ~EffectManagerViewController() = default;

    virtual QWidget* view() = 0;
    // Held weakly.
    virtual void setMainController(MainWindowController* mainController) = 0;
    virtual void viewDidAppear() = 0;

    virtual const EffectItems& effectList() const = 0;
    virtual void setEffectList(EffectItems effectList) = 0;
    // Models, their categories and their effects.
    virtual const StructureData& structureData() const = 0;
    virtual void setStructureData(StructureData structureData) = 0;
    virtual void setIsEffectListLoaded(bool loaded) = 0;

    // The Load-to-device button under the pool, disabled by the main window controller.
    virtual QPushButton* savingToDeviceButton() = 0;
    // The device effect list table; one row is reloaded, keeping the selection, after an effect update.
    virtual QTableView* leftPanelTableView() = 0;

    // Clears the new, new-child and incompatible marks of every pool node and reloads the pool.
    virtual void resetEffectPoolState() = 0;
    // The list, the main window's effect tab button, then the pool.
    virtual void reloadData() = 0;
    // While a device is connected and the list is not empty: sorts it and recounts the use counts in
    // the background; then reloads the table and validates the rulers.
    virtual void reloadDataInEffectList() = 0;
    virtual void reloadDataInEffectPool() = 0;
    // Shows each vertical ruler exactly when its view is taller than its visible area.
    virtual void validateRuler() = 0;

    // Sets the item's favourite flag first, then asks the coordinator to add or remove the favourite.
    virtual void setFavouriteItem(const std::shared_ptr<EffectItem>& item, long row) = 0;
};
