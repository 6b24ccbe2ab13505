// An undo is a gesture like any other: each kind that can change what the pool holds marks the pool
// changed and moves its change count, so that a save which took its copy before the undo does not clear
// the mark when it lands, and the quit writes what the undo put back.

#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"
#include "PatchCases.h"
#include "support/app/PatchScreenRig.h"

namespace {

using namespace testing_app;

// The pool the records act on: "Warm Pad" and "Octaver" at the top, the group "Set" holding "Lead".
struct Pool {
    Node warm = patchNode("Warm Pad"), octaver = patchNode("Octaver"), lead = patchNode("Lead"), set = groupNode("Set", {lead});
};

std::shared_ptr<ChangeTextAction> text(UndoAction::Object item, std::string old, std::string now, std::int64_t type)
{
    auto record = std::make_shared<ChangeTextAction>(std::move(item), std::move(old), std::move(now), type);
    record->mOldSecondText = "old comment";
    return record;
}

std::shared_ptr<DeleteAction> deletion(Node node, Node group, std::uint64_t index, std::int64_t type)
{
    return std::make_shared<DeleteAction>(std::move(node), std::move(group), index, type);
}

using PatchScreenUndoMarksPool = testing_app::PatchScreenRig;

TEST_F(PatchScreenUndoMarksPool, EveryUndoButASelectionsMarksThePoolChanged)
{
    // The record takes the pool and the list's patches as the gesture left them.
    struct Case {
        const char* name;
        std::function<std::shared_ptr<UndoAction>(Pool&, const PatchScreen::PatchItems&)> record;
        bool marks;
    };
    const auto reorder = [](Pool&, const auto& list) {
        auto move = std::make_shared<ChangePositionAction>();
        move->mType = 1;
        move->setUpOldList({list[1], list[0], list[2], list[3]});
        move->changedRange = {0, 2};
        return move;
    };
    const auto poolMove = [](Pool& pool, const auto&) {
        auto move = std::make_shared<ChangePositionAction>();
        move->mType = 4;
        move->setUpOldList({pool.warm, pool.octaver, pool.set});
        move->mOldParentList.push_back({pool.set, {pool.lead}});
        move->mMovedPatchItemList.push_back({"", pool.octaver});
        return move;
    };
    const auto added = [](std::vector<UndoAction::Object> items, UndoAction::Object group, std::int64_t type) {
        return std::make_shared<AddToPatchPoolAction>(std::move(items), std::move(group), type);
    };
    const std::vector<Case> cases{
        {"list rename", [](Pool&, const auto& list) { return text(list[1], "P1", "Renamed", 1); }, true},
        {"list comment", [](Pool&, const auto& list) { return text(list[1], "C1", "New", 2); }, true},
        {"list sheet", [](Pool&, const auto& list) { return text(list[2], "P2", "Sheet", 5); }, true},
        {"list reorder", reorder, true},
        {"pool rename", [](Pool& pool, const auto&) { pool.warm->name = "Pad Lead"; return text(pool.warm, "Warm Pad", "Pad Lead", 3); },
         true},
        {"group rename", [](Pool& pool, const auto&) { pool.set->name = "Gig"; return text(pool.set, "Set", "Gig", 4); }, true},
        {"pool sheet", [](Pool& pool, const auto&) { return text(pool.octaver, "Octaver", "Oct", 6); }, true},
        {"pool move", poolMove, true},
        {"restore into the list",
         [](Pool&, const auto&) { return std::make_shared<DragFromPoolToListAction>(std::vector<UndoAction::Object>{patchItem("Old")}, 1); },
         true},
        {"rows saved into a group", [&](Pool& pool, const auto&) { return added({pool.lead}, pool.set, 1); }, true},
        {"drop still read",
         [&](Pool&, const auto&) {
             auto add = added({}, std::monostate{}, 2);
             add->mPending = std::make_shared<AddToPatchPoolAction::Pending>();
             return add;
         },
         true},
        {"new group", [&](Pool& pool, const auto&) { return added({pool.set}, std::monostate{}, 3); }, true},
        {"patch deleted", [](Pool&, const auto&) { return deletion(patchNode("Gone"), nullptr, 1, 0); }, true},
        {"patch deleted from a group", [](Pool& pool, const auto&) { return deletion(patchNode("Gone"), pool.set, 0, 0); }, true},
        {"group deleted", [](Pool&, const auto&) { return deletion(groupNode("Old Set"), nullptr, 0, 1); }, true},
        {"several deleted",
         [](Pool&, const auto&) {
             auto several = deletion(nullptr, nullptr, 0, 2);
             several->deletedActions = {deletion(patchNode("A"), nullptr, 0, 0), deletion(groupNode("B"), nullptr, 1, 1)};
             return several;
         },
         true},
        // A failed undo leaves the newer state, which the mark covers too: what the save writes is the pool
        // as it shows.
        {"undo that fails", [](Pool&, const auto&) { return deletion(patchNode("Far"), nullptr, 99, 0); }, true},
        {"list selection", [](Pool&, const auto&) { return std::make_shared<SelectionAction>(std::vector<std::int64_t>{2}); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load(4);
        Pool pool;
        screen->setStructureData({pool.warm, pool.octaver, pool.set});
        undo.addActionStack(c.record(pool, screen->patchItems()));
        // A save landed with nothing changed since its copy was taken.
        appDelegate.setIsPatchPoolChanged(false);
        const std::uint64_t before = appDelegate.patchPoolChanges();
        undo.doUndoAction();
        EXPECT_EQ(appDelegate.isPatchPoolChanged(), c.marks);
        EXPECT_EQ(appDelegate.patchPoolChanges() != before, c.marks);
        EXPECT_FALSE(undo.canBeUndo());
    }
}

// Whichever route asks it (either option menu's Undo button), the undo is counted once per record.
TEST_F(PatchScreenUndoMarksPool, EachUndoButtonCountsItsUndoOnce)
{
    load(4);
    Pool pool;
    screen->setStructureData({pool.warm, pool.octaver, pool.set});
    undo.addActionStack(text(pool.octaver, "Octaver", "Oct", 6));
    undo.addActionStack(text(pool.warm, "Warm Pad", "Pad Lead", 3));
    appDelegate.setIsPatchPoolChanged(false);
    const std::uint64_t before = appDelegate.patchPoolChanges();
    screen->didClickOnUndoButtonAtItem(screen->rightPanelOutlineView(), nullptr, nullptr);
    EXPECT_EQ(appDelegate.patchPoolChanges(), before + 1);
    appDelegate.setIsPatchPoolChanged(false);
    screen->didClickOnUndoButtonAtIndex(*screen->patchManagerTableView(), 0);
    EXPECT_EQ(appDelegate.patchPoolChanges(), before + 2);
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());
}

}  // namespace
