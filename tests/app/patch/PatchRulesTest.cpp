// The patch screen's rules without a widget: the list's selection, drags and reorders, its bank colours and
// rows, the pool's titles, selections, drags and drops, the put-back of deleted neighbours and dropped paths.
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "app/patch/BackupPatch.h"
#include "app/patch/BankColorTable.h"
#include "app/patch/DroppedPaths.h"
#include "app/patch/NeighbourPutBack.h"
#include "app/patch/PatchListDragRules.h"
#include "app/patch/PatchListReorder.h"
#include "app/patch/PatchListSelectionRules.h"
#include "app/patch/PatchListTableModel.h"
#include "app/patch/PatchPoolDragRules.h"
#include "app/patch/PatchPoolRules.h"
#include "library/models/BankItem.h"
#include "PatchCases.h"
#include "support/files/TemporaryFolder.h"

namespace {

using namespace testing_app;
using Modifier = PatchListSelectionRules::Modifier;
using Selection = PatchListSelectionRules::Selection;
using Rows = PatchListSelectionRules::Rows;
using Record = std::vector<std::int64_t>;
using Items = std::vector<std::shared_ptr<PatchItem>>;

// The rules over a table whose selection is whatever the last outcome made it.
struct Table {
    PatchListSelectionRules rules;
    Selection selected;
    std::vector<Record> records;
    std::vector<std::uint64_t> told;

    void apply(const PatchListSelectionRules::Outcome& outcome)
    {
        if (outcome.record) records.push_back(*outcome.record);
        if (outcome.selection) selected = *outcome.selection;
        if (outcome.tellRow) told.push_back(*outcome.tellRow);
    }
    void click(std::uint64_t row, Modifier modifier = Modifier::None) { apply(rules.click(row, modifier, selected)); }
    // The selection, the ordered selection and the anchor of Shift ranges.
    std::tuple<Selection, Rows, std::uint64_t> state() const
    {
        return {selected, rules.selectionList(), rules.rootSelectedRowForShilf()};
    }
};
using State = std::tuple<Selection, Rows, std::uint64_t>;

TEST(PatchListSelectionRules, ShiftRangesRunFromTheAnchor)
{
    for (const auto& [row, selected, list] : {std::tuple<std::uint64_t, Selection, Rows>{2, {2, 3, 4, 5}, {5, 4, 3, 2}},
                                              {8, {5, 6, 7, 8}, {5, 6, 7, 8}}, {5, {5}, {5}}}) {
        SCOPED_TRACE(row);
        Table table;
        table.click(5);
        table.click(row, Modifier::Shift);
        EXPECT_EQ(table.state(), State(selected, list, 5));
        EXPECT_EQ(table.rules.previousSelectedRow(), 5u);
        EXPECT_EQ(table.records, (std::vector<Record>{{}, {5}}));
        EXPECT_EQ(table.told.back(), row);
    }
}

// Also on the row that is already the only one selected.
TEST(PatchListSelectionRules, AShiftClickWithoutItsAnchorSelectedStartsAfresh)
{
    Table table;
    for (const std::uint64_t row : {5, 7, 7}) table.click(row, row == 5 ? Modifier::None : Modifier::Command);
    table.click(9, Modifier::Shift);
    EXPECT_EQ(table.state(), State({9}, {9}, 9));
    table.click(4, Modifier::Command);
    table.click(4, Modifier::Command);
    const auto records = table.records.size();
    table.click(9, Modifier::Shift);
    EXPECT_EQ(table.records.size(), records + 1);
    EXPECT_EQ(table.selected, (Selection{9}));
}

// Removing the last row leaves nothing selected; the record brings it back.
TEST(PatchListSelectionRules, ACtrlDeselectRecordEndsWithItsRow)
{
    Table table;
    for (const std::uint64_t row : {3, 6, 1}) table.click(row, row == 3 ? Modifier::None : Modifier::Command);
    EXPECT_EQ(table.rules.selectionList(), (Rows{3, 6, 1}));
    const auto told = table.told.size();
    table.click(6, Modifier::Command);
    EXPECT_EQ(table.records.back(), (Record{3, 1, 6}));
    EXPECT_EQ(table.state(), State({1, 3}, {3, 1}, 1));
    EXPECT_EQ(table.told.size(), told);
    Table single;
    single.click(4);
    single.click(4, Modifier::Command);
    EXPECT_TRUE(single.selected.empty());
    EXPECT_EQ(single.records.back(), (Record{4}));
}

TEST(PatchListSelectionRules, APlainClickOnTheOnlySelectedRowActsOnceAfterADrop)
{
    Table table;
    table.click(2);
    table.click(2);
    EXPECT_EQ(table.records.size(), 1u);
    EXPECT_EQ(table.told, (std::vector<std::uint64_t>{2}));
    table.rules.setIsDropped(true);
    table.click(2);
    EXPECT_EQ(table.records.size(), 2u);
    EXPECT_EQ(table.told, (std::vector<std::uint64_t>{2, 2}));
    EXPECT_FALSE(table.rules.isDropped());
    table.click(2);
    EXPECT_EQ(table.records.size(), 2u);
    // One row of several: the selection becomes that row, with one record.
    table.click(5, Modifier::Shift);
    table.click(3);
    EXPECT_EQ(table.selected, (Selection{3}));
    EXPECT_EQ(table.records.back(), (Record{2, 3, 4, 5}));
}

TEST(PatchListSelectionRules, RightClicksAndDragsSelectAnUnselectedRowFirst)
{
    Table table;
    table.click(1);
    table.apply(table.rules.rightClick(1, table.selected));
    EXPECT_EQ(table.records.size(), 1u);
    table.apply(table.rules.rightClick(4, table.selected));
    EXPECT_EQ(table.state(), State({4}, {4}, 4));
    table.apply(table.rules.dragSelect(4, false, table.selected));
    EXPECT_EQ(table.records.size(), 2u);
    table.apply(table.rules.dragSelect(6, true, table.selected));
    EXPECT_EQ(std::pair(table.selected, table.rules.selectionList()), std::pair(Selection{4, 6}, Rows{4, 6}));
    table.apply(table.rules.dragSelect(8, false, table.selected));
    EXPECT_EQ(table.selected, (Selection{8}));
    EXPECT_EQ(table.records.size(), 4u);
    EXPECT_EQ(table.told.back(), 8u);
}

TEST(PatchListSelectionRules, DragDistanceAndDoubleClickColumn)
{
    for (const auto& [dx, dy, drag] : {std::tuple{0.0, 0.0, false}, {1.9, 0.0, false}, {1.4, 1.4, false}, {2.0, 0.0, true},
                                       {1.5, 1.5, true}, {0.0, -3.0, true}})
        EXPECT_EQ(PatchListSelectionRules::isDragDistance(dx, dy), drag) << dx << "," << dy;
    EXPECT_FALSE(PatchListSelectionRules::editsOnDoubleClick(0));
    EXPECT_TRUE(PatchListSelectionRules::editsOnDoubleClick(1));
    PatchListSelectionRules rules;
    for (const int column : {2, 3, -1}) rules.setClickedColumn(column, 3);
    EXPECT_EQ(rules.previousSelectedColumn(), 2u);
}

TEST(PatchListSelectionRules, SelectionsSetFromOutsideListInAscendingOrder)
{
    Table table;
    table.selected = table.rules.setUpCurrentSelection({7, 3, 7}, false, {1});
    EXPECT_EQ(table.state(), State({3, 7}, {3, 7}, 3));
    EXPECT_EQ(table.rules.setUpCurrentSelection({9}, true, {3, 7}), (Selection{3, 7, 9}));
    table.selected = table.rules.selectAll(3);
    EXPECT_EQ(std::pair(table.selected, table.rules.selectionList()), std::pair(Selection{0, 1, 2}, Rows{0, 1, 2}));
    table.rules.resetSelectionData();
    table.selected.clear();
    EXPECT_EQ(table.state(), State({}, {}, 0));
}

using Drag = PatchListDragRules;

// Rows of 55 points; row 2 spans 110..165.
TEST(PatchListDragRulesTest, TheProposedRowIsTheRowTheDropLandsAbove)
{
    for (const auto& [y, rowAt, row] : {std::tuple{110.0, 2, 2}, {137.0, 2, 2}, {138.0, 2, 3}, {164.0, 2, 3}, {2000.0, -1, 30}})
        EXPECT_EQ(Drag::proposedRow(y, 30, rowAt, rowAt * 55.0, 55), row) << y;
}

TEST(PatchListDragRulesTest, AForeignDropFillsRowsUpToTheFirstEmptyRow)
{
    const auto emptyFrom = [](int first) { return [first](int row) { return row >= first; }; };
    EXPECT_EQ(Drag::rowsWhenDragging(3, 3, 30, emptyFrom(30)), (std::vector<std::uint64_t>{3, 4, 5}));
    EXPECT_EQ(Drag::rowsWhenDragging(28, 4, 30, emptyFrom(30)), (std::vector<std::uint64_t>{28, 29}));
    EXPECT_EQ(Drag::rowsWhenDragging(0, 30, 30, emptyFrom(20)).size(), 20u);
    EXPECT_TRUE(Drag::rowsWhenDragging(-1, 3, 30, emptyFrom(30)).empty());
}

TEST(PatchListDragRulesTest, AForeignDragIsAnsweredOnEntryAndAtEachMove)
{
    const auto count = [](std::int64_t answer) { return [answer] { return answer; }; };
    Drag::Foreign files;
    files.generic = true;
    files.rowUnderPointer = 28;
    files.rowIsEmpty = false;
    files.fileCount = 4;
    files.rowCount = 30;
    Drag::Answer answer = Drag::foreignEntered(files);
    EXPECT_EQ(std::tuple(answer.operation, answer.row, answer.numberOfSentItems), std::tuple(Drag::kGeneric, 28, 4));
    // No count, not generic, onto an empty row, or locked: refused.
    for (const auto& refuse : std::vector<std::function<void(Drag::Foreign&)>>{
             [](auto& f) { f.fileCount = std::nullopt; }, [](auto& f) { f.generic = false; },
             [](auto& f) { f.rowIsEmpty = true; }, [](auto& f) { f.locked = true; }}) {
        Drag::Foreign refused = files;
        refuse(refused);
        EXPECT_EQ(Drag::foreignEntered(refused).operation, Drag::kNone);
    }
    // The pool's backup-all group of the model fills from row 0, and waits for a running restore.
    Drag::Foreign backup = files;
    backup.fileCount = 0;
    backup.fromPool = true;
    backup.poolCount = count(-1);
    answer = Drag::foreignEntered(backup);
    EXPECT_EQ(std::tuple(answer.operation, answer.row, answer.numberOfSentItems, answer.isDroppingBackupAllGroup),
              std::tuple(Drag::kGeneric, 0, 30, true));
    const Drag::Answer moved = Drag::foreignUpdated(backup, 30, true);
    EXPECT_EQ(moved.row, 0);
    EXPECT_FALSE(moved.placeSelection);
    backup.restoringAll = true;
    EXPECT_EQ(Drag::foreignEntered(backup).operation, Drag::kNone);
    EXPECT_EQ(Drag::foreignUpdated(backup, 30, true).operation, Drag::kNone);
    // Nothing compatible dragged: let in, refused at the first move.
    Drag::Foreign nothing = backup;
    nothing.restoringAll = false;
    nothing.poolCount = count(0);
    answer = Drag::foreignEntered(nothing);
    EXPECT_EQ(answer.operation, Drag::kGeneric);
    EXPECT_EQ(Drag::foreignUpdated(nothing, answer.numberOfSentItems, false).operation, Drag::kNone);
}

// Files under the own folder refuse the whole drag; a count reads only until the room is filled, but a
// refused path refuses the whole drag wherever it lies, past the room too, and nothing is read.
TEST(PatchListDragRulesTest, AFileCountReadsOnlyUntilTheRoomIsFilledButJudgesEveryPath)
{
    Names read;
    const auto isPatch = [&read](const std::string& path) {
        read.push_back(path);
        return path.size() > 5 && path.substr(path.size() - 5) == ".qptc";
    };
    EXPECT_EQ(Drag::countDroppableFiles({"/a/1.qptc", "/a/x.txt", "/a/2.qptc"}, "/own", isPatch), 2);
    EXPECT_EQ(Drag::countDroppableFiles({"/a/1.qptc", "/own/Temp/2.qptc"}, "/own", isPatch), std::nullopt);
    const Names paths{"/a/1.qptc", "/a/x.txt", "/a/2.qptc", "/a/3.qptc", "/a/4.qptc"};
    read.clear();
    EXPECT_EQ(Drag::countDroppableFiles(paths, "/own", isPatch, 2), 2);
    EXPECT_EQ(read, (Names{"/a/1.qptc", "/a/x.txt", "/a/2.qptc"}));
    read.clear();
    EXPECT_EQ(Drag::countDroppableFiles(paths, "/own", isPatch, 0), 0);
    EXPECT_TRUE(read.empty());
    for (const std::string refused : {"/own/Temp/5.qptc", "/a/line\nbreak.qptc", "relative.qptc"}) {
        Names withRefused = paths;
        withRefused.push_back(refused);
        read.clear();
        for (const std::int64_t room : {0, 2, 100})
            EXPECT_EQ(Drag::countDroppableFiles(withRefused, "/own", isPatch, room), std::nullopt) << refused << room;
        EXPECT_TRUE(read.empty()) << refused;
    }
}

TEST(PatchListDragRulesTest, DroppedFilesTakeOnlySlotsOfTheDeviceAndCopyOnlyWhatFits)
{
    Names copied;
    const auto copy = [&copied](const std::string& path) -> std::shared_ptr<PatchItem> {
        copied.push_back(path);
        return path == "bad.qptc" ? nullptr : patchItem({}, {}, "work/" + path);
    };
    const auto isPatch = [](const std::string& path) { return path.find(".qptc") != std::string::npos; };
    EXPECT_EQ(Drag::takeDroppedFiles({"1.qptc", "2.qptc", "3.qptc", "4.qptc"}, 28, 30, isPatch, copy).size(), 2u);
    EXPECT_EQ(copied, (Names{"1.qptc", "2.qptc"}));
    // A 20-slot device under a 30-row list: rows past slot 19 take nothing.
    EXPECT_EQ(Drag::takeDroppedFiles({"1.qptc", "2.qptc"}, 19, 20, isPatch, copy).size(), 1u);
    EXPECT_TRUE(Drag::takeDroppedFiles({"1.qptc"}, 25, 20, isPatch, copy).empty());
    // A failed copy and a file that is no patch are skipped.
    const auto items = Drag::takeDroppedFiles({"bad.qptc", "x.txt", "2.qptc"}, 0, 30, isPatch, copy);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items.front()->path, "work/2.qptc");
}

TEST(PatchListDragRulesTest, AReorderAfterTheLastLineTargetsTheRowBelow)
{
    EXPECT_EQ(std::tuple(Drag::reorderMarkerRow(-1, 30), Drag::reorderMarkerRow(30, 30), Drag::reorderMarkerRow(4, 30)),
              std::tuple(29, 29, 4));
    EXPECT_EQ(std::tuple(Drag::reorderTarget(29, true), Drag::reorderTarget(4, false)), std::tuple(30, 4));
    EXPECT_TRUE(Drag::isUncontinuous({3, 5}));
    EXPECT_FALSE(Drag::isUncontinuous({3, 4, 5}));
    EXPECT_EQ(Drag::reorderAnswer(false, true), Drag::kNone);
}

TEST(BankColorTable, BanksTakeTheTenColoursInTurnWithEverySecondSlotDarker)
{
    for (const auto& [row, colourIndex, darker] :
         {std::tuple<std::uint64_t, std::size_t, bool>{0, 0, false}, {1, 0, true}, {3, 0, true}, {4, 0, false}, {5, 1, false},
          {6, 1, true}, {8, 1, true}, {9, 1, false}, {49, 9, false}, {50, 0, false}, {51, 0, true}}) {
        SCOPED_TRACE(row);
        EXPECT_EQ(BankColorTable::colorIndexOfRow(row, 5), colourIndex);
        const auto colour = BankColorTable::colorOfRow(row, 5);
        ASSERT_TRUE(colour.has_value());
        // Lightened with 30 % white: no channel below 0.3.
        EXPECT_GE(std::min({colour->redF(), colour->greenF(), colour->blueF()}), 0.3f - 1e-3f);
        // The bank's first slot, undarkened and lightened, is the reference.
        EXPECT_EQ(colour->valueF() < BankColorTable::colorOfRow(row - row % 5, 5)->valueF() - 0.05f, darker);
    }
    const QColor base = BankColorTable::colorItems()[0], light = *BankColorTable::colorOfRow(0, 5);
    EXPECT_NEAR(light.redF(), base.redF() * 0.7 + 0.3, 1e-3);
    EXPECT_NEAR(light.blueF(), base.blueF() * 0.7 + 0.3, 1e-3);
    EXPECT_FALSE(BankColorTable::colorOfRow(3, 0).has_value()) << "no device, no colour";
}

Items numbered(std::size_t count)
{
    Items items;
    for (std::size_t i = 0; i < count; ++i) items.push_back(patchItem(std::to_string(i)));
    return items;
}

TEST(PatchListTableModel, ShowsAtLeastThirtyRowsWithTheFillersMarkedEmpty)
{
    testing_app::application();
    for (const auto& [filled, rows] : {std::pair<std::size_t, int>{0, 30}, {20, 30}, {100, 100}}) {
        SCOPED_TRACE(filled);
        std::vector<std::shared_ptr<BankItem>> banks;
        for (std::size_t i = 0; i < filled; ++i) banks.push_back(std::make_shared<BankItem>());
        const Items items = numbered(filled);  // the model reads the screen's lists in place
        PatchListTableModel model(items, banks);
        model.setNumberOfSlotsInBlank(filled ? 5 : 0);
        EXPECT_EQ(model.rowCount(), rows);
        for (int row = 0; row < rows; ++row) {
            const bool empty = static_cast<std::size_t>(row) >= filled;
            EXPECT_EQ(model.index(row, 0).data(PatchListTableModel::IsEmptyRowRole).toBool(), empty) << row;
            EXPECT_EQ(model.patchItemAt(row) != nullptr, !empty) << row;
            EXPECT_EQ(model.index(row, 0).data(PatchListTableModel::BankColorRole).isValid(), !empty) << row;
            EXPECT_EQ(model.flags(model.index(row, 1)).testFlag(Qt::ItemIsEditable), !empty) << row;
        }
        EXPECT_FALSE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable)) << "the bank is never edited";
    }
}

TEST(PatchListReorder, MovesTheRowsInTheirOrderAndNamesTheChangedSlots)
{
    using Range = std::optional<std::pair<std::uint64_t, std::uint64_t>>;
    const struct {
        std::vector<std::uint64_t> rows;
        std::uint64_t to;
        std::string order;
        std::uint64_t target, count;
        Range range;
    } cases[] = {
        {{2, 5}, 8, "0 1 3 4 6 7 2 5 8 9", 6, 2, std::pair{2u, 6u}},
        {{7, 8}, 1, "0 7 8 1 2 3 4 5 6 9", 1, 2, std::pair{1u, 8u}},
        // Its own place, just before or just after itself.
        {{3}, 3, "0 1 2 3 4 5 6 7 8 9", 3, 1, std::nullopt},
        {{3}, 4, "0 1 2 3 4 5 6 7 8 9", 3, 1, std::nullopt},
        // Past the end: the target is the list's end, filler rows are not moved.
        {{3, 40}, 99, "0 1 2 4 5 6 7 8 9 3", 9, 1, std::pair{3u, 7u}},
        {{40}, 2, "0 1 2 3 4 5 6 7 8 9", 0, 0, std::nullopt},
        {{}, 2, "0 1 2 3 4 5 6 7 8 9", 0, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.order);
        Items items = numbered(10);
        const auto result = PatchListReorder::move(items, c.rows, c.to);
        std::string order;
        for (const auto& each : items) order += (order.empty() ? "" : " ") + each->patchName;
        EXPECT_EQ(order, c.order);
        EXPECT_EQ(result.count, c.count);
        if (c.count) {
            EXPECT_EQ(result.target, c.target);
        }
        ASSERT_EQ(result.changedRange.has_value(), c.range.has_value());
        if (c.range) {
            EXPECT_EQ(std::pair(result.changedRange->location, result.changedRange->length), *c.range);
        }
    }
}

Node node(const std::string& name, bool group = false, bool incompatible = false, std::vector<Node> children = {})
{
    Node made = group ? groupNode(name, std::move(children)) : patchNode(name);
    made->isIncompatible = incompatible;
    return made;
}

PatchPoolRules::BankItems banks(int count)
{
    // A negative count: one slot with an empty label.
    if (count < 0) return {std::make_shared<BankItem>()};
    PatchPoolRules::BankItems items;
    for (int i = 0; i < count; ++i) {
        items.push_back(std::make_shared<BankItem>());
        items.back()->bankName = "b" + std::to_string(i + 1);
    }
    return items;
}

TEST(PatchPoolRulesTest, BackupAllChildrenAreLabelledWithTheSlotTheyRestoreInto)
{
    const Node p1 = node("P1"), p2 = node("P2", false, true), p3 = node("P3");
    const Node group = groupNode("Backup", {p1, p2, p3}, true), ordinary = node("Drums", true, false, {node("P4")});
    const struct {
        Node item;
        const DirectoryObject* parent;
        int slotCount;
        const DirectoryObject* editing;
        std::string text;
        bool incompatible;
    } cases[] = {
        {p1, group.get(), 50, nullptr, "b1: P1", false}, {p2, group.get(), 50, nullptr, "P2", true},
        {p3, group.get(), 50, nullptr, "b2: P3", false}, {p1, group.get(), 1, nullptr, "b1: P1", false},
        {p3, group.get(), 1, nullptr, "P3", false},      {p3, group.get(), 0, nullptr, "P3", false},
        {p1, group.get(), -1, nullptr, "P1", false},
        // The row being renamed shows the name alone.
        {p3, group.get(), 50, p3.get(), "P3", false},
        {ordinary->childDirectories[0], ordinary.get(), 50, nullptr, "P4", false},
        {p1, nullptr, 50, nullptr, "P1", false},
    };
    for (const auto& c : cases) {
        const auto title = PatchPoolRules::titleForItem(*c.item, c.parent, c.editing, banks(c.slotCount));
        EXPECT_EQ(title.text, c.text) << *c.item->name << " with " << c.slotCount << " slots";
        EXPECT_EQ(title.incompatible, c.incompatible) << *c.item->name;
    }
}

TEST(PatchPoolRulesTest, CtrlClickJoinsOnlyPatchesOfTheSameParent)
{
    // Rows: 0 top patch A, 1 top patch B, 2 group G, 3 G/C, 4 G/D, 5 group H, 6 H/E, 7 top patch F.
    const Node a = node("A"), b = node("B"), c = node("C"), d = node("D"), e = node("E"), f = node("F");
    const Node g = node("G", true, false, {c, d}), h = node("H", true, false, {e});
    const std::vector<PatchPoolRules::Row> rows = {{a.get(), nullptr}, {b.get(), nullptr}, {g.get(), nullptr},
                                                   {c.get(), g.get()}, {d.get(), g.get()}, {h.get(), nullptr},
                                                   {e.get(), h.get()}, {f.get(), nullptr}};
    const auto rowAt = [&](int row) { return rows[static_cast<std::size_t>(row)]; };
    const std::tuple<std::vector<int>, int, std::vector<int>> cases[] = {
        {{0, 1}, 1, {0}},  // a selected row leaves the selection
        {{0}, 2, {2}},     // a group is selected alone
        {{3}, 4, {3, 4}},  // a patch of the same group joins
        {{0}, 7, {0, 7}},  // top-level patches share the top level
        {{2}, 3, {3}},     // a group selected: the patch alone
        {{3}, 6, {6}},     // a patch of another group: alone
        {{3}, 0, {0}},     // a group's patch and a top-level patch differ
        {{}, 4, {4}},
    };
    for (const auto& [selected, clicked, expected] : cases)
        EXPECT_EQ(PatchPoolRules::commandClickSelection(selected, clicked, rowAt), expected) << "clicked " << clicked;
}

TEST(PatchPoolRulesTest, ADragCarriesTheSelectionOnlyWhenPressedInsideIt)
{
    const std::tuple<const char*, std::vector<int>, int, std::vector<int>> cases[] = {
        {"pressed on a selected row: the selection", {1, 3, 4}, 3, {1, 3, 4}},
        {"pressed outside it: the row pressed", {1, 3}, 2, {2}},
        {"nothing selected: the row pressed", {}, 5, {5}},
        {"below the rows: nothing", {1}, -1, {}},
    };
    for (const auto& [name, selected, pressed, dragged] : cases)
        EXPECT_EQ(PatchPoolRules::draggedRows(selected, pressed), dragged) << name;
}

TEST(PatchPoolRulesTest, RestoreAllModeFollowsTheFirstSelectedRowAndClicksInsideTheSelection)
{
    const Node backup = groupNode("Backup", {}, true), group = node("Drums", true), patch = node("P");
    EXPECT_TRUE(PatchPoolRules::restoreAllModeForSelection(backup.get()));
    for (const DirectoryObject* other : {group.get(), patch.get(), static_cast<DirectoryObject*>(nullptr)})
        EXPECT_FALSE(PatchPoolRules::restoreAllModeForSelection(other));
    EXPECT_EQ(PatchPoolRules::restoreAllModeForClick(backup.get(), true), true);
    EXPECT_EQ(PatchPoolRules::restoreAllModeForClick(patch.get(), true), false);
    EXPECT_EQ(PatchPoolRules::restoreAllModeForClick(backup.get(), false), std::nullopt);
}

TEST(PatchPoolRulesTest, EntriesAreWalkedForwardAboveAndOntoAndBackwardBelow)
{
    for (const std::int64_t position : {0, 1, 2}) {
        std::vector<std::int64_t> walked;
        for (std::int64_t i = PatchPoolRules::getStartPointWithArrayCount(3, position);
             PatchPoolRules::getStopConditionArrayCount(3, i, position); i = PatchPoolRules::getNextPointWithIterator(i, position))
            walked.push_back(i);
        EXPECT_EQ(walked, (position == 2 ? std::vector<std::int64_t>{2, 1, 0} : std::vector<std::int64_t>{0, 1, 2}));
    }
}

TEST(PatchPoolRulesTest, ADropOntoADraggedItemGoesBelowTheNearestItemAboveNotDragged)
{
    const Node a = node("A"), b = node("B"), c = node("C"), d = node("D");
    const PatchPoolRules::Nodes container = {a, b, c, d};
    const struct {
        const char* what;
        PoolSelectionEntries dragged;
        Node onto;
        std::int64_t position;
        PatchPoolRules::Nodes in;
        Node target;
        std::int64_t draggingPosition;
    } cases[] = {
        {"onto a dragged item", {{nullptr, b}, {nullptr, c}}, c, 1, container, a, 2},
        {"above one not dragged", {{nullptr, b}, {nullptr, c}}, d, 0, container, d, 0},
        // Nothing undragged above: the block keeps the top, above the first item below it not dragged.
        {"nothing above", {{nullptr, a}, {nullptr, b}}, b, 0, container, c, 0},
        // The last items dragged keep their place below the nearest item above.
        {"the last items", {{nullptr, c}, {nullptr, d}}, d, 2, container, b, 2},
        // A container dragged whole has nowhere to go.
        {"the whole container", {{nullptr, a}, {nullptr, b}}, a, 1, {a, b}, nullptr, -1},
    };
    for (const auto& each : cases) {
        const auto drop = PatchPoolRules::dropOntoDraggedItem(each.dragged, each.onto, each.position, each.in);
        EXPECT_EQ(drop.target, each.target) << each.what;
        if (each.target) {
            EXPECT_EQ(drop.draggingPosition, each.draggingPosition) << each.what;
        }
    }
}

TEST(PatchPoolRulesTest, ABlockDroppedWhereItIsLeavesTheOrderAsItIs)
{
    const Node a = node("A"), b = node("B"), e = node("E"), x = node("X");
    const std::tuple<PatchPoolRules::Nodes, Node, std::int64_t, bool> cases[] = {
        {{a, b}, e, 0, true},  {{a, b}, e, 2, false}, {{b}, a, 2, true},   {{b}, e, 0, true},
        {{a}, e, 0, false},    {{b, e}, a, 2, true},   {{b, e}, nullptr, 1, true}, {{e, b}, a, 2, false},
        {{x}, e, 2, false},    {{}, a, 0, true},
    };
    for (const auto& [block, target, position, unchanged] : cases)
        EXPECT_EQ(PatchPoolRules::leavesOrderAsItIs({a, b, e}, block, target, position), unchanged)
            << block.size() << " items, position " << position;
}

TEST(PatchPoolRulesTest, ANewGroupTakesTheFirstFreeNumber)
{
    const std::pair<std::set<std::string>, std::string> cases[] = {
        {{}, "New Patch Group 1"},
        {{"New Patch Group 1", "New Patch Group 2"}, "New Patch Group 3"},
        {{"New Patch Group 2"}, "New Patch Group 1"},
        {{"New Patch Group 1", "New Patch Group 3"}, "New Patch Group 2"},
    };
    for (const auto& row : cases) {
        const auto& existing = row.first;
        EXPECT_EQ(PatchPoolRules::newGroupName([&](const std::string& name) { return existing.count(name) > 0; }), row.second);
    }
}

// A list "ABCDE" from which the items named went, and then those named as gone since (a copy that failed
// after the deletion) or come since (an addition), put back all at once: each after the nearest of its
// former neighbours before it that the list still holds, in their former order.
TEST(NeighbourPutBack, EachComesBackAfterItsNearestFormerNeighbourStillThere)
{
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        {"BD", "", "", "ABCDE"},  {"AE", "", "", "ABCDE"}, {"BCD", "", "", "ABCDE"}, {"ABCDE", "", "", "ABCDE"},
        {"BD", "C", "", "ABDE"},  {"B", "A", "", "BCDE"},  {"DB", "", "", "ABCDE"},  {"BD", "", "X", "XABCDE"},
        {"A", "", "X", "AXBCDE"}, {"CDE", "AB", "", "CDE"},
    };
    for (const auto& [deleted, goneSince, cameInFront, expected] : cases) {
        SCOPED_TRACE(deleted + " gone " + goneSince);
        std::map<char, Node> nodes;
        NeighbourPutBack::Nodes list;
        for (const char name : std::string("ABCDE")) list.push_back(nodes[name] = patchNode(std::string(1, name)));
        const auto neighbours = std::make_shared<const NeighbourPutBack::Neighbours>(list.begin(), list.end());
        for (const std::string& names : {deleted, goneSince})
            std::erase_if(list, [&](const Node& each) { return names.find(each->name->front()) != std::string::npos; });
        for (const char name : cameInFront) list.insert(list.begin(), patchNode(std::string(1, name)));
        NeighbourPutBack putBack;
        // The undo puts back the last deleted first.
        for (auto name = deleted.rbegin(); name != deleted.rend(); ++name)
            putBack.add(list, neighbours, std::string("ABCDE").find(*name), nodes[*name]);
        EXPECT_FALSE(putBack.empty());
        putBack.place();
        EXPECT_TRUE(putBack.empty());
        std::string now;
        for (const Node& each : list) now += each->name.value_or("?");
        EXPECT_EQ(now, expected);
    }
}

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

// The program's own folder, holding one pool patch, beside the folders a drop comes from.
class DroppedPathsTest : public ::testing::Test {
protected:
    DroppedPathsTest()
    {
        fs::create_directories(own / "Temp/Local");
        std::ofstream(own / "Temp/Local/x.qptc") << "patch";
    }
    TemporaryFolder folder;
    const std::string base = folder.path();
    const fs::path own = fs::path(base) / "PEXO Rigmora";
};

TEST_F(DroppedPathsTest, FileURLsDecodeToTheBytesTheyName)
{
    using namespace std::string_literals;
    const std::string list = "# a comment line\r\n"
                             "file:///m/a%20b.qptc\r\n"
                             "http://example.invalid/c.qptc\r\n"
                             "file://localhost/m/%FF%FE.qptc\r\n"
                             "file://elsewhere/m/d.qptc\r\n"
                             "FILE:/m/e.qptc?x#y\n"
                             "  file:///m/%E3%81%82.qptc  \n"
                             "\r\n";
    EXPECT_EQ(DroppedPaths::localPathsOfUriList(list),
              (Paths{"/m/a b.qptc", "/m/\xFF\xFE.qptc", "/m/e.qptc", "/m/\xE3\x81\x82.qptc"}));
    // What the checks must see as sent: a NUL escaped or raw, and a relative path.
    EXPECT_EQ(DroppedPaths::localPathOfFileURL("file:///m/kept(1).txt%00x.qptc"), "/m/kept(1).txt\0x.qptc"s);
    EXPECT_EQ(DroppedPaths::localPathsOfUriList("file:///m/kept(1).txt\0x.qptc\r\n"s), (Paths{"/m/kept(1).txt\0x.qptc"s}));
    EXPECT_EQ(DroppedPaths::localPathOfFileURL("file:Temp/Local/x.qptc"), "Temp/Local/x.qptc");
    EXPECT_EQ(DroppedPaths::localPathOfFileURL("file:../../etc/passwd"), "../../etc/passwd");
}

TEST_F(DroppedPathsTest, ADropIsRefusedWholeForAnyPathThatIsNotPlainlyOutsideTheProgram)
{
    using namespace std::string_literals;
    fs::create_directories(base + "/PEXO Rigmora old");
    fs::create_directories(base + "/elsewhere");
    fs::create_directory_symlink(own, base + "/alias");
    fs::create_symlink(own / "Temp/Local/x.qptc", base + "/elsewhere/x.qptc");

    const struct { const char* what; std::string path; bool refused; } cases[] = {
        {"an ordinary file", base + "/elsewhere/y.qptc", false},
        {"a sibling whose name starts like the own folder", base + "/PEXO Rigmora old/y.qptc", false},
        {"a name that is not UTF-8", base + "/elsewhere/\xFF\xFE.qptc", false},
        {"a NUL", base + "/elsewhere/kept(1).txt\0x.qptc"s, true},
        {"a line feed", base + "/elsewhere/a\nb.qptc", true},
        {"DEL", base + "/elsewhere/a\x7F.qptc", true},
        {"a C1 control", base + "/elsewhere/a\xC2\x85.qptc", true},
        {"a relative path", "Temp/Local/x.qptc", true},
        {"a climbing path", "../../x.qptc", true},
        {"the own folder", own.string() + "/Temp/Local/x.qptc", true},
        {"the own folder through a folder link", base + "/alias/Temp/Local/x.qptc", true},
        {"a file link into the own folder", base + "/elsewhere/x.qptc", true},
        {"a climb back into the own folder", base + "/elsewhere/../PEXO Rigmora/Temp/Local/x.qptc", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DroppedPaths::refusesDrop({base + "/elsewhere/ok.qptc", c.path}, own.string()), c.refused) << c.what;
    // The own folder given through a link, or with a trailing separator, is the same folder.
    EXPECT_TRUE(DroppedPaths::refusesDrop({own.string() + "/Temp/Local/x.qptc"}, base + "/alias"));
    EXPECT_TRUE(DroppedPaths::refusesDrop({own.string() + "/Temp/Local/x.qptc"}, own.string() + "/"));
    EXPECT_FALSE(DroppedPaths::refusesDrop({base + "/PEXO Rigmora old/y.qptc"}, own.string() + "/"));
}

// Many files from one folder are judged from one look at the folder, with the same answers as one file.
TEST_F(DroppedPathsTest, ManyFilesFromOneFolderAreJudgedAsEachWouldBeAlone)
{
    const fs::path base(this->base);
    fs::create_directories(base / "many");
    Paths many;
    for (int i = 0; i < 100; ++i) {
        many.push_back((base / "many" / ("p" + std::to_string(i) + ".qptc")).string());
        std::ofstream(many.back()) << "patch";
    }
    // Links out of the program's folder, and names the drop gives that are not there, are the folder's.
    fs::create_symlink(base / "many/p0.qptc", base / "many/elsewhere.qptc");
    fs::create_symlink(base / "many/missing.qptc", own / "Temp/Local/out.qptc");
    Paths fine = many;
    fine.push_back((base / "many/elsewhere.qptc").string());
    fine.push_back((base / "many/not there.qptc").string());
    fine.push_back((base / "many/../many/p1.qptc").string());
    EXPECT_FALSE(DroppedPaths::refusesDrop(fine, own.string()));

    fs::create_symlink(own / "Temp/Local/x.qptc", base / "many/inside.qptc");
    Paths withALink = many;
    withALink.insert(withALink.begin() + 50, (base / "many/inside.qptc").string());
    EXPECT_TRUE(DroppedPaths::refusesDrop(withALink, own.string()));

    // The whole folder reached through a link into the program's folder.
    fs::create_directory_symlink(own / "Temp/Local", base / "many/local");
    Paths throughALink;
    for (int i = 0; i < 40; ++i) throughALink.push_back((base / "many/local" / ("q" + std::to_string(i) + ".qptc")).string());
    EXPECT_TRUE(DroppedPaths::refusesDrop(throughALink, own.string()));
    EXPECT_TRUE(DroppedPaths::refusesDrop({(base / "many/local/x.qptc").string()}, own.string()));
}

using Rules = PatchPoolDragRules;

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
