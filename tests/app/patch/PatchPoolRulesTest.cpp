#include <gtest/gtest.h>

#include <set>

#include "app/patch/PatchPoolRules.h"
#include "library/models/BankItem.h"
#include "library/models/DirectoryObject.h"

namespace {

using Node = std::shared_ptr<DirectoryObject>;

Node node(const std::string& name, bool group = false, bool incompatible = false)
{
    auto made = std::make_shared<DirectoryObject>();
    made->name = name;
    made->isGroup = group;
    made->isIncompatible = incompatible;
    return made;
}

PatchPoolRules::BankItems banks(int count)
{
    PatchPoolRules::BankItems items;
    // A negative count: one slot with an empty label.
    if (count < 0) return {std::make_shared<BankItem>()};
    for (int i = 0; i < count; ++i) {
        auto bank = std::make_shared<BankItem>();
        bank->bankName = "b" + std::to_string(i + 1);
        items.push_back(bank);
    }
    return items;
}

TEST(PatchPoolRulesTest, BackupAllChildrenAreLabelledWithTheSlotTheyRestoreInto)
{
    const Node group = node("Backup", true);
    group->isBackUpAllGroup = true;
    const Node p1 = node("P1"), p2 = node("P2", false, true), p3 = node("P3");
    group->childDirectories = {p1, p2, p3};
    const Node ordinary = node("Drums", true);
    ordinary->childDirectories = {node("P4")};
    struct Case {
        Node item;
        const DirectoryObject* parent;
        int slots;
        const DirectoryObject* editing;
        std::string text;
        bool incompatible;
    };
    const Case cases[] = {
        {p1, group.get(), 50, nullptr, "b1: P1", false},
        {p2, group.get(), 50, nullptr, "P2", true},
        {p3, group.get(), 50, nullptr, "b2: P3", false},
        {p1, group.get(), 1, nullptr, "b1: P1", false},
        {p3, group.get(), 1, nullptr, "P3", false},
        {p3, group.get(), 0, nullptr, "P3", false},
        {p1, group.get(), -1, nullptr, "P1", false},
        // The row being renamed shows the name alone.
        {p3, group.get(), 50, p3.get(), "P3", false},
        {ordinary->childDirectories[0], ordinary.get(), 50, nullptr, "P4", false},
        {p1, nullptr, 50, nullptr, "P1", false},
    };
    for (const Case& c : cases) {
        const auto title = PatchPoolRules::titleForItem(*c.item, c.parent, c.editing, banks(c.slots));
        EXPECT_EQ(title.text, c.text) << *c.item->name << " with " << c.slots << " slots";
        EXPECT_EQ(title.incompatible, c.incompatible) << *c.item->name;
    }
}

TEST(PatchPoolRulesTest, CtrlClickJoinsOnlyPatchesOfTheSameParent)
{
    // Rows: 0 top patch A, 1 top patch B, 2 group G, 3 G/C, 4 G/D, 5 group H, 6 H/E, 7 top patch F.
    const Node a = node("A"), b = node("B"), g = node("G", true), c = node("C"), d = node("D"), h = node("H", true),
               e = node("E"), f = node("F");
    g->childDirectories = {c, d};
    h->childDirectories = {e};
    const std::vector<PatchPoolRules::Row> rows = {{a.get(), nullptr}, {b.get(), nullptr}, {g.get(), nullptr},
                                                   {c.get(), g.get()}, {d.get(), g.get()}, {h.get(), nullptr},
                                                   {e.get(), h.get()}, {f.get(), nullptr}};
    const auto rowAt = [&](int row) { return rows[static_cast<std::size_t>(row)]; };
    struct Case {
        std::vector<int> selected;
        int clicked;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{0, 1}, 1, {0}},          // a selected row leaves the selection
        {{0}, 2, {2}},             // a group is selected alone
        {{3}, 4, {3, 4}},          // a patch of the same group joins
        {{0}, 7, {0, 7}},          // top-level patches share the top level
        {{2}, 3, {3}},             // a group selected: the patch alone
        {{3}, 6, {6}},             // a patch of another group: alone
        {{3}, 0, {0}},             // a group's patch and a top-level patch differ
        {{}, 4, {4}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PatchPoolRules::commandClickSelection(c.selected, c.clicked, rowAt), c.expected)
            << "clicked " << c.clicked;
}

TEST(PatchPoolRulesTest, ADragCarriesTheSelectionOnlyWhenPressedInsideIt)
{
    struct Case {
        const char* name;
        std::vector<int> selected;
        int pressed;
        std::vector<int> dragged;
    };
    const Case cases[] = {
        {"pressed on a selected row: the selection", {1, 3, 4}, 3, {1, 3, 4}},
        {"pressed outside it: the row pressed", {1, 3}, 2, {2}},
        {"nothing selected: the row pressed", {}, 5, {5}},
        {"below the rows: nothing", {1}, -1, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(PatchPoolRules::draggedRows(c.selected, c.pressed), c.dragged) << c.name;
}

TEST(PatchPoolRulesTest, RestoreAllModeFollowsTheFirstSelectedRowAndClicksInsideTheSelection)
{
    const Node backup = node("Backup", true);
    backup->isBackUpAllGroup = true;
    const Node group = node("Drums", true), patch = node("P");
    EXPECT_TRUE(PatchPoolRules::restoreAllModeForSelection(backup.get()));
    EXPECT_FALSE(PatchPoolRules::restoreAllModeForSelection(group.get()));
    EXPECT_FALSE(PatchPoolRules::restoreAllModeForSelection(patch.get()));
    EXPECT_FALSE(PatchPoolRules::restoreAllModeForSelection(nullptr));
    EXPECT_EQ(PatchPoolRules::restoreAllModeForClick(backup.get(), true), true);
    EXPECT_EQ(PatchPoolRules::restoreAllModeForClick(patch.get(), true), false);
    EXPECT_EQ(PatchPoolRules::restoreAllModeForClick(backup.get(), false), std::nullopt);
}

TEST(PatchPoolRulesTest, EntriesAreWalkedForwardAboveAndOntoAndBackwardBelow)
{
    for (const std::int64_t position : {0, 1, 2}) {
        std::vector<std::int64_t> walked;
        for (std::int64_t i = PatchPoolRules::getStartPointWithArrayCount(3, position);
             PatchPoolRules::getStopConditionArrayCount(3, i, position);
             i = PatchPoolRules::getNextPointWithIterator(i, position))
            walked.push_back(i);
        const std::vector<std::int64_t> expected =
            position == 2 ? std::vector<std::int64_t>{2, 1, 0} : std::vector<std::int64_t>{0, 1, 2};
        EXPECT_EQ(walked, expected);
    }
}

TEST(PatchPoolRulesTest, ADropOntoADraggedItemGoesBelowTheNearestItemAboveNotDragged)
{
    const Node a = node("A"), b = node("B"), c = node("C"), d = node("D");
    const PatchPoolRules::Nodes container = {a, b, c, d};
    const PoolSelectionEntries dragged = {{nullptr, b}, {nullptr, c}};
    auto drop = PatchPoolRules::dropOntoDraggedItem(dragged, c, 1, container);
    EXPECT_EQ(drop.target, a);
    EXPECT_EQ(drop.draggingPosition, 2);
    drop = PatchPoolRules::dropOntoDraggedItem(dragged, d, 0, container);
    EXPECT_EQ(drop.target, d);
    EXPECT_EQ(drop.draggingPosition, 0);

    // Nothing undragged above: the block keeps the top, above the first item below it not dragged.
    const PoolSelectionEntries top = {{nullptr, a}, {nullptr, b}};
    drop = PatchPoolRules::dropOntoDraggedItem(top, b, 0, container);
    EXPECT_EQ(drop.target, c);
    EXPECT_EQ(drop.draggingPosition, 0);
    // The last items dragged keep their place below the nearest item above.
    drop = PatchPoolRules::dropOntoDraggedItem({{nullptr, c}, {nullptr, d}}, d, 2, container);
    EXPECT_EQ(drop.target, b);
    EXPECT_EQ(drop.draggingPosition, 2);
    // A container dragged whole has nowhere to go.
    drop = PatchPoolRules::dropOntoDraggedItem({{nullptr, a}, {nullptr, b}}, a, 1, {a, b});
    EXPECT_EQ(drop.target, nullptr);
}

TEST(PatchPoolRulesTest, ABlockDroppedWhereItIsLeavesTheOrderAsItIs)
{
    const Node a = node("A"), b = node("B"), e = node("E"), x = node("X");
    const PatchPoolRules::Nodes container = {a, b, e};
    struct Case {
        PatchPoolRules::Nodes block;
        Node target;
        std::int64_t position;
        bool unchanged;
    };
    const Case cases[] = {
        {{a, b}, e, 0, true},  {{a, b}, e, 2, false}, {{b}, a, 2, true},   {{b}, e, 0, true},
        {{a}, e, 0, false},    {{b, e}, a, 2, true},   {{b, e}, nullptr, 1, true}, {{e, b}, a, 2, false},
        {{x}, e, 2, false},    {{}, a, 0, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PatchPoolRules::leavesOrderAsItIs(container, c.block, c.target, c.position), c.unchanged)
            << c.block.size() << " items, position " << c.position;
}

TEST(PatchPoolRulesTest, ANewGroupTakesTheFirstFreeNumber)
{
    struct Case {
        std::set<std::string> existing;
        std::string expected;
    };
    const Case cases[] = {
        {{}, "New Patch Group 1"},
        {{"New Patch Group 1", "New Patch Group 2"}, "New Patch Group 3"},
        {{"New Patch Group 2"}, "New Patch Group 1"},
        {{"New Patch Group 1", "New Patch Group 3"}, "New Patch Group 2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PatchPoolRules::newGroupName([&](const std::string& name) { return c.existing.count(name) > 0; }),
                  c.expected);
}

}  // namespace
