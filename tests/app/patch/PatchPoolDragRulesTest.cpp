#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/patch/BackupPatch.h"
#include "app/patch/PatchPoolDragRules.h"
#include "support/app/PoolNodes.h"

namespace {

using Node = std::shared_ptr<DirectoryObject>;
using Rules = PatchPoolDragRules;
using testing_app::groupNode;
using testing_app::patchNode;
using testing_app::unfitPatch;

// Every group open; patches `patchHeight` points high, groups `groupHeight`.
class FakeTree final : public Rules::Tree {
public:
    explicit FakeTree(const std::vector<Node>& topLevel, double patchHeight = 24, double groupHeight = 26)
    {
        double y = 0;
        const auto add = [&](const Node& item, const Node& parent) {
            rows_.push_back({item, parent, y, item->isGroup ? groupHeight : patchHeight});
            y += rows_.back().height;
        };
        for (const Node& item : topLevel) {
            add(item, nullptr);
            for (const Node& child : item->childDirectories) add(child, item);
        }
    }
    int numberOfRows() const override { return static_cast<int>(rows_.size()); }
    Node itemAtRow(int row) const override { return row >= 0 && row < numberOfRows() ? rows_[row].item : nullptr; }
    int rowForItem(const Node& item) const override
    {
        for (int row = 0; row < numberOfRows(); ++row)
            if (rows_[row].item == item) return row;
        return -1;
    }
    Node parentForItem(const Node& item) const override
    {
        const int row = rowForItem(item);
        return row >= 0 ? rows_[row].parent : nullptr;
    }
    bool isExpandable(const Node& item) const override { return item && !item->childDirectories.empty(); }
    Rect rectOfRow(int row) const override { return {rows_[row].y, rows_[row].height}; }
    int rowAtY(double y) const override
    {
        for (int row = 0; row < numberOfRows(); ++row)
            if (y >= rows_[row].y && y < rows_[row].y + rows_[row].height) return row;
        return -1;
    }
    double middle(const Node& item) const
    {
        const Rect rect = rectOfRow(rowForItem(item));
        return rect.y + rect.height / 2;
    }

private:
    struct Row {
        Node item, parent;
        double y, height;
    };
    std::vector<Row> rows_;
};

// A top-level patch, an ordinary group of two, a backup-all group of two, an empty group, a patch.
struct Pool {
    Node a = patchNode("A"), g1 = patchNode("g1"), g2 = patchNode("g2"), g = groupNode("G", {g1, g2});
    Node b1 = patchNode("b1"), b2 = patchNode("b2"), b = groupNode("B", {b1, b2}, true);
    Node e = groupNode("E"), c = patchNode("C");
    FakeTree tree{{a, g, b, e, c}};
};

PoolSelectionEntry top(const Node& item) { return {nullptr, item}; }
PoolSelectionEntry in(const Node& parent, const Node& item) { return {parent, item}; }

TEST(PatchPoolDragRulesTest, TheThreeZonesOfAGroupRowAndTheHalvesOfAnyRow)
{
    Pool pool;
    // Rows of 25 points: the second row's middle lies at 37.5, taken as 37 before the zones are cut.
    const Node first = groupNode("first"), second = groupNode("second");
    const FakeTree even{{first, second}, 25, 25};
    // G's row: y 24, height 26, middle 37.
    const struct {
        const FakeTree& tree;
        Node item;
        double y;
        std::int64_t position;
    } zones[] = {{pool.tree, pool.g, 34, Rules::kOn},   {pool.tree, pool.g, 37, Rules::kOn},
                 {pool.tree, pool.g, 40, Rules::kOn},   {pool.tree, pool.g, 40.5, Rules::kBelow},
                 {pool.tree, pool.g, 33.5, Rules::kAbove}, {even, second, 34, Rules::kOn},
                 {even, second, 40, Rules::kOn},        {even, second, 40.5, Rules::kBelow},
                 {even, second, 33.5, Rules::kAbove}};
    for (const auto& zone : zones)
        EXPECT_EQ(Rules::threeZonePosition(zone.tree, zone.item, zone.y), zone.position) << *zone.item->name << " " << zone.y;
    EXPECT_TRUE(Rules::isDraggingAbove(pool.tree, pool.a, 12));
    EXPECT_FALSE(Rules::isDraggingAbove(pool.tree, pool.a, 12.5));
    // No row: an empty rectangle at 0.
    EXPECT_FALSE(Rules::isDraggingAbove(pool.tree, nullptr, 5));
}

TEST(PatchPoolDragRulesTest, EmptySpaceStandsForTheLastTopLevelItem)
{
    Pool pool;
    const auto below = Rules::itemFromDraggingLocation(pool.tree, 1000);
    EXPECT_TRUE(below.inEmptySpace);
    EXPECT_EQ(below.item, pool.c);
    // With an open group last, its group stands for the space below.
    const Node lastGroup = groupNode("L", {patchNode("l1")});
    EXPECT_EQ(Rules::itemFromDraggingLocation(FakeTree{{patchNode("x"), lastGroup}}, 1000).item, lastGroup);
    EXPECT_EQ(Rules::itemFromDraggingLocation(FakeTree{{}}, 10).item, nullptr);
    const auto onRow = Rules::itemFromDraggingLocation(pool.tree, 30);
    EXPECT_FALSE(onRow.inEmptySpace);
    EXPECT_EQ(onRow.item, pool.g);
}

TEST(PatchPoolDragRulesTest, OwnDropsFollowTheCasesOfTheTable)
{
    Pool pool;
    const auto at = [](const Node& item) { return Rules::Pointer{item, false}; };
    const double aTop = 2, gMiddle = pool.tree.middle(pool.g), b1Top = pool.tree.middle(pool.b1) - 4;
    const double bMiddle = pool.tree.middle(pool.b), g1Low = pool.tree.middle(pool.g1) + 4;
    const struct {
        const char* name;
        PoolSelectionEntries entries;
        Rules::Pointer pointer;
        double y;
        bool accepted;
        Node focus;
        std::int64_t position;
    } cases[] = {
        {"1 empty space below the last row", {top(pool.a)}, {pool.c, true}, 900, true, pool.c, Rules::kBelow},
        {"1 refused from a backup", {in(pool.b, pool.b1)}, {pool.c, true}, 900, false, nullptr, 0},
        {"2 a top-level patch, by halves", {in(pool.g, pool.g1)}, at(pool.a), aTop, true, pool.a, Rules::kAbove},
        {"2 refused from a backup", {in(pool.b, pool.b2)}, at(pool.a), aTop, false, nullptr, 0},
        {"3 into an ordinary group", {top(pool.a)}, at(pool.g1), g1Low, true, pool.g1, Rules::kBelow},
        {"3 refused a top group", {top(pool.e)}, at(pool.g1), g1Low, false, nullptr, 0},
        {"3 refused from a backup", {in(pool.b, pool.b1)}, at(pool.g1), g1Low, false, nullptr, 0},
        {"4 onto a top-level group, by three zones", {top(pool.a)}, at(pool.g), gMiddle, true, pool.g, Rules::kOn},
        {"4 a group beside it, by halves", {top(pool.e)}, at(pool.g), gMiddle, true, pool.g, Rules::kAbove},
        {"4 refused from a backup", {in(pool.b, pool.b1)}, at(pool.g), gMiddle, false, nullptr, 0},
        {"5 a backup's own children onto it", {in(pool.b, pool.b1), in(pool.b, pool.b2)}, at(pool.b), bMiddle, true,
         pool.b, Rules::kOn},
        {"5 others beside it", {top(pool.a)}, at(pool.b), bMiddle - 4, true, pool.b, Rules::kAbove},
        {"5 refused mixed", {in(pool.b, pool.b1), top(pool.a)}, at(pool.b), bMiddle, false, nullptr, 0},
        {"6 inside a backup its own child", {in(pool.b, pool.b2)}, at(pool.b1), b1Top, true, pool.b1, Rules::kAbove},
        {"6 refused a stranger", {in(pool.g, pool.g1)}, at(pool.b1), b1Top, false, nullptr, 0},
        {"6 refused a top patch", {top(pool.a)}, at(pool.b1), b1Top, false, nullptr, 0},
    };
    for (const auto& item : cases) {
        const Rules::Drop drop = Rules::canDropToDirectory(pool.tree, item.entries, item.pointer, item.y);
        EXPECT_EQ(drop.accepted, item.accepted) << item.name;
        if (!item.accepted) continue;
        EXPECT_EQ(drop.focus, item.focus) << item.name;
        EXPECT_EQ(drop.position, item.position) << item.name;
    }
    // 7: a parent that is not a group refuses everything.
    const Node odd = patchNode("odd"), holder = patchNode("holder");
    holder->childDirectories = {odd};
    EXPECT_FALSE(Rules::canDropToDirectory(FakeTree{{holder}}, {top(pool.a)}, {odd, false}, 30).accepted);
}

TEST(PatchPoolDragRulesTest, ForeignDragsAreAnsweredByTheItemUnderThePointer)
{
    Pool pool;
    const struct {
        const char* name;
        Rules::Pointer pointer;
        std::int64_t position;
        int answer;
    } cases[] = {
        {"onto a backup-all group", {pool.b, false}, Rules::kOn, Rules::kNone},
        {"beside a backup-all group", {pool.b, false}, Rules::kAbove, Rules::kGeneric},
        {"empty space after a backup-all group", {pool.b, true}, Rules::kOn, Rules::kGeneric},
        {"an ordinary group", {pool.g, false}, Rules::kOn, Rules::kGeneric},
        {"a patch of a backup-all group", {pool.b1, false}, Rules::kAbove, Rules::kNone},
        {"a patch of a group", {pool.g1, false}, Rules::kBelow, Rules::kGeneric},
        {"an empty group", {pool.e, false}, Rules::kOn, Rules::kGeneric},
        {"nothing", {nullptr, true}, Rules::kBelow, Rules::kGeneric},
    };
    for (const auto& item : cases) EXPECT_EQ(Rules::foreignAnswer(pool.tree, item.pointer, item.position), item.answer) << item.name;
}

TEST(PatchPoolDragRulesTest, ANewGroupDragMarksTheTopLevelAncestor)
{
    Pool pool;
    const struct {
        const char* name;
        Node pointer;
        bool newGroup;
        double y;
        Node focus;
        std::int64_t position;
    } cases[] = {
        {"a new group below a grouped patch marks its group", pool.g2, true, pool.tree.middle(pool.g2), pool.g, Rules::kBelow},
        {"a new group at the group's top", pool.g1, true, 25, pool.g, Rules::kAbove},
        {"one row onto a group, by three zones", pool.g, false, pool.tree.middle(pool.g), pool.g, Rules::kOn},
        {"one row beside a patch, by halves", pool.g1, false, pool.tree.middle(pool.g1) + 1, pool.g1, Rules::kBelow},
    };
    for (const auto& item : cases) {
        const auto marker = Rules::foreignMarker(pool.tree, {item.pointer, false}, item.newGroup, item.y);
        EXPECT_EQ(marker.focus, item.focus) << item.name;
        EXPECT_EQ(marker.position, item.position) << item.name;
    }
}

TEST(PatchPoolDragRulesTest, TheDraggedCountIsSignedAndCountsOnlyCompatiblePatches)
{
    Pool pool;
    pool.g2->isIncompatible = true;
    const auto sameModel = [](const DirectoryObject& group) { return group.name == "B"; };
    EXPECT_EQ(Rules::getNumberOfDraggedItems({top(pool.a), top(pool.b), top(pool.c)}, pool.tree, sameModel), -1);
    EXPECT_EQ(Rules::getNumberOfDraggedItems({top(pool.g), top(pool.c), top(pool.e)}, pool.tree, sameModel), 2);
    // A backup of another model counts like any group.
    EXPECT_EQ(Rules::getNumberOfDraggedItems({top(pool.b)}, pool.tree, [](const DirectoryObject&) { return false; }), 2);
    EXPECT_EQ(Rules::getNumberOfDraggedItems({in(pool.g, pool.g2)}, pool.tree, sameModel), 0);
}

// Records which message a drop became.
class RecordingBackup final : public BackupPatch {
public:
    std::string last;
    void addBackUpPatchItemAtIndexs(const Rows& r, const Node& to, bool up) override { note("addRows", r.size(), to, {}, up); }
    void insertBackUpPatchForPatchItemAtIndexs(const Rows& r, const Node& to, std::uint64_t at, bool up) override
    {
        note("insertRows", r.size(), to, at, up);
    }
    void addBackUpPatchItems(const Patches& p, const Node& to, bool up) override { note("addItems", p.size(), to, {}, up); }
    void addBackUpPatchItems(const Patches& p, const Node& to, std::uint64_t at, bool up) override
    {
        note("itemsIntoGroup", p.size(), to, at, up);
    }
    void createNewGroupWithPatchIndexs(const Rows& r, const Node& to, bool up) override { note("newGroupRows", r.size(), to, {}, up); }
    void createNewGroupWithPatchItems(const Patches& p, const Node& to, bool up) override { note("newGroupItems", p.size(), to, {}, up); }

private:
    void note(const char* what, std::size_t count, const Node& node, std::optional<std::uint64_t> index, bool above)
    {
        last = std::string(what) + " " + std::to_string(count) + " " + (node ? node->name.value_or("?") : "none") + " " +
               (index ? std::to_string(*index) + " " : "") + std::to_string(above);
    }
};

TEST(PatchPoolDragRulesTest, EachDropBecomesOneBackupMessage)
{
    Pool pool;
    const Node four = groupNode("Four", {patchNode("f1"), patchNode("f2"), patchNode("f3"), patchNode("f4")});
    const Node lone = patchNode("lone");
    const FakeTree tree{{four, pool.e, pool.g, lone}};
    const struct {
        const char* name;
        bool rows;
        Node focus;
        std::int64_t position;
        bool newGroup;
        std::size_t count;
        std::string expected;
    } cases[] = {
        {"a row onto a group of four", true, four, Rules::kOn, false, 1, "insertRows 1 Four 3 0"},
        {"a row onto an empty group", true, pool.e, Rules::kOn, false, 1, "insertRows 1 E 0 1"},
        {"a row beside a grouped patch", true, pool.g2, Rules::kAbove, false, 1, "insertRows 1 G 1 1"},
        {"a row below a group", true, four, Rules::kBelow, false, 1, "addRows 1 Four 0"},
        {"a row into empty space", true, lone, Rules::kBelow, false, 1, "addRows 1 lone 0"},
        {"rows as a new group", true, pool.g, Rules::kAbove, true, 2, "newGroupRows 2 G 1"},
        {"a file onto a group of four", false, four, Rules::kOn, false, 1, "itemsIntoGroup 1 Four 3 0"},
        {"a file onto an empty group", false, pool.e, Rules::kOn, false, 1, "itemsIntoGroup 1 E 0 1"},
        {"files beside a grouped patch", false, pool.g1, Rules::kBelow, false, 2, "itemsIntoGroup 2 G 0 0"},
        {"a file beside a patch", false, lone, Rules::kAbove, false, 1, "addItems 1 lone 1"},
        {"files at the top level", false, lone, Rules::kBelow, false, 2, "newGroupItems 2 lone 0"},
        {"files onto a group", false, four, Rules::kOn, false, 2, "newGroupItems 2 Four 0"},
    };
    for (const auto& item : cases) {
        RecordingBackup backup;
        const Rules::Call call = item.rows ? Rules::callForRows(tree, item.focus, item.position, item.newGroup)
                                           : Rules::callForFiles(tree, item.focus, item.position, item.count);
        const std::vector<std::int64_t> rows(item.rows ? item.count : 0, 7);
        std::vector<std::shared_ptr<PatchItem>> files;
        for (std::size_t i = 0; !item.rows && i < item.count; ++i) files.push_back(std::make_shared<PatchItem>());
        Rules::send(backup, call, rows, files);
        EXPECT_EQ(backup.last, item.expected) << item.name;
    }
}

}  // namespace
