#include <gtest/gtest.h>

#include "EffectScreenFakes.h"

using namespace effect_test;

namespace {

using Log = std::vector<std::string>;

std::shared_ptr<EffectItem> deletedEffect(const std::string& name, std::uint32_t type, bool favourite, std::int64_t used)
{
    auto item = effect(name, type, 1, used, favourite);
    item->isDeleted = true;
    return item;
}

// One pool effect dropped (or loaded) onto the list, from each state the screen can be in.
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

// The count read from the device lags behind: a drop of two effects onto one free place adds one.
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

// Loading an effect clears its NEW mark wherever the pool lists it, and a group's mark once none of its
// effects is new.
TEST(EffectAddingTest, NewMarksGoInEveryModelAndCategory)
{
    LogicRig rig;
    rig.logic.setIsEffectListLoaded(true);
    const auto marked = [](std::shared_ptr<DirectoryObject> node) {
        node->isNew = true;
        return node;
    };
    auto x1 = marked(leaf(effect("x", 9))), y1 = marked(leaf(effect("y", 8))), x2 = marked(leaf(effect("x", 9)));
    auto x3 = marked(leaf(effect("x", 9)));
    auto both = group("Both", {x1, y1}), onlyX = group("OnlyX", {x2}), other = group("Other", {x3});
    auto one = group("One", {both, onlyX}), two = group("Two", {other});
    for (const auto& node : {both, onlyX, other, one, two}) node->hasNewChild = true;
    rig.logic.setStructureData({one, two});
    rig.logic.addItemByDraggingBlock(effect("x", 9), 0);
    EXPECT_FALSE(x1->isNew);
    EXPECT_FALSE(x2->isNew);
    EXPECT_FALSE(x3->isNew);
    EXPECT_TRUE(y1->isNew);
    EXPECT_TRUE(both->hasNewChild);
    EXPECT_FALSE(onlyX->hasNewChild);
    EXPECT_TRUE(one->hasNewChild);
    EXPECT_FALSE(other->hasNewChild);
    EXPECT_FALSE(two->hasNewChild);
    EXPECT_NE(std::find(rig.views.calls.begin(), rig.views.calls.end(), "reloadPool"), rig.views.calls.end());
}

// The Load button adds a copy of the one selected compatible pool effect at row 0, and nothing else.
TEST(EffectAddingTest, LoadButtonTakesOneCompatibleEffect)
{
    auto echo = leaf(effect("Echo", 11)), wah = leaf(effect("Wah", 12)), odd = leaf(effect("Odd", 13));
    odd->isIncompatible = true;
    auto delay = group("Delay", {echo, wah, odd});
    struct Case {
        const char* name;
        std::vector<std::shared_ptr<DirectoryObject>> selection;
        Log log;
    };
    for (const Case& c : {Case{"none", {}, {}}, Case{"a group", {delay}, {}}, Case{"two", {echo, wah}, {}},
                          Case{"incompatible", {odd}, {}}, Case{"one", {echo}, {"add Echo"}}}) {
        SCOPED_TRACE(c.name);
        LogicRig rig;
        rig.logic.setIsEffectListLoaded(true);
        rig.logic.setStructureData({group("Rig", {delay})});
        rig.views.poolSelection = c.selection;
        rig.logic.didClickSaveToDeviceButton();
        EXPECT_EQ(rig.log, c.log);
        if (!c.log.empty()) {
            ASSERT_EQ(rig.logic.effectList().size(), 1u);
            EXPECT_NE(rig.logic.effectList()[0].get(), echo->effectItem());
        }
    }
    LogicRig rig;
    rig.logic.setStructureData({group("Rig", {delay})});
    const auto own = rig.logic.poolItemOfType(12);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->effectName, "Wah");
    EXPECT_NE(own.get(), wah->effectItem());
    EXPECT_FALSE(rig.logic.poolItemOfType(99));
}

// The option menu's answers act on the effect it was opened for, wherever it is now, and on nothing
// once it has gone; without an effect they need an index inside the list.
TEST(EffectAddingTest, MenuAnswersFindTheirEffectAgainAndCheckTheirIndex)
{
    struct Case {
        const char* name;
        std::function<void(EffectScreenLogic&, const std::shared_ptr<EffectItem>& b)> act;
        Log log;
    };
    const std::vector<Case> cases{
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogicRig rig;
        auto b = effect("b", 2);
        // The menu was opened on row 0 for b; a sort has moved b to row 1 since.
        rig.logic.setEffectList({effect("a", 1), b, effect("UNKNOWN", 3, EffectItem::kUnknownCategoryID)});
        c.act(rig.logic, b);
        EXPECT_EQ(rig.log, c.log);
    }
}

// Recovering from the menu asks first and checks the capacity on OK; deleting checks none.
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

// The menu's effect is counted before the menu shows while the counts are not in, so the delete question
// never says 0 for an effect that patches use.
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
