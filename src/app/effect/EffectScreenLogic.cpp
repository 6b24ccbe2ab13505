#include "app/effect/EffectScreenLogic.h"

#include <algorithm>

#include "app/effect/EffectCoordinator.h"
#include "app/effect/EffectDialogs.h"
#include "app/effect/EffectPoolPanel.h"
#include "app/effect/EffectScreenViews.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"

namespace {

const std::string kNoteColumn = "Note";
const std::string kUsedTimesColumn = "UsedTimes";
const std::string kFavouriteKey = "isFavourite";

template <typename T>
int compareValues(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// The first sort descriptor: the key's values, names and notes as text, the rest as numbers.
int compareByKey(const EffectItem& a, const EffectItem& b, const std::string& key)
{
    if (key == "effectCategoryID") return compareValues(a.effectCategoryID, b.effectCategoryID);
    if (key == "effectName") return compareValues(a.effectName, b.effectName);
    if (key == "effectNote") return compareValues(a.effectNote, b.effectNote);
    if (key == "effectUsedTimes") return compareValues(a.effectUsedTimes, b.effectUsedTimes);
    if (key == kFavouriteKey) return compareValues(a.isFavourite, b.isFavourite);
    return 0;
}

// The second descriptor, the same in both directions.
int compareWholeItems(const EffectItem& a, const EffectItem& b)
{
    const bool aUnknown = a.effectCategoryID == EffectItem::kUnknownCategoryID;
    const bool bUnknown = b.effectCategoryID == EffectItem::kUnknownCategoryID;
    if (aUnknown || bUnknown) return compareValues(aUnknown, bUnknown);
    return compareValues(a.effectType, b.effectType);
}

void clearPoolMarks(const std::vector<std::shared_ptr<DirectoryObject>>& nodes, int depth)
{
    if (depth == 0) return;
    for (const auto& node : nodes) {
        if (!node) continue;
        node->hasNewChild = false;
        node->isNew = false;
        node->isIncompatible = false;
        clearPoolMarks(node->childDirectories, depth - 1);
    }
}

}  // namespace

EffectScreenLogic::EffectScreenLogic(Collaborators collaborators)
    : coordinator_(collaborators.coordinator),
      dialogs_(collaborators.dialogs),
      views_(collaborators.views),
      isDeviceConnected_(std::move(collaborators.isDeviceConnected)),
      patchItemsInPatchList_(std::move(collaborators.patchItemsInPatchList)),
      background_(std::move(collaborators.background)),
      main_(std::move(collaborators.main)),
      unitTakesEdits_(std::move(collaborators.unitTakesEdits))
{
}

bool EffectScreenLogic::unitTakesEdits(std::size_t row)
{
    if (!unitTakesEdits_ || unitTakesEdits_()) return true;
    // A star or a button the click already showed turned goes back: nothing reaches the unit.
    if (itemAtRow(static_cast<std::int64_t>(row))) views_.reloadEffectRow(row);
    return false;
}

EffectScreenLogic::~EffectScreenLogic() = default;

const std::vector<std::string>& EffectScreenLogic::columnIdentifiers()
{
    static const std::vector<std::string> columns{"Category", "EffectName", "Note", "UsedTimes", "Favourite"};
    return columns;
}

std::string EffectScreenLogic::sortKeyOfColumn(const std::string& column)
{
    static const std::vector<std::string> keys{"effectCategoryID", "effectName", "effectNote", "effectUsedTimes",
                                               kFavouriteKey};
    const auto& columns = columnIdentifiers();
    const auto found = std::find(columns.begin(), columns.end(), column);
    return found == columns.end() ? std::string() : keys[static_cast<std::size_t>(found - columns.begin())];
}

bool EffectScreenLogic::precedes(const EffectItem& a, const EffectItem& b, const std::string& key, bool ascending)
{
    int order = compareByKey(a, b, key);
    if (!ascending) order = -order;
    if (order != 0) return order < 0;
    return compareWholeItems(a, b) < 0;
}

void EffectScreenLogic::awakeFromNib()
{
    if (isAwakedFromNib_) return;
    isAwakedFromNib_ = true;
    isUpdatedEffectUsedTimesNumber_ = false;
    sortStatusInColumns_.clear();
    sortKeys_.clear();
    for (const std::string& column : columnIdentifiers()) {
        sortStatusInColumns_[column] = true;
        sortKeys_[column] = sortKeyOfColumn(column);
    }
    currentSortColumn_ = columnIdentifiers().front();
}

std::optional<bool> EffectScreenLogic::sortStatusInColumn(const std::string& column) const
{
    const auto found = sortStatusInColumns_.find(column);
    if (found == sortStatusInColumns_.end()) return std::nullopt;
    return found->second;
}

void EffectScreenLogic::viewDidAppear()
{
    const auto appear = [this] {
        if (numberOfRows() > 0) views_.scrollEffectRowToVisible(0);
        views_.validateRuler();
    };
    if (hasAppeared_) {
        appear();
        return;
    }
    // The first showing waits for the layout pass that is running.
    hasAppeared_ = true;
    main_([alive = std::weak_ptr<int>(alive_), appear] {
        if (alive.lock()) appear();
    });
}

void EffectScreenLogic::reloadData()
{
    reloadDataInEffectList();
    views_.redrawEffectManagerButton();
    reloadDataInEffectPool();
}

std::optional<EffectScreenLogic::PatchItems> EffectScreenLogic::patchItemsInPatchList() const
{
    return patchItemsInPatchList_ ? patchItemsInPatchList_() : std::optional<PatchItems>(PatchItems{});
}

void EffectScreenLogic::whenUsedTimesAreCounted(Task then)
{
    // Without a device nothing is to be counted; with a patch list read the counts are true (a right
    // click counts its effect at once while the list's count runs).
    if (!isDeviceConnected_() || patchItemsInPatchList()) {
        then();
        return;
    }
    waitingForCounts_.push_back(std::move(then));
}

void EffectScreenLogic::reloadDataInEffectList()
{
    isUpdatedEffectUsedTimesNumber_ = false;
    const std::uint64_t generation = ++countGeneration_;
    if (!isDeviceConnected_()) waitingForCounts_.clear();
    const std::optional<PatchItems> patchList = patchItemsInPatchList();
    if (isDeviceConnected_() && !effectList_.empty()) sortEffectListWithCurrentSort();
    // Over a patch list not read yet every count would be 0: the cells keep showing "-".
    if (isDeviceConnected_() && !effectList_.empty() && patchList) {
        // The count works on copies made here: the list and the patches may change while it runs.
        EffectItems counted;
        counted.reserve(effectList_.size());
        for (const auto& item : effectList_) {
            if (!item) continue;
            auto copy = std::make_shared<EffectItem>();
            copy->effectType = item->effectType;
            copy->effectName = item->effectName;
            copy->effectCategoryID = item->effectCategoryID;
            copy->effectUsedTimes = item->effectUsedTimes;
            counted.push_back(std::move(copy));
        }
        PatchItems patches;
        for (const auto& patch : *patchList)
            if (patch) patches.push_back(patch->copy());
        background_([this, main = main_, alive = std::weak_ptr<int>(alive_), generation, counted = std::move(counted),
                     patches = std::move(patches)] {
            CommonUtils::countEffectUsedTimesInEffectList(counted, patches);
            main([this, alive, generation, counted] {
                if (alive.lock()) applyUsedTimes(generation, counted);
            });
        });
    }
    views_.reloadEffectTable();
    views_.validateRuler();
    outlineViewSelectionDidChange();
}

void EffectScreenLogic::applyUsedTimes(std::uint64_t generation, const EffectItems& counted)
{
    if (generation != countGeneration_) return;
    for (const auto& item : effectList_) {
        if (!item) continue;
        const auto found = std::find_if(counted.begin(), counted.end(),
                                        [&item](const auto& copy) { return copy->effectType == item->effectType; });
        if (found != counted.end()) item->effectUsedTimes = (*found)->effectUsedTimes;
    }
    isUpdatedEffectUsedTimesNumber_ = true;
    if (currentSortColumn_ == kUsedTimesColumn) sortEffectListWithCurrentSort();
    // The selected effects stay selected, wherever the counts moved them.
    const EffectItems selected = selectedItems();
    views_.reloadEffectTable();
    selectItems(selected);
    const std::vector<Task> waiting = std::move(waitingForCounts_);
    waitingForCounts_.clear();
    for (const Task& then : waiting) then();
}

void EffectScreenLogic::reloadDataInEffectPool()
{
    views_.reloadEffectPool();
    views_.forceExpandTopNodes();
    views_.validateRuler();
    outlineViewSelectionDidChange();
}

void EffectScreenLogic::resetEffectPoolState()
{
    clearPoolMarks(structureData_, 3);
    views_.reloadEffectPool();
    outlineViewSelectionDidChange();
}

std::size_t EffectScreenLogic::numberOfRows() const { return std::max(effectList_.size(), kMinimumRows); }

bool EffectScreenLogic::isEmptyRow(std::int64_t row) const
{
    return row < 0 || static_cast<std::size_t>(row) >= effectList_.size() ||
           !effectList_[static_cast<std::size_t>(row)];
}

std::shared_ptr<EffectItem> EffectScreenLogic::itemAtRow(std::int64_t row) const
{
    return isEmptyRow(row) ? nullptr : effectList_[static_cast<std::size_t>(row)];
}

EffectScreenLogic::EffectItems EffectScreenLogic::selectedItems() const
{
    EffectItems items;
    for (const std::size_t row : views_.selectedEffectRows())
        if (auto item = itemAtRow(static_cast<std::int64_t>(row))) items.push_back(std::move(item));
    return items;
}

void EffectScreenLogic::selectItems(const EffectItems& items)
{
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < effectList_.size(); ++row)
        if (std::find(items.begin(), items.end(), effectList_[row]) != items.end()) rows.push_back(row);
    views_.selectEffectRows(rows);
}

void EffectScreenLogic::mouseDownInHeaderOfTableColumn(const std::string&)
{
    const auto rows = views_.selectedEffectRows();
    previousSelectedEffectItem_ = rows.empty() ? nullptr : itemAtRow(static_cast<std::int64_t>(rows.front()));
}

void EffectScreenLogic::didClickTableColumn(const std::string& column)
{
    if (column == kNoteColumn) {
        const auto found = std::find(effectList_.begin(), effectList_.end(), previousSelectedEffectItem_);
        if (previousSelectedEffectItem_ && found != effectList_.end())
            views_.selectEffectRows({static_cast<std::size_t>(found - effectList_.begin())});
        return;
    }
    if (!isDeviceConnected_()) return;
    bool ascending = sortStatusInColumn(column).value_or(false);
    if (column != currentSortColumn_) currentSortColumn_ = column;
    else ascending = !ascending;
    for (const std::string& each : columnIdentifiers()) {
        if (each == currentSortColumn_) sortStatusInColumns_[each] = ascending;
        else if (sortStatusInColumns_.count(each) != 0) sortStatusInColumns_[each] = true;
    }
    sortEffectListWithCurrentSort();
}

void EffectScreenLogic::sortEffectListWithCurrentSort()
{
    bool ascending = sortStatusInColumn(currentSortColumn_).value_or(false);
    std::map<std::string, int> states;
    for (const std::string& column : columnIdentifiers())
        states[column] = column == currentSortColumn_ ? (ascending ? 1 : 2) : 0;
    views_.setSortStates(states);
    const auto key = sortKeys_.find(currentSortColumn_);
    if (key == sortKeys_.end() || key->second.empty()) return;
    // The arrow shown as ascending lists the favourites first.
    if (key->second == kFavouriteKey) ascending = !ascending;
    const EffectItems selected = selectedItems();
    std::stable_sort(effectList_.begin(), effectList_.end(),
                     [&key, ascending](const std::shared_ptr<EffectItem>& a, const std::shared_ptr<EffectItem>& b) {
                         if (!a || !b) return a && !b;
                         return precedes(*a, *b, key->second, ascending);
                     });
    views_.reloadEffectTable();
    // The rows selected before the sort hold other effects now: the selection follows its effects.
    selectItems(selected);
    if (!previousSelectedEffectItem_) {
        views_.scrollEffectListToTop();
        return;
    }
    const auto found = std::find(effectList_.begin(), effectList_.end(), previousSelectedEffectItem_);
    if (found == effectList_.end()) return;
    const auto row = static_cast<std::size_t>(found - effectList_.begin());
    views_.selectEffectRows({row});
    views_.scrollEffectRowToVisible(row);
}

void EffectScreenLogic::didClickFavouriteInRow(std::size_t row)
{
    const auto item = itemAtRow(static_cast<std::int64_t>(row));
    if (!item || item->effectCategoryID == EffectItem::kUnknownCategoryID) return;
    setFavouriteItem(!item->isFavourite, row);
    const auto selected = views_.selectedEffectRows();
    if (std::find(selected.begin(), selected.end(), row) == selected.end()) views_.selectEffectRows({row});
}

void EffectScreenLogic::didClickRecoveryInRow(std::size_t row)
{
    if (!itemAtRow(static_cast<std::int64_t>(row))) return;
    recoverEffectAtRow(row);
    const auto selected = views_.selectedEffectRows();
    if (std::find(selected.begin(), selected.end(), row) == selected.end()) views_.selectEffectRows({row});
}

void EffectScreenLogic::setFavouriteItem(bool isFavourite, std::size_t row)
{
    if (!unitTakesEdits(row)) return;
    const auto item = itemAtRow(static_cast<std::int64_t>(row));
    if (!item) return;
    item->isFavourite = isFavourite;
    views_.reloadEffectRow(row);
    if (isFavourite) coordinator_.addFavouriteOfEffectItem(item);
    else coordinator_.removeFavouriteOfEffectItem(item);
}

void EffectScreenLogic::deleteEffectAtRow(std::size_t row)
{
    if (!unitTakesEdits(row)) return;
    const auto item = itemAtRow(static_cast<std::int64_t>(row));
    if (!item) return;
    item->isDeleted = true;
    views_.reloadEffectRow(row);
    views_.reloadEffectPool();
    outlineViewSelectionDidChange();
    coordinator_.deleteEffectItem(item);
}

std::uint32_t EffectScreenLogic::getExistItemInDevice() { return coordinator_.getNumberOfExistedEffectsInDevice(); }

bool EffectScreenLogic::hasCapacity()
{
    // A capacity never learnt (negative) holds nothing rather than everything. The count read from the
    // device lags behind the effects added since, so the list counts too: one drop of several effects
    // never passes the capacity.
    const std::int32_t maximum = coordinator_.getMaxEffectInDevice();
    const std::uint64_t held = std::max<std::uint64_t>(getExistItemInDevice(), effectList_.size());
    return maximum > 0 && held < static_cast<std::uint64_t>(maximum);
}

void EffectScreenLogic::showEffectFullDialog() { dialogs_.showInformation("Main_EffectFilesIsFull"); }

void EffectScreenLogic::recoverEffectAtRow(std::size_t row)
{
    if (!unitTakesEdits(row)) return;
    const auto item = itemAtRow(static_cast<std::int64_t>(row));
    if (!item) return;
    if (!hasCapacity()) {
        showEffectFullDialog();
        return;
    }
    item->isDeleted = false;
    views_.reloadEffectRow(row);
    views_.reloadEffectPool();
    outlineViewSelectionDidChange();
    coordinator_.recoverEffectItem(item);
}

std::optional<std::size_t> EffectScreenLogic::rowOfEffect(std::size_t index, const std::shared_ptr<EffectItem>& item) const
{
    if (!item) {
        if (itemAtRow(static_cast<std::int64_t>(index))) return index;
        return std::nullopt;
    }
    if (index < effectList_.size() && effectList_[index] == item) return index;
    return rowOfEffectNow(*item, item);
}

std::optional<std::size_t> EffectScreenLogic::rowOfEffectNow(const EffectItem& effect,
                                                             const std::shared_ptr<EffectItem>& object) const
{
    const auto at = [&](auto found) -> std::optional<std::size_t> {
        if (found == effectList_.end()) return std::nullopt;
        return static_cast<std::size_t>(found - effectList_.begin());
    };
    if (const auto row = at(std::find(effectList_.begin(), effectList_.end(), object))) return row;
    // An update under the question put a new object in the effect's row: the effect is found by its type
    // (the row the window replaced), by its file name too where the type is listed twice.
    const auto sameType = [&](const std::shared_ptr<EffectItem>& entry) {
        return entry && entry->effectType == effect.effectType;
    };
    if (const auto row = at(std::find_if(effectList_.begin(), effectList_.end(), [&](const auto& entry) {
            return sameType(entry) && entry->fileName == effect.fileName;
        })))
        return row;
    return at(std::find_if(effectList_.begin(), effectList_.end(), sameType));
}

std::shared_ptr<EffectItem> EffectScreenLogic::itemForRightClickAtIndex(std::size_t index)
{
    auto item = itemAtRow(static_cast<std::int64_t>(index));
    if (item && item->effectCategoryID != EffectItem::kUnknownCategoryID) isUsedTimesKnownAfterCounting(item);
    return item;
}

bool EffectScreenLogic::isUsedTimesKnownAfterCounting(const std::shared_ptr<EffectItem>& item)
{
    if (isUpdatedEffectUsedTimesNumber_) return true;
    // While the list's count runs the one effect is counted here at once; over an unread list nothing is.
    const auto patches = patchItemsInPatchList();
    if (!patches) return false;
    CommonUtils::countEffectUsedTimesWithEffectItem(item, *patches);
    return true;
}

void EffectScreenLogic::didClickOnFavoriteButton(bool isFavourite, std::size_t index,
                                                 const std::shared_ptr<EffectItem>& item)
{
    const auto row = rowOfEffect(index, item);
    if (!row || effectList_[*row]->effectCategoryID == EffectItem::kUnknownCategoryID) return;
    setFavouriteItem(isFavourite, *row);
}

void EffectScreenLogic::didClickOnDeletingButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item)
{
    // The option menu asked already.
    if (const auto row = rowOfEffect(index, item)) deleteEffectAtRow(*row);
}

void EffectScreenLogic::didClickOnRecoveryButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& asked)
{
    const auto row = rowOfEffect(index, asked);
    if (!row) return;
    const auto item = effectList_[*row];
    dialogs_.showConfirmation(
        "Effect_LoadingToDeviceConfirmation", item->effectName, std::nullopt, "Common_Ok", "Common_Cancel",
        [this, alive = std::weak_ptr<int>(alive_), item] {
            if (!alive.lock()) return;
            // The answer may come after a sort or an update: the row is the effect's row now.
            if (const auto row = rowOfEffectNow(*item, item)) recoverEffectAtRow(*row);
        },
        {}, true);
}

void EffectScreenLogic::didClickOnPropertyButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item)
{
    const auto row = rowOfEffect(index, item);
    if (!row) return;
    const auto& shown = effectList_[*row];
    if (shown->effectCategoryID == EffectItem::kUnknownCategoryID) return;
    dialogs_.showEffectProperty(shown, isUsedTimesKnownAfterCounting(shown));
}

void EffectScreenLogic::addItemByDraggingBlock(const std::shared_ptr<EffectItem>& item, std::int64_t row)
{
    if (!item || !isDeviceConnected_() || !isEffectListLoaded_ || (unitTakesEdits_ && !unitTakesEdits_())) return;
    if (!hasCapacity()) {
        showEffectFullDialog();
        return;
    }
    const std::int64_t index = CommonUtils::checkEffectExisted(*item, effectList_);
    if (index < 0) {
        // A row past the end (an earlier effect of the same drop went in elsewhere) is the end.
        const auto at = static_cast<std::size_t>(std::clamp<std::int64_t>(row, 0, static_cast<std::int64_t>(effectList_.size())));
        effectList_.insert(effectList_.begin() + static_cast<std::ptrdiff_t>(at), item);
        turnOfNewMarkOfEffect(*item);
        CommonUtils::countEffectUsedTimesWithEffectItem(item, patchItemsInPatchList().value_or(PatchItems{}));
        views_.reloadEffectTable();
        coordinator_.addEffectItem(item);
        sortEffectListWithCurrentSort();
        const std::size_t shown = scrollEffectListToEffectItem(item);
        if (shown < numberOfRows()) views_.selectEffectRows({shown});
    } else if (const auto at = static_cast<std::size_t>(index); effectList_[at]->isDeleted) {
        const auto& entry = effectList_[at];
        item->isFavourite = entry->isFavourite;
        item->effectUsedTimes = entry->effectUsedTimes;
        effectList_[at] = item;
        coordinator_.recoverEffectItem(item);
        views_.reloadEffectTable();
        views_.scrollEffectRowToVisible(at);
        views_.selectEffectRows({at});
    }
    afterAdding();
}

void EffectScreenLogic::afterAdding()
{
    views_.resignEffectListFocus();
    outlineViewSelectionDidChange();
}

void EffectScreenLogic::turnOfNewMarkOfEffect(const EffectItem& item)
{
    const auto isNewLeaf = [](const std::shared_ptr<DirectoryObject>& node) { return node && node->isNew; };
    const auto hasNew = [](const std::shared_ptr<DirectoryObject>& node) { return node && node->hasNewChild; };
    for (const auto& model : structureData_) {
        if (!model) continue;
        for (const auto& category : model->childDirectories) {
            if (!category) continue;
            for (const auto& leaf : category->childDirectories) {
                const EffectItem* object = leaf ? leaf->effectItem() : nullptr;
                if (object == nullptr || object->effectType != item.effectType) continue;
                leaf->isNew = false;
                const auto& leaves = category->childDirectories;
                if (std::none_of(leaves.begin(), leaves.end(), isNewLeaf)) category->hasNewChild = false;
                const auto& categories = model->childDirectories;
                if (std::none_of(categories.begin(), categories.end(), hasNew)) model->hasNewChild = false;
            }
        }
    }
    views_.reloadEffectPool();
}

std::size_t EffectScreenLogic::scrollEffectListToEffectItem(const std::shared_ptr<EffectItem>& item)
{
    const auto found = std::find(effectList_.begin(), effectList_.end(), item);
    if (found == effectList_.end()) return static_cast<std::size_t>(-1);
    const auto row = static_cast<std::size_t>(found - effectList_.begin());
    if (row < numberOfRows()) views_.scrollEffectRowToVisible(row);
    return row;
}

void EffectScreenLogic::didClickSaveToDeviceButton()
{
    const auto nodes = views_.selectedPoolNodes();
    if (nodes.size() != 1 || !nodes.front()) return;
    const DirectoryObject& node = *nodes.front();
    const EffectItem* item = node.effectItem();
    if (node.isGroup || item == nullptr || node.isIncompatible) return;
    addItemByDraggingBlock(item->copy(), 0);
}

std::shared_ptr<EffectItem> EffectScreenLogic::poolItemOfType(std::uint32_t effectType) const
{
    const std::function<std::shared_ptr<EffectItem>(const StructureData&)> search =
        [&search, effectType](const StructureData& nodes) -> std::shared_ptr<EffectItem> {
        for (const auto& node : nodes) {
            if (!node) continue;
            const EffectItem* object = node->effectItem();
            if (object != nullptr && !node->isGroup && object->effectType == effectType) return object->copy();
            if (auto found = search(node->childDirectories)) return found;
        }
        return nullptr;
    };
    return search(structureData_);
}

bool EffectScreenLogic::canDragEffectItem(const EffectItem& item) const
{
    const std::int64_t index = CommonUtils::checkEffectExisted(item, effectList_);
    if (index < 0) return true;
    const auto& entry = effectList_[static_cast<std::size_t>(index)];
    if (entry->effectCategoryID == EffectItem::kUnknownCategoryID) return false;
    return entry->isDeleted;
}

void EffectScreenLogic::outlineViewSelectionDidChange()
{
    views_.showPanel(EffectPoolPanel::forSelection(views_.selectedPoolNodes(), isDeviceConnected_(),
                                                   isEffectListLoaded_, effectList_));
}
