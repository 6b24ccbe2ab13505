#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/patch/BackupPatch.h"
#include "app/patch/PatchPoolDragRules.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace {

using Node = std::shared_ptr<DirectoryObject>;
using Rules = PatchPoolDragRules;

Node patch(const std::string& name, bool incompatible = false)
{
    auto made = std::make_shared<DirectoryObject>();
    made->name = name;
    made->isIncompatible = incompatible;
    auto item = std::make_shared<PatchItem>();
    item->patchName = name;
    made->object = item;
    return made;
}

Node group(const std::string& name, std::vector<Node> children, bool backupAll = false)
{
    auto made = std::make_shared<DirectoryObject>();
    made->name = name;
    made->isGroup = true;
    made->isBackUpAllGroup = backupAll;
    made->childDirectories = std::move(children);
    return made;
}

// Every group open; patches 24 points high, groups 26.
class FakeTree final : public Rules::Tree {
public:
    explicit FakeTree(const std::vector<Node>& topLevel)
    {
        double y = 0;
        for (const Node& item : topLevel) {
            rows_.push_back({item, nullptr, y, item->isGroup ? 26.0 : 24.0});
            y += rows_.back().height;
            for (const Node& child : item->childDirectories) {
                rows_.push_back({child, item, y, 24.0});
                y += 24.0;
            }
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
        Node item;
        Node parent;
        double y;
        double height;
    };
    std::vector<Row> rows_;
};

// A top-level patch, an ordinary group of two, a backup-all group of two, an empty group, a patch.
struct Pool {
    Node a = patch("A");
    Node g1 = patch("g1"), g2 = patch("g2");
    Node g = group("G", {g1, g2});
    Node b1 = patch("b1"), b2 = patch("b2");
    Node b = group("B", {b1, b2}, true);
    Node e = group("E", {});
    Node c = patch("C");
    FakeTree tree{{a, g, b, e, c}};
};

PoolSelectionEntry top(const Node& item) { return {nullptr, item}; }
PoolSelectionEntry in(const Node& parent, const Node& item) { return {parent, item}; }

TEST(PatchPoolDragRulesTest, TheThreeZonesOfAGroupRowAndTheHalvesOfAnyRow)
{
    Pool pool;
    // G's row: y 24, height 26, middle 37.
    const struct {
        double y;
        std::int64_t position;
    } zones[] = {{34, Rules::kOn}, {37, Rules::kOn}, {40, Rules::kOn}, {40.5, Rules::kBelow}, {33.5, Rules::kAbove}};
    for (const auto& zone : zones)
        EXPECT_EQ(Rules::threeZonePosition(pool.tree, pool.g, zone.y), zone.position) << zone.y;
    EXPECT_TRUE(Rules::isDraggingAbove(pool.tree, pool.a, 12));
    EXPECT_FALSE(Rules::isDraggingAbove(pool.tree, pool.a, 12.5));
    // No row: an empty rectangle at 0.
    EXPECT_FALSE(Rules::isDraggingAbove(pool.tree, nullptr, 5));
}

TEST(PatchPoolDragRulesTest, AMiddleAtAHalfPointIsTruncatedFirst)
{
    // Rows of 25 points: the second row's middle lies at 37.5, taken as 37.
    auto first = group("first", {});
    auto second = group("second", {});
    class Tree25 final : public Rules::Tree {
    public:
        Tree25(Node one, Node two) : one_(std::move(one)), two_(std::move(two)) {}
        int numberOfRows() const override { return 2; }
        Node itemAtRow(int row) const override { return row == 0 ? one_ : two_; }
        int rowForItem(const Node& item) const override { return item == one_ ? 0 : item == two_ ? 1 : -1; }
        Node parentForItem(const Node&) const override { return nullptr; }
        bool isExpandable(const Node&) const override { return false; }
        Rect rectOfRow(int row) const override { return {row * 25.0, 25.0}; }
        int rowAtY(double y) const override { return y < 0 || y >= 50 ? -1 : static_cast<int>(y / 25); }

    private:
        Node one_, two_;
    } tree(first, second);
    EXPECT_EQ(Rules::threeZonePosition(tree, second, 34), Rules::kOn);
    EXPECT_EQ(Rules::threeZonePosition(tree, second, 40), Rules::kOn);
    EXPECT_EQ(Rules::threeZonePosition(tree, second, 40.5), Rules::kBelow);
    EXPECT_EQ(Rules::threeZonePosition(tree, second, 33.5), Rules::kAbove);
}

TEST(PatchPoolDragRulesTest, EmptySpaceStandsForTheLastTopLevelItem)
{
    Pool pool;
    const auto below = Rules::itemFromDraggingLocation(pool.tree, 1000);
    EXPECT_TRUE(below.inEmptySpace);
    EXPECT_EQ(below.item, pool.c);
    // With an open group last, its group stands for the space below.
    Node last1 = patch("l1");
    Node lastGroup = group("L", {last1});
    FakeTree tree{{patch("x"), lastGroup}};
    EXPECT_EQ(Rules::itemFromDraggingLocation(tree, 1000).item, lastGroup);
    FakeTree empty{{}};
    EXPECT_EQ(Rules::itemFromDraggingLocation(empty, 10).item, nullptr);
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
    struct Case {
        const char* name;
        PoolSelectionEntries entries;
        Rules::Pointer pointer;
        double y;
        bool accepted;
        Node focus;
        std::int64_t position;
    };
    const Case cases[] = {
        // 1: empty space, below the last row.
        {"1 empty space", {top(pool.a)}, {pool.c, true}, 900, true, pool.c, Rules::kBelow},
        {"1 refused from a backup", {in(pool.b, pool.b1)}, {pool.c, true}, 900, false, nullptr, 0},
        // 2: a top-level patch, by halves.
        {"2 top patch", {in(pool.g, pool.g1)}, at(pool.a), aTop, true, pool.a, Rules::kAbove},
        {"2 refused from a backup", {in(pool.b, pool.b2)}, at(pool.a), aTop, false, nullptr, 0},
        // 3: inside an ordinary group.
        {"3 into a group", {top(pool.a)}, at(pool.g1), g1Low, true, pool.g1, Rules::kBelow},
        {"3 refused a top group", {top(pool.e)}, at(pool.g1), g1Low, false, nullptr, 0},
        {"3 refused from a backup", {in(pool.b, pool.b1)}, at(pool.g1), g1Low, false, nullptr, 0},
        // 4: a top-level ordinary group: three zones, or halves when a group is dragged.
        {"4 onto a group", {top(pool.a)}, at(pool.g), gMiddle, true, pool.g, Rules::kOn},
        {"4 a group beside it", {top(pool.e)}, at(pool.g), gMiddle, true, pool.g, Rules::kAbove},
        {"4 refused from a backup", {in(pool.b, pool.b1)}, at(pool.g), gMiddle, false, nullptr, 0},
        // 5: a top-level backup-all group.
        {"5 its own children onto it", {in(pool.b, pool.b1), in(pool.b, pool.b2)}, at(pool.b), bMiddle, true, pool.b,
         Rules::kOn},
        {"5 others beside it", {top(pool.a)}, at(pool.b), bMiddle - 4, true, pool.b, Rules::kAbove},
        {"5 refused mixed", {in(pool.b, pool.b1), top(pool.a)}, at(pool.b), bMiddle, false, nullptr, 0},
        // 6: inside a backup-all group: only its own children.
        {"6 its own child", {in(pool.b, pool.b2)}, at(pool.b1), b1Top, true, pool.b1, Rules::kAbove},
        {"6 refused a stranger", {in(pool.g, pool.g1)}, at(pool.b1), b1Top, false, nullptr, 0},
        {"6 refused a top patch", {top(pool.a)}, at(pool.b1), b1Top, false, nullptr, 0},
    };
    for (const Case& item : cases) {
        const Rules::Drop drop = Rules::canDropToDirectory(pool.tree, item.entries, item.pointer, item.y);
        EXPECT_EQ(drop.accepted, item.accepted) << item.name;
        if (!item.accepted) continue;
        EXPECT_EQ(drop.focus, item.focus) << item.name;
        EXPECT_EQ(drop.position, item.position) << item.name;
    }
    // 7: a parent that is not a group refuses everything.
    Node odd = patch("odd");
    Node holder = patch("holder");
    holder->childDirectories = {odd};
    FakeTree strange{{holder}};
    EXPECT_FALSE(Rules::canDropToDirectory(strange, {top(pool.a)}, {odd, false}, 30).accepted);
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
    const double gTop = 25;
    const auto marker = Rules::foreignMarker(pool.tree, {pool.g2, false}, true, pool.tree.middle(pool.g2));
    EXPECT_EQ(marker.focus, pool.g);
    EXPECT_EQ(marker.position, Rules::kBelow);
    EXPECT_EQ(Rules::foreignMarker(pool.tree, {pool.g1, false}, true, gTop).position, Rules::kAbove);
    // One row: a group by three zones, a patch by halves.
    EXPECT_EQ(Rules::foreignMarker(pool.tree, {pool.g, false}, false, pool.tree.middle(pool.g)).position, Rules::kOn);
    const auto single = Rules::foreignMarker(pool.tree, {pool.g1, false}, false, pool.tree.middle(pool.g1) + 1);
    EXPECT_EQ(single.focus, pool.g1);
    EXPECT_EQ(single.position, Rules::kBelow);
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
    void addBackUpPatchItemAtIndexs(const Rows& rows, const Node& target, bool isAbove) override
    {
        last = "addRows " + std::to_string(rows.size()) + " " + name(target) + " " + std::to_string(isAbove);
    }
    void insertBackUpPatchForPatchItemAtIndexs(const Rows& rows, const Node& group, std::uint64_t index, bool isAbove) override
    {
        last = "insertRows " + std::to_string(rows.size()) + " " + name(group) + " " + std::to_string(index) + " " +
               std::to_string(isAbove);
    }
    void addBackUpPatchItems(const Patches& items, const Node& target, bool isAbove) override
    {
        last = "addItems " + std::to_string(items.size()) + " " + name(target) + " " + std::to_string(isAbove);
    }
    void addBackUpPatchItems(const Patches& items, const Node& group, std::uint64_t index, bool isAbove) override
    {
        last = "itemsIntoGroup " + std::to_string(items.size()) + " " + name(group) + " " + std::to_string(index) + " " +
               std::to_string(isAbove);
    }
    void createNewGroupWithPatchIndexs(const Rows& rows, const Node& target, bool isAbove) override
    {
        last = "newGroupRows " + std::to_string(rows.size()) + " " + name(target) + " " + std::to_string(isAbove);
    }
    void createNewGroupWithPatchItems(const Patches& items, const Node& target, bool isAbove) override
    {
        last = "newGroupItems " + std::to_string(items.size()) + " " + name(target) + " " + std::to_string(isAbove);
    }

private:
    static std::string name(const Node& node) { return node ? node->name.value_or("?") : "none"; }
};

TEST(PatchPoolDragRulesTest, EachDropBecomesOneBackupMessage)
{
    Pool pool;
    Node four = group("Four", {patch("f1"), patch("f2"), patch("f3"), patch("f4")});
    Node lone = patch("lone");
    FakeTree tree{{four, pool.e, pool.g, lone}};
    const std::vector<std::int64_t> one{7}, two{7, 8};
    const std::vector<std::shared_ptr<PatchItem>> file{std::make_shared<PatchItem>()};
    const std::vector<std::shared_ptr<PatchItem>> files{std::make_shared<PatchItem>(), std::make_shared<PatchItem>()};
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
        const auto& rows = item.count == 1 ? one : two;
        Rules::send(backup, call, item.rows ? rows : std::vector<std::int64_t>{},
                    item.rows ? std::vector<std::shared_ptr<PatchItem>>{} : (item.count == 1 ? file : files));
        EXPECT_EQ(backup.last, item.expected) << item.name;
    }
}

}  // namespace
