#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DirectoryObject;
class EffectCoordinator;
class EffectDialogs;
class EffectItem;
class EffectScreenViews;
class PatchItem;

// The effect screen's decisions, without widgets: the device's effect list and the pool tree it shows,
// the sort by header, the use counts, the row actions and the Load rule. Main thread; only the use count
// runs on the background poster, over copies.
class EffectScreenLogic {
public:
    using EffectItems = std::vector<std::shared_ptr<EffectItem>>;
    using StructureData = std::vector<std::shared_ptr<DirectoryObject>>;
    using PatchItems = std::vector<std::shared_ptr<PatchItem>>;
    using Task = std::function<void()>;
    using Post = std::function<void(Task)>;

    // The list always shows at least this many rows; rows past the effects are empty.
    static constexpr std::size_t kMinimumRows = 30;

    struct Collaborators {
        EffectCoordinator& coordinator;
        EffectDialogs& dialogs;
        EffectScreenViews& views;
        std::function<bool()> isDeviceConnected;
        // The device's patch list, none while it has not been read: no use count is known then.
        std::function<std::optional<PatchItems>()> patchItemsInPatchList;
        // Runs a task on the default-priority background queue, and on the main queue.
        Post background;
        Post main;
        // Whether the unit takes a change now: not while it is being let go. None: always.
        std::function<bool()> unitTakesEdits;
    };

    explicit EffectScreenLogic(Collaborators collaborators);
    ~EffectScreenLogic();
    EffectScreenLogic(const EffectScreenLogic&) = delete;
    EffectScreenLogic& operator=(const EffectScreenLogic&) = delete;

    // The columns in their order, and the item property each sorts by.
    static const std::vector<std::string>& columnIdentifiers();
    static std::string sortKeyOfColumn(const std::string& column);
    // The list's order under `key`: that key first, in its direction; then, in either direction, known
    // effects before the unknown one and smaller types first.
    static bool precedes(const EffectItem& a, const EffectItem& b, const std::string& key, bool ascending);

    // ---- state ----
    void awakeFromNib();
    EffectItems& effectList() { return effectList_; }
    const EffectItems& effectList() const { return effectList_; }
    void setEffectList(EffectItems effectList) { effectList_ = std::move(effectList); }
    const StructureData& structureData() const { return structureData_; }
    void setStructureData(StructureData structureData) { structureData_ = std::move(structureData); }
    bool isLoadedEffectList() const { return isEffectListLoaded_; }
    void setIsEffectListLoaded(bool loaded) { isEffectListLoaded_ = loaded; }
    bool isUpdatedEffectUsedTimesNumber() const { return isUpdatedEffectUsedTimesNumber_; }
    // Runs `then` once the use counts are true: at once, or after the count that follows the reading of
    // the device's patch list. Dropped when the device goes first.
    void whenUsedTimesAreCounted(Task then);
    const std::string& currentSortColumn() const { return currentSortColumn_; }
    // The stored direction of a column (YES ascending); none before the set-up.
    std::optional<bool> sortStatusInColumn(const std::string& column) const;
    std::shared_ptr<EffectItem> previousSelectedEffectItem() const { return previousSelectedEffectItem_; }

    // ---- entry points of the main window controller ----
    void viewDidAppear();
    void reloadData();
    void reloadDataInEffectList();
    void reloadDataInEffectPool();
    void resetEffectPoolState();

    // ---- the list ----
    std::size_t numberOfRows() const;
    bool isEmptyRow(std::int64_t row) const;
    std::shared_ptr<EffectItem> itemAtRow(std::int64_t row) const;
    void mouseDownInHeaderOfTableColumn(const std::string& column);
    void didClickTableColumn(const std::string& column);
    void sortEffectListWithCurrentSort();

    // The cells' buttons, which also select their row.
    void didClickFavouriteInRow(std::size_t row);
    void didClickRecoveryInRow(std::size_t row);
    // The row actions and their capacity check.
    void setFavouriteItem(bool isFavourite, std::size_t row);
    void deleteEffectAtRow(std::size_t row);
    void recoverEffectAtRow(std::size_t row);
    std::uint32_t getExistItemInDevice();
    void showEffectFullDialog();

    // ---- the right-click protocol ----
    // The answers of the option menu come with the effect it was opened for: they act on that effect
    // wherever a sort moved it, and on nothing once it has left the list. Without an effect they act on
    // the row at `index` when it holds one.
    // The effect of a row, nothing for an empty one; counted first while the counts are not in, as the
    // delete question tells its use count.
    std::shared_ptr<EffectItem> itemForRightClickAtIndex(std::size_t index);
    void didClickOnFavoriteButton(bool isFavourite, std::size_t index, const std::shared_ptr<EffectItem>& item = nullptr);
    void didClickOnDeletingButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item = nullptr);
    // A recovery asked for from the option menu: confirmed first, with the capacity checked on OK.
    void didClickOnRecoveryButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item = nullptr);
    // The property sheet, never for the unknown effect.
    void didClickOnPropertyButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item = nullptr);

    // ---- adding effects ----
    // A pool effect dropped on `row` of the list, or loaded with the Load button (row 0): added when new,
    // recovered in place when its entry is deleted, nothing when loaded; never past the capacity.
    void addItemByDraggingBlock(const std::shared_ptr<EffectItem>& item, std::int64_t row);
    // Clears the NEW mark of every pool leaf of the item's type, and the groups' marks that no longer
    // have a new child; the pool reloads.
    void turnOfNewMarkOfEffect(const EffectItem& item);
    // The item's row, scrolled into view; npos when it is not in the list.
    std::size_t scrollEffectListToEffectItem(const std::shared_ptr<EffectItem>& item);
    // The Load button: one selected pool effect, compatible, is added as a copy at row 0.
    void didClickSaveToDeviceButton();
    // A copy of the pool's own item of that type, for a dropped effect; nothing when the pool has none.
    std::shared_ptr<EffectItem> poolItemOfType(std::uint32_t effectType) const;

    // ---- the pool ----
    // Whether a pool effect may be dragged onto the list: new, or its entry deleted.
    bool canDragEffectItem(const EffectItem& item) const;
    // Fills the information panel and sets the Load button from the pool's selection.
    void outlineViewSelectionDidChange();

private:
    void selectItems(const EffectItems& items);
    EffectItems selectedItems() const;
    bool hasCapacity();
    // The row of the effect an answer is for, as described at the right-click protocol.
    std::optional<std::size_t> rowOfEffect(std::size_t index, const std::shared_ptr<EffectItem>& item) const;
    // The row showing the effect now: its object, or the object an update put in its place.
    std::optional<std::size_t> rowOfEffectNow(const EffectItem& effect, const std::shared_ptr<EffectItem>& object) const;
    // The focus leaves the list and the Load button follows the pool's selection.
    void afterAdding();
    void applyUsedTimes(std::uint64_t generation, const EffectItems& counted);
    std::optional<PatchItems> patchItemsInPatchList() const;
    // Counts the item's uses at once when the list's count has not come in; false while no count can be
    // known (the unit's patch list is still being read).
    bool isUsedTimesKnownAfterCounting(const std::shared_ptr<EffectItem>& item);

    EffectCoordinator& coordinator_;
    EffectDialogs& dialogs_;
    EffectScreenViews& views_;
    std::function<bool()> isDeviceConnected_;
    std::function<std::optional<PatchItems>()> patchItemsInPatchList_;
    Post background_;
    Post main_;
    std::function<bool()> unitTakesEdits_;
    // Whether a change of the unit may start now; a refused one leaves its row as it was shown.
    bool unitTakesEdits(std::size_t row);

    EffectItems effectList_;
    StructureData structureData_;
    bool isEffectListLoaded_ = false;
    bool isAwakedFromNib_ = false;
    bool isUpdatedEffectUsedTimesNumber_ = false;
    bool hasAppeared_ = false;
    std::map<std::string, bool> sortStatusInColumns_;
    std::map<std::string, std::string> sortKeys_;
    std::string currentSortColumn_;
    std::shared_ptr<EffectItem> previousSelectedEffectItem_;
    // Only the newest use count is taken in; an older one that ends later is dropped.
    std::uint64_t countGeneration_ = 0;
    // What waits for the counts of a patch list not read yet.
    std::vector<Task> waitingForCounts_;
    // Work posted to the main queue runs only while the screen lives.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
