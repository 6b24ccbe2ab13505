#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "EffectScreenFakes.h"

using namespace effect_test;

namespace {

TEST(EffectScreenLogicTest, HeaderClicksSortAsTheHeaderRulesSay)
{
    using Names = std::vector<std::string>;
    // The clicks, with a device or not; the order and the one arrow they leave.
    const std::tuple<const char*, Names, bool, Names, std::string, int> cases[] = {
        {"first click on the first column descends", {"Category"}, true, {"c3", "b2", "a1"}, "Category", 2},
        {"a new column ascends", {"EffectName"}, true, {"a1", "b2", "c3"}, "EffectName", 1},
        {"a second click reverses", {"EffectName", "EffectName"}, true, {"c3", "b2", "a1"}, "EffectName", 2},
        {"back to a column ascends again", {"EffectName", "EffectName", "Category", "EffectName"}, true,
         {"a1", "b2", "c3"}, "EffectName", 1},
        {"Note only reselects", {"Note"}, true, {"b2", "a1", "c3"}, "", 0},
        {"nothing without a device", {"EffectName"}, false, {"b2", "a1", "c3"}, "", 0},
    };
    for (const auto& [name, clicks, connected, order, arrowColumn, arrow] : cases) {
        SCOPED_TRACE(name);
        LogicRig rig;
        rig.connected = connected;
        rig.logic.setEffectList({effect("b2", 2, 2), effect("a1", 1, 1), effect("c3", 3, 3)});
        for (const auto& column : clicks) {
            rig.logic.mouseDownInHeaderOfTableColumn(column);
            rig.logic.didClickTableColumn(column);
        }
        EXPECT_EQ(rig.names(), order);
        for (const auto& [column, state] : rig.views.sortStates) EXPECT_EQ(state, column == arrowColumn ? arrow : 0) << column;
    }
}

// Ties break the same way whatever the key's direction.
TEST(EffectScreenLogicTest, ComparatorBreaksTiesTheSameWayInBothDirections)
{
    const auto a = effect("a", 7, 1, 2);
    const auto b = effect("b", 3, 1, 2);
    const auto unknown = effect("UNKNOWN", 1, EffectItem::kUnknownCategoryID, 2);
    const auto more = effect("m", 9, 1, 5);
    for (const bool ascending : {true, false}) {
        SCOPED_TRACE(ascending);
        EXPECT_TRUE(EffectScreenLogic::precedes(*b, *a, "effectUsedTimes", ascending));
        EXPECT_FALSE(EffectScreenLogic::precedes(*a, *b, "effectUsedTimes", ascending));
        EXPECT_TRUE(EffectScreenLogic::precedes(*a, *unknown, "effectUsedTimes", ascending));
        EXPECT_FALSE(EffectScreenLogic::precedes(*unknown, *a, "effectUsedTimes", ascending));
        EXPECT_FALSE(EffectScreenLogic::precedes(*unknown, *unknown, "effectUsedTimes", ascending));
        EXPECT_EQ(EffectScreenLogic::precedes(*more, *a, "effectUsedTimes", ascending), !ascending);
    }
}

TEST(EffectScreenLogicTest, FavouritesComeFirstUnderTheAscendingArrowAndTheSortIsStable)
{
    LogicRig rig;
    rig.logic.setEffectList({effect("plain1", 5), effect("fav1", 4, 1, 0, true), effect("plain2", 2),
                             effect("fav2", 8, 1, 0, true), effect("UNKNOWN", 1, EffectItem::kUnknownCategoryID)});
    rig.logic.didClickTableColumn("Favourite");
    EXPECT_EQ(rig.views.sortStates["Favourite"], 1);
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"fav1", "fav2", "plain2", "plain1", "UNKNOWN"}));
    rig.logic.didClickTableColumn("Favourite");
    EXPECT_EQ(rig.views.sortStates["Favourite"], 2);
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"plain2", "plain1", "UNKNOWN", "fav1", "fav2"}));
}

TEST(EffectScreenLogicTest, SelectionFollowsItsEffectsThroughAHeaderClick)
{
    LogicRig rig;
    rig.logic.setEffectList({effect("c", 3), effect("a", 1), effect("b", 2)});
    const auto headerClick = [&](const char* column, std::vector<std::size_t> atPress, std::vector<std::size_t> atRelease) {
        rig.views.selection = atPress;
        rig.logic.mouseDownInHeaderOfTableColumn(column);
        rig.views.selection = atRelease;
        rig.logic.didClickTableColumn(column);
    };
    headerClick("EffectName", {0}, {0});  // "c"
    EXPECT_EQ(rig.views.selection, (std::vector<std::size_t>{2}));
    EXPECT_EQ(rig.views.calls.back(), "scrollTo 2");
    headerClick("EffectName", {}, {});
    EXPECT_EQ(rig.views.calls.back(), "scrollToTop");
    const auto order = rig.names();
    headerClick("Note", {1}, {});
    EXPECT_EQ(rig.views.selection, (std::vector<std::size_t>{1}));
    EXPECT_EQ(rig.names(), order);
}

TEST(EffectScreenLogicTest, OnlyTheNewestCountAppliesAndAUsedTimesSortKeepsTheSelection)
{
    LogicRig rig;
    rig.logic.setEffectList({effect("a", 1), effect("b", 2), effect("c", 3)});
    rig.logic.setIsEffectListLoaded(true);
    rig.logic.didClickTableColumn("UsedTimes");  // ascending
    rig.patches = {patchUsing({3, 3}), patchUsing({3})};
    rig.logic.reloadDataInEffectList();
    EXPECT_FALSE(rig.logic.isUpdatedEffectUsedTimesNumber());
    auto older = std::exchange(rig.background, {});
    rig.patches = {patchUsing({1, 3}), patchUsing({1}), patchUsing({1})};
    rig.logic.reloadDataInEffectList();
    LogicRig::runAll(rig.background);
    rig.views.selection = {0};  // "a", used by none until the count
    LogicRig::runAll(rig.main);
    EXPECT_TRUE(rig.logic.isUpdatedEffectUsedTimesNumber() && rig.logic.effectList()[2]->effectUsedTimes == 3);
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(rig.views.selection, (std::vector<std::size_t>{2}));
    // The first count ends last: its numbers never arrive.
    LogicRig::runAll(older);
    LogicRig::runAll(rig.main);
    EXPECT_EQ(std::tuple(rig.logic.effectList()[1]->effectName, rig.logic.effectList()[1]->effectUsedTimes), std::tuple("c", 1));
}

// Counted over an unread patch list every count would read 0.
TEST(EffectScreenLogicTest, CountsWaitForTheUnitsPatchList)
{
    LogicRig rig;
    rig.patchesRead = false;
    rig.logic.setEffectList({effect("a", 1), effect("b", 2)});
    rig.logic.setIsEffectListLoaded(true);
    rig.logic.effectList()[0]->effectUsedTimes = 9;
    rig.logic.reloadDataInEffectList();
    EXPECT_TRUE(rig.background.empty() && !rig.logic.isUpdatedEffectUsedTimesNumber()) << "no count over an unread list";
    EXPECT_EQ(rig.logic.itemForRightClickAtIndex(0)->effectUsedTimes, 9) << "not counted as 0";
    std::vector<std::int64_t> asked;
    const auto item = rig.logic.effectList()[0];
    rig.logic.whenUsedTimesAreCounted([&] { asked.push_back(item->effectUsedTimes); });
    EXPECT_TRUE(asked.empty());
    rig.patchesRead = true;
    rig.patches = {patchUsing({1, 2}), patchUsing({1}), patchUsing({1})};
    rig.logic.reloadDataInEffectList();
    LogicRig::runAll(rig.background);
    EXPECT_TRUE(asked.empty()) << "the count is not in yet";
    LogicRig::runAll(rig.main);
    EXPECT_EQ(asked, std::vector<std::int64_t>{3});
    rig.logic.whenUsedTimesAreCounted([&] { asked.push_back(-1); });
    EXPECT_EQ(asked.size(), 2u) << "known counts: at once";
    rig.patchesRead = false;
    rig.logic.reloadDataInEffectList();
    rig.logic.whenUsedTimesAreCounted([&] { asked.push_back(-2); });
    rig.connected = false;
    rig.logic.reloadDataInEffectList();
    rig.connected = true;
    rig.patchesRead = true;
    rig.logic.reloadDataInEffectList();
    LogicRig::runAll(rig.background);
    LogicRig::runAll(rig.main);
    EXPECT_EQ(asked.size(), 2u) << "the device went: the waiting question with it";
}

TEST(EffectScreenLogicTest, ReloadWithoutDeviceCountsNothingAndAGoneScreenTakesNoCount)
{
    LogicRig rig;
    rig.logic.setEffectList({effect("a", 1)});
    rig.connected = false;
    rig.logic.reloadDataInEffectList();
    EXPECT_TRUE(rig.background.empty() && !rig.logic.isUpdatedEffectUsedTimesNumber());
    std::vector<EffectScreenLogic::Task> main;
    {
        LogicRig gone;
        gone.logic.setEffectList({effect("a", 1)});
        gone.logic.reloadDataInEffectList();
        LogicRig::runAll(gone.background);
        main = std::exchange(gone.main, {});
    }
    LogicRig::runAll(main);  // must not touch the destroyed screen
}

TEST(EffectScreenLogicTest, RowActionsChangeTheItemThenQueueTheEdit)
{
    // The action; the log, b's favourite and deleted marks and the selection it leaves.
    const std::tuple<const char*, std::function<void(LogicRig&)>, std::vector<std::string>, bool, bool, std::vector<std::size_t>> cases[] = {
        {"star", [](LogicRig& r) { r.logic.didClickFavouriteInRow(1); }, {"favourite on b"}, true, false, {1}},
        {"star of the unknown effect", [](LogicRig& r) { r.logic.didClickFavouriteInRow(2); }, {}, false, false, {}},
        {"delete keeps the row", [](LogicRig& r) { r.logic.deleteEffectAtRow(1); }, {"delete b"}, false, true, {}},
        {"recover within capacity",
         [](LogicRig& r) {
             r.logic.effectList()[1]->isDeleted = true;
             r.logic.didClickRecoveryInRow(1);
         },
         {"recover b"}, false, false, {1}},
        {"recover when full",
         [](LogicRig& r) {
             r.logic.effectList()[1]->isDeleted = true;
             r.coordinator.existing = 100;
             r.logic.recoverEffectAtRow(1);
         },
         {"information Main_EffectFilesIsFull"}, false, true, {}},
        {"recover with no capacity learnt",
         [](LogicRig& r) {
             r.logic.effectList()[1]->isDeleted = true;
             r.coordinator.maximum = -1;
             r.logic.recoverEffectAtRow(1);
         },
         {"information Main_EffectFilesIsFull"}, false, true, {}},
        {"rows past the list are ignored", [](LogicRig& r) { r.logic.deleteEffectAtRow(7); r.logic.recoverEffectAtRow(7); },
         {}, false, false, {}},
        // While the unit is being let go nothing reaches it, so nothing shows as done.
        {"star while the unit goes", [](LogicRig& r) { r.unitGoing = true; r.logic.setFavouriteItem(true, 1); },
         {}, false, false, {}},
        {"delete while the unit goes", [](LogicRig& r) { r.unitGoing = true; r.logic.deleteEffectAtRow(1); },
         {}, false, false, {}},
        {"recover while the unit goes",
         [](LogicRig& r) { r.logic.effectList()[1]->isDeleted = r.unitGoing = true; r.logic.recoverEffectAtRow(1); },
         {}, false, true, {}},
    };
    for (const auto& [name, act, log, favourite, deleted, selection] : cases) {
        SCOPED_TRACE(name);
        LogicRig rig;
        rig.logic.setEffectList({effect("a", 1), effect("b", 2), effect("UNKNOWN", 9, EffectItem::kUnknownCategoryID)});
        act(rig);
        EXPECT_EQ(rig.log, log);
        EXPECT_EQ(std::pair(rig.logic.effectList()[1]->isFavourite, rig.logic.effectList()[1]->isDeleted), std::pair(favourite, deleted));
        EXPECT_EQ(rig.views.selection, selection);
    }
}

TEST(EffectScreenLogicTest, ConfirmedRecoveryReachesTheEffectWhereverASortMovedIt)
{
    LogicRig rig;
    rig.logic.setEffectList({effect("b", 2), effect("a", 1)});
    rig.logic.effectList()[0]->isDeleted = true;
    rig.logic.didClickOnRecoveryButtonAtIndex(0);
    EXPECT_EQ(rig.log, (std::vector<std::string>{"confirm Effect_LoadingToDeviceConfirmation b (first default)"}));
    rig.logic.didClickTableColumn("EffectName");
    rig.dialogs.first();
    EXPECT_EQ(rig.log.back(), "recover b");
    EXPECT_FALSE(rig.logic.effectList()[1]->isDeleted);
}

TEST(EffectScreenLogicTest, PoolEffectsMayBeDraggedWhenNewOrDeletedInTheList)
{
    LogicRig rig;
    rig.logic.setEffectList({effect("loaded", 1), effect("deleted", 2), effect("UNKNOWN", 3, EffectItem::kUnknownCategoryID)});
    rig.logic.effectList()[1]->isDeleted = true;
    EXPECT_TRUE(rig.logic.canDragEffectItem(*effect("new", 4)));
    EXPECT_FALSE(rig.logic.canDragEffectItem(*effect("loaded", 1)));
    EXPECT_TRUE(rig.logic.canDragEffectItem(*effect("deleted", 2)));
    EXPECT_FALSE(rig.logic.canDragEffectItem(*effect("unknown", 3)));
}

TEST(EffectScreenLogicTest, ResetClearsTheMarksOfAllThreeLevelsAndReloadsSetTheLoadButton)
{
    LogicRig rig;
    auto newEffect = leaf(effect("n", 5));
    newEffect->isNew = true;
    newEffect->isIncompatible = true;
    auto category = groupNode("Delay", {newEffect});
    category->hasNewChild = true;
    auto model = groupNode("Rig One", {category});
    model->hasNewChild = true;
    model->isIncompatible = true;
    rig.logic.setStructureData({model});
    rig.logic.setIsEffectListLoaded(true);
    rig.views.poolSelection = {newEffect};
    rig.logic.resetEffectPoolState();
    for (const auto& node : {model, category, newEffect}) EXPECT_FALSE(node->isNew || node->hasNewChild || node->isIncompatible);
    EXPECT_TRUE(rig.views.panel.loadEnabled) << "the reset made the selected effect compatible";
    rig.connected = false;
    rig.logic.reloadDataInEffectPool();
    EXPECT_FALSE(rig.views.panel.loadEnabled);
}

TEST(EffectScreenLogicTest, FirstAppearanceWaitsForTheMainQueueLaterOnesDoNot)
{
    LogicRig rig;
    rig.logic.setEffectList({effect("a", 1)});
    rig.logic.viewDidAppear();
    EXPECT_TRUE(rig.views.calls.empty());
    LogicRig::runAll(rig.main);
    EXPECT_EQ(rig.views.calls, (std::vector<std::string>{"scrollTo 0", "validateRuler"}));
    rig.logic.viewDidAppear();
    EXPECT_EQ(rig.views.calls, (std::vector<std::string>{"scrollTo 0", "validateRuler", "scrollTo 0", "validateRuler"}));
}

// The count reads only its copies, so the thread sanitizer sees no shared data.
TEST(EffectScreenLogicTest, CountOnItsOwnThreadWhileTheListChanges)
{
    LogicRig rig;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::vector<EffectScreenLogic::Task> arrived;
    EffectScreenLogic logic{EffectScreenLogic::Collaborators{
        rig.coordinator, rig.dialogs, rig.views, [] { return true; }, [&rig] { return rig.patches; },
        [&threads](EffectScreenLogic::Task task) { threads.emplace_back(std::move(task)); },
        [&mutex, &arrived](EffectScreenLogic::Task task) {
            std::lock_guard lock(mutex);
            arrived.push_back(std::move(task));
        },
        [] { return true; }}};
    logic.awakeFromNib();
    logic.setEffectList({effect("a", 1), effect("b", 2)});
    rig.patches = {patchUsing({1, 2}), patchUsing({2})};
    logic.reloadDataInEffectList();
    for (int i = 0; i < 50; ++i) {
        logic.effectList()[0]->effectUsedTimes = i;
        logic.effectList()[1]->isFavourite = i % 2 == 0;
        rig.patches.front()->effectDictionnary.erase("slot 1");
        logic.effectList().push_back(effect("n" + std::to_string(i), 100 + static_cast<std::uint32_t>(i)));
    }
    for (auto& thread : threads) thread.join();
    LogicRig::runAll(arrived);  // every thread has ended
    EXPECT_TRUE(logic.isUpdatedEffectUsedTimesNumber());
    EXPECT_EQ(std::tuple(logic.effectList()[0]->effectUsedTimes, logic.effectList()[1]->effectUsedTimes), std::tuple(1, 2));
}

using Log = std::vector<std::string>;

std::shared_ptr<EffectItem> deletedEffect(const std::string& name, std::uint32_t type, bool favourite, std::int64_t used)
{
    auto item = effect(name, type, 1, used, favourite);
    item->isDeleted = true;
    return item;
}

TEST(EffectAddingTest, AddingFollowsTheChecksInOrder)
{
    struct Case {
        const char* name;
        bool connected = true;
        bool loaded = true;
        std::uint32_t existing = 2;
        std::int32_t maximum = 10;
        std::uint32_t type;
        std::int64_t row;
        Log log;
        std::vector<std::string> order;
        std::vector<std::size_t> selection;
    };
    const std::vector<Case> cases{
        {"no device: nothing", false, true, 2, 10, 2, 1, {}, {"a", "d", "c"}, {}},
        {"list unread: nothing", true, false, 2, 10, 2, 1, {}, {"a", "d", "c"}, {}},
        {"full: the dialog alone", true, true, 10, 10, 2, 1, {"information Main_EffectFilesIsFull"}, {"a", "d", "c"}, {}},
        {"an unlearnt capacity holds nothing", true, true, 0, -1, 2, 1, {"information Main_EffectFilesIsFull"},
         {"a", "d", "c"}, {}},
        {"new: inserted, added, sorted and selected", true, true, 2, 10, 2, 0, {"add new"}, {"a", "new", "c", "d"}, {1}},
        {"new on a row past the end: the end", true, true, 2, 10, 2, 9, {"add new"}, {"a", "new", "c", "d"}, {1}},
        {"deleted: recovered in place, unsorted", true, true, 2, 10, 4, 0, {"recover new"}, {"a", "new", "c"}, {1}},
        {"loaded: nothing", true, true, 2, 10, 1, 0, {}, {"a", "d", "c"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogicRig rig;
        rig.connected = c.connected;
        rig.coordinator.existing = c.existing;
        rig.coordinator.maximum = c.maximum;
        rig.logic.setIsEffectListLoaded(c.loaded);
        // Out of the sort's order on purpose: a recovery must not sort.
        rig.logic.setEffectList({effect("a", 1), deletedEffect("d", 4, true, 7), effect("c", 3)});
        rig.patches = {patchUsing({2}), patchUsing({2, 1})};
        auto added = effect("new", c.type);
        rig.logic.addItemByDraggingBlock(added, c.row);
        EXPECT_EQ(rig.log, c.log);
        EXPECT_EQ(rig.names(), c.order);
        EXPECT_EQ(rig.views.selection, c.selection);
        const bool changed = !c.log.empty() && c.log.front().rfind("information", 0) != 0;
        if (changed) {
            const std::size_t row = c.selection.front();
            EXPECT_EQ(rig.logic.effectList()[row], added);
            EXPECT_NE(std::find(rig.views.calls.begin(), rig.views.calls.end(), "scrollTo " + std::to_string(row)),
                      rig.views.calls.end());
        }
        if (c.type == 4) {
            // The recovered effect keeps the entry's favourite and count.
            EXPECT_TRUE(added->isFavourite);
            EXPECT_EQ(added->effectUsedTimes, 7);
        } else if (changed) {
            // A new effect is counted at once.
            EXPECT_EQ(added->effectUsedTimes, 2);
        }
        // Past the checks the list always gives up the focus.
        const bool passedChecks = c.connected && c.loaded && c.existing < static_cast<std::uint32_t>(std::max(c.maximum, 0));
        EXPECT_EQ(std::count(rig.views.calls.begin(), rig.views.calls.end(), "resignFocus"), passedChecks ? 1 : 0);
    }
}

// The count read from the device lags behind the drops.
TEST(EffectAddingTest, OneFreePlaceTakesOneOfTwoDroppedEffects)
{
    LogicRig rig;
    rig.coordinator.existing = 1;
    rig.coordinator.maximum = 2;
    rig.logic.setIsEffectListLoaded(true);
    rig.logic.setEffectList({effect("a", 1)});
    rig.logic.addItemByDraggingBlock(effect("x", 5), 1);
    rig.logic.addItemByDraggingBlock(effect("y", 6), 2);
    EXPECT_EQ(rig.log, (Log{"add x", "information Main_EffectFilesIsFull"}));
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"a", "x"}));
}

TEST(EffectAddingTest, NewMarksGoInEveryModelAndCategory)
{
    LogicRig rig;
    rig.logic.setIsEffectListLoaded(true);
    auto x1 = leaf(effect("x", 9)), y1 = leaf(effect("y", 8)), x2 = leaf(effect("x", 9)), x3 = leaf(effect("x", 9));
    for (const auto& node : {x1, y1, x2, x3}) node->isNew = true;
    auto both = groupNode("Both", {x1, y1}), onlyX = groupNode("OnlyX", {x2}), other = groupNode("Other", {x3});
    auto one = groupNode("One", {both, onlyX}), two = groupNode("Two", {other});
    for (const auto& node : {both, onlyX, other, one, two}) node->hasNewChild = true;
    rig.logic.setStructureData({one, two});
    rig.logic.addItemByDraggingBlock(effect("x", 9), 0);
    EXPECT_EQ(std::tuple(x1->isNew, x2->isNew, x3->isNew, y1->isNew), std::tuple(false, false, false, true));
    EXPECT_EQ(std::tuple(both->hasNewChild, onlyX->hasNewChild, one->hasNewChild, other->hasNewChild, two->hasNewChild),
              std::tuple(true, false, true, false, false));
    EXPECT_NE(std::find(rig.views.calls.begin(), rig.views.calls.end(), "reloadPool"), rig.views.calls.end());
}

TEST(EffectAddingTest, LoadButtonTakesOneCompatibleEffect)
{
    auto echo = leaf(effect("Echo", 11)), wah = leaf(effect("Wah", 12)), odd = leaf(effect("Odd", 13));
    odd->isIncompatible = true;
    auto delay = groupNode("Delay", {echo, wah, odd});
    const std::tuple<const char*, std::vector<std::shared_ptr<DirectoryObject>>, Log> cases[] = {
        {"none", {}, {}}, {"a group", {delay}, {}}, {"two", {echo, wah}, {}}, {"incompatible", {odd}, {}}, {"one", {echo}, {"add Echo"}}};
    for (const auto& [name, selection, log] : cases) {
        SCOPED_TRACE(name);
        LogicRig rig;
        rig.logic.setIsEffectListLoaded(true);
        rig.logic.setStructureData({groupNode("Rig", {delay})});
        rig.views.poolSelection = selection;
        rig.logic.didClickSaveToDeviceButton();
        EXPECT_EQ(rig.log, log);
        if (!log.empty()) {
            ASSERT_EQ(rig.logic.effectList().size(), 1u);
            EXPECT_NE(rig.logic.effectList()[0].get(), echo->effectItem());
        }
    }
    LogicRig rig;
    rig.logic.setStructureData({groupNode("Rig", {delay})});
    const auto own = rig.logic.poolItemOfType(12);
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->effectName == "Wah" && own.get() != wah->effectItem()) << "a copy of the pool's own";
    EXPECT_FALSE(rig.logic.poolItemOfType(99));
}

TEST(EffectAddingTest, MenuAnswersFindTheirEffectAgainAndCheckTheirIndex)
{
    const std::tuple<const char*, std::function<void(EffectScreenLogic&, const std::shared_ptr<EffectItem>& b)>, Log> cases[] = {
        {"favourite after a sort", [](auto& logic, auto& b) { logic.didClickOnFavoriteButton(true, 0, b); },
         {"favourite on b"}},
        {"favourite out of range", [](auto& logic, auto&) { logic.didClickOnFavoriteButton(true, 7); }, {}},
        {"favourite of the unknown effect", [](auto& logic, auto&) { logic.didClickOnFavoriteButton(true, 2); }, {}},
        {"delete after a sort", [](auto& logic, auto& b) { logic.didClickOnDeletingButtonAtIndex(0, b); },
         {"delete b"}},
        {"delete out of range", [](auto& logic, auto&) { logic.didClickOnDeletingButtonAtIndex(3); }, {}},
        {"delete of a gone effect", [](auto& logic, auto&) { logic.didClickOnDeletingButtonAtIndex(0, effect("z", 9)); },
         {}},
        // An update put a new object in b's row under the question: the answer is for the effect.
        {"delete of a replaced effect",
         [](auto& logic, auto&) { logic.didClickOnDeletingButtonAtIndex(0, effect("b", 2)); }, {"delete b"}},
        {"recovery asks", [](auto& logic, auto& b) { logic.didClickOnRecoveryButtonAtIndex(0, b); },
         {"confirm Effect_LoadingToDeviceConfirmation b (first default)"}},
        {"recovery out of range", [](auto& logic, auto&) { logic.didClickOnRecoveryButtonAtIndex(30); }, {}},
        {"property", [](auto& logic, auto& b) { logic.didClickOnPropertyButtonAtIndex(0, b); }, {"property b"}},
        {"property by row", [](auto& logic, auto&) { logic.didClickOnPropertyButtonAtIndex(0); }, {"property a"}},
        {"property of the unknown effect", [](auto& logic, auto&) { logic.didClickOnPropertyButtonAtIndex(2); }, {}},
        {"property out of range", [](auto& logic, auto&) { logic.didClickOnPropertyButtonAtIndex(3); }, {}},
    };
    for (const auto& [name, act, log] : cases) {
        SCOPED_TRACE(name);
        LogicRig rig;
        auto b = effect("b", 2);
        // The menu was opened on row 0 for b; a sort has moved b to row 1 since.
        rig.logic.setEffectList({effect("a", 1), b, effect("UNKNOWN", 3, EffectItem::kUnknownCategoryID)});
        act(rig.logic, b);
        EXPECT_EQ(rig.log, log);
    }
}

TEST(EffectAddingTest, RecoveryAsksBeforeTheCapacityAndDeletingHasNone)
{
    LogicRig rig;
    rig.coordinator.existing = 5;
    rig.coordinator.maximum = 5;
    auto gone = deletedEffect("gone", 2, false, 0);
    rig.logic.setEffectList({effect("a", 1), gone});
    rig.logic.didClickOnRecoveryButtonAtIndex(1, gone);
    ASSERT_EQ(rig.log.size(), 1u);
    rig.dialogs.first();
    EXPECT_EQ(rig.log.back(), "information Main_EffectFilesIsFull");
    EXPECT_TRUE(gone->isDeleted);
    rig.logic.didClickOnDeletingButtonAtIndex(0, rig.logic.effectList()[0]);
    EXPECT_EQ(rig.log.back(), "delete a");
    EXPECT_TRUE(rig.logic.effectList()[0]->isDeleted);
}

// So the delete question never says 0 for an effect that patches use.
TEST(EffectAddingTest, RightClickCountsTheEffectWhileTheCountsAreNotIn)
{
    LogicRig rig;
    rig.logic.setEffectList({effect("a", 1)});
    rig.patches = {patchUsing({1}), patchUsing({1, 2}), patchUsing({3})};
    const auto item = rig.logic.itemForRightClickAtIndex(0);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->effectUsedTimes, 2);
    EXPECT_FALSE(rig.logic.itemForRightClickAtIndex(1));
}

}  // namespace
