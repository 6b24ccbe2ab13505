#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

#include <algorithm>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "support/app/PatchScreenRig.h"
#include "support/app/PoolNodes.h"

namespace testing_app {
namespace {

using Node = std::shared_ptr<DirectoryObject>;

class PatchDropDispatcherTest : public PatchScreenRig {
protected:
    void SetUp() override
    {
        coordinator.application = root.path().toStdString();
        folder = screen->makeDragStagingFolder();
        newGroup = folder + "/New Patch Group 20261207 13-04-05";
        screen->setDropClock([] {
            return std::chrono::system_clock::time_point(
                std::chrono::seconds(QDateTime(QDate(2026, 12, 7), QTime(13, 4, 5)).toSecsSinceEpoch()));
        });
    }
    void loadWithPaths(std::size_t count)
    {
        load(count);
        for (const auto& item : screen->patchItems()) item->path = "/dev/" + item->patchName + ".qptc";
    }
    // What the drag the views hold now answers when it is dropped at `destination`.
    std::vector<std::int64_t> promise(const std::string& destination)
    {
        return screen->namesOfPromisedFilesDroppedAtDestination(destination, screen->draggedContent(pool().isDragging));
    }
    PatchListDragState& list() { return screen->patchManagerTableView()->dragState(); }
    PoolDragState& pool() { return screen->rightPanelOutlineView()->dragState(); }
    void dragFromPool(const std::vector<Node>& items)
    {
        pool().isDragging = true;
        pool().draggedContainers.clear();
        for (const Node& item : items) pool().draggedContainers.push_back({nullptr, item});
    }
    std::vector<std::string> infoWrites() const
    {
        std::vector<std::string> result;
        for (const auto& write : coordinator.infoWrites)
            result.push_back(std::filesystem::path(write.source).filename().string() + " -> " + write.toPath + " " +
                             std::to_string(write.info.copiedToFinder) + " " + std::to_string(write.info.index));
        return result;
    }
    std::shared_ptr<DragFromPoolToListAction> lastRecord() const
    {
        return undo.actionStack().empty() ? nullptr
                                          : std::dynamic_pointer_cast<DragFromPoolToListAction>(undo.actionStack().front());
    }
    QTemporaryDir root;
    // A staging folder of the screen's, as another program taking a drag is handed.
    std::string folder;
    std::string newGroup;
};

TEST_F(PatchDropDispatcherTest, ListRowsGoIntoAFolderOneFileOrANewGroupFolderWithIndexes)
{
    loadWithPaths(10);
    list().isDraggingFromTable = true;
    list().draggedIndexSet = {4};
    EXPECT_TRUE(promise(folder).empty());
    // The drag is the list's until it ends.
    EXPECT_TRUE(list().isDraggingFromTable);
    EXPECT_EQ(infoWrites(), (std::vector<std::string>{"P4.qptc -> " + folder + " 1 -1"}));

    coordinator.infoWrites.clear();
    list().draggedIndexSet = {7, 2, 5};
    promise(folder);
    EXPECT_EQ(infoWrites(), (std::vector<std::string>{"P2.qptc -> " + newGroup + " 1 0", "P5.qptc -> " + newGroup + " 1 1",
                                                      "P7.qptc -> " + newGroup + " 1 2"}));
}

TEST_F(PatchDropDispatcherTest, ListRowsDroppedInThePoolAnswerTheirRowsAndWriteNothing)
{
    loadWithPaths(10);
    list().isDraggingFromTable = true;
    list().draggedIndexSet = {6, 3};
    EXPECT_EQ(promise(PatchManagerViewController::kRightPanel),
              (std::vector<std::int64_t>{3, 6}));
    EXPECT_TRUE(coordinator.infoWrites.empty());
    EXPECT_TRUE(undo.actionStack().empty());
}

TEST_F(PatchDropDispatcherTest, PoolItemsGoIntoAFolderAsFilesAndGroupFolders)
{
    loadWithPaths(10);
    const Node group = poolGroup("G", {poolPatch("g1")});
    dragFromPool({group});
    promise(folder);
    EXPECT_TRUE(pool().isDragging);
    EXPECT_EQ(std::count(log.begin(), log.end(), "copyGroup G -> " + folder), 1);
    EXPECT_TRUE(coordinator.infoWrites.empty());

    log.clear();
    dragFromPool({poolPatch("A"), group});
    promise(folder);
    EXPECT_EQ(std::count(log.begin(), log.end(), "copyGroup G -> " + newGroup), 1);
    EXPECT_EQ(infoWrites(), (std::vector<std::string>{"A.qptc -> " + newGroup + " 1 -1"}));
}

// Another program may ask for a drag's files at any time, even once the drag is over: the drag answers
// from what it carried when it started, and files go only into a staging folder of the program's.
TEST_F(PatchDropDispatcherTest, ADragAnswersFromWhatItCarriedAndWritesOnlyWhereTheProgramKeepsFiles)
{
    loadWithPaths(10);
    list().draggedIndexSet = {2};
    dragFromPool({poolPatch("A")});
    const auto poolDrag = screen->draggedContent(true);
    pool().draggingDidEnd();
    screen->namesOfPromisedFilesDroppedAtDestination(folder, poolDrag);
    EXPECT_EQ(infoWrites(), (std::vector<std::string>{"A.qptc -> " + folder + " 1 -1"}));

    // Nowhere else: not a folder the program did not make, nor a made-up destination of the other view.
    coordinator.infoWrites.clear();
    screen->namesOfPromisedFilesDroppedAtDestination("/home/u/Desktop", poolDrag);
    screen->namesOfPromisedFilesDroppedAtDestination(PatchManagerViewController::kRightPanel, poolDrag);
    const auto listDrag = screen->draggedContent(false);
    screen->namesOfPromisedFilesDroppedAtDestination("/home/u/Desktop", listDrag);
    EXPECT_TRUE(screen->namesOfPromisedFilesDroppedAtDestination(PatchManagerViewController::kPatchListPanel, listDrag).empty());
    EXPECT_TRUE(coordinator.infoWrites.empty());
    EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](const std::string& line) { return line.rfind("copyGroup", 0) == 0; }));
    EXPECT_EQ(names()[2], "P2");
    EXPECT_TRUE(undo.actionStack().empty());
}

TEST_F(PatchDropDispatcherTest, AGroupOfFourOnRowTenReplacesFourSlotsWithOneRecordAndOneWrite)
{
    loadWithPaths(30);
    list().row = 10;
    dragFromPool({poolGroup("Four", {poolPatch("f1"), poolPatch("f2"), poolPatch("bad", true), poolPatch("f3"),
                                     poolPatch("f4")})});
    promise(PatchManagerViewController::kPatchListPanel);
    EXPECT_EQ(names()[10], "f1");
    EXPECT_EQ(names()[13], "f4");
    EXPECT_EQ(names()[14], "P14");
    // Working copies, each re-pointed at its copy.
    EXPECT_EQ(screen->patchItems()[10]->path, coordinator.application + "/Device/Patch/f1.qptc");
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_EQ(coordinator.writes[0].second, (std::vector<std::int64_t>{10, 11, 12, 13}));
    ASSERT_EQ(undo.actionStack().size(), 1u);
    const auto record = lastRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->mIndex, 10u);
    ASSERT_EQ(record->mItems.size(), 4u);
    EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(record->mItems[0])->patchName, "P10");
    EXPECT_TRUE(screen->patchManagerTableView()->isDropped());
    EXPECT_EQ(screen->patchManagerTableView()->selectedRows(), (std::vector<std::uint64_t>{10, 11, 12, 13}));
}

TEST_F(PatchDropDispatcherTest, FivePatchesOnTheSecondToLastSlotReplaceOnlyTheLastTwo)
{
    loadWithPaths(30);
    list().row = 28;
    dragFromPool({poolPatch("a"), poolPatch("b"), poolPatch("c"), poolPatch("d"), poolPatch("e")});
    promise(PatchManagerViewController::kPatchListPanel);
    EXPECT_EQ(names().size(), 30u);
    EXPECT_EQ(names()[28], "a");
    EXPECT_EQ(names()[29], "b");
    // Only the two slots' copies were made.
    EXPECT_EQ(coordinator.infoWrites.size(), 2u);
    ASSERT_EQ(lastRecord()->mItems.size(), 2u);
}

TEST_F(PatchDropDispatcherTest, AFailedWorkingCopyEndsThePlacingSoTheRecordStaysOneRun)
{
    loadWithPaths(30);
    list().row = 5;
    coordinator.failingCopies = {"b"};
    dragFromPool({poolPatch("a"), poolPatch("b"), poolPatch("c")});
    promise(PatchManagerViewController::kPatchListPanel);
    EXPECT_EQ(names()[5], "a");
    EXPECT_EQ(names()[6], "P6");
    EXPECT_EQ(names()[7], "P7");
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_EQ(coordinator.writes[0].second, (std::vector<std::int64_t>{5}));
    EXPECT_EQ(lastRecord()->mItems.size(), 1u);

    // Nothing placed: no write and no record.
    coordinator.writes.clear();
    coordinator.failingCopies = {"a"};
    dragFromPool({poolPatch("a")});
    promise(PatchManagerViewController::kPatchListPanel);
    EXPECT_TRUE(coordinator.writes.empty());
    EXPECT_EQ(undo.actionStack().size(), 1u);
}

TEST_F(PatchDropDispatcherTest, TheModelsBackupDroppedOnTheListRestoresItAndWritesNothingElse)
{
    loadWithPaths(30);
    coordinator.sameModelGroups = {"Backup"};
    list().row = 7;
    const Node backup = poolGroup("Backup", {poolPatch("b1"), poolPatch("b2")}, true);
    dragFromPool({poolPatch("before"), backup, poolPatch("after")});
    promise(PatchManagerViewController::kPatchListPanel);
    EXPECT_EQ(names()[0], "b1");
    EXPECT_EQ(names()[1], "b2");
    EXPECT_EQ(names()[7], "P7");
    EXPECT_TRUE(coordinator.infoWrites.empty());
    ASSERT_EQ(coordinator.writes.size(), 1u);
    // The whole list in one write.
    EXPECT_TRUE(coordinator.writes[0].second.empty());

    // A backup of another model is copied like a group.
    coordinator.writes.clear();
    coordinator.sameModelGroups.clear();
    list().row = 7;
    dragFromPool({backup});
    promise(PatchManagerViewController::kPatchListPanel);
    EXPECT_EQ(names()[7], "b1");
    EXPECT_EQ(names()[8], "b2");
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_EQ(coordinator.writes[0].second, (std::vector<std::int64_t>{7, 8}));
}

TEST_F(PatchDropDispatcherTest, AnIncompatibleOnlyDropChangesNothing)
{
    loadWithPaths(10);
    list().row = 0;
    dragFromPool({poolPatch("x", true), poolGroup("Empty", {})});
    promise(PatchManagerViewController::kPatchListPanel);
    EXPECT_EQ(names()[0], "P0");
    EXPECT_TRUE(coordinator.writes.empty());
    EXPECT_TRUE(undo.actionStack().empty());
    EXPECT_FALSE(screen->patchManagerTableView()->isDropped());
}

TEST_F(PatchDropDispatcherTest, DroppedFilesReplaceOnlySlotsOfATwentySlotDevice)
{
    loadWithPaths(20);
    std::vector<std::shared_ptr<PatchItem>> items;
    for (const char* name : {"x", "y", "z"}) {
        auto item = std::make_shared<PatchItem>();
        item->patchName = name;
        items.push_back(item);
    }
    screen->replaceItemByDragging(items, 18);
    EXPECT_EQ(names().size(), 20u);
    EXPECT_EQ(names()[18], "x");
    EXPECT_EQ(names()[19], "y");
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_EQ(coordinator.writes[0].second, (std::vector<std::int64_t>{18, 19}));
    EXPECT_EQ(lastRecord()->mIndex, 18u);
    EXPECT_EQ(lastRecord()->mItems.size(), 2u);
    // Past the device: nothing.
    screen->replaceItemByDragging(items, 25);
    EXPECT_EQ(undo.actionStack().size(), 1u);
}

TEST_F(PatchDropDispatcherTest, TheValidationKeepsTheProposedRowAndMarksADropAboveAFillerRow)
{
    loadWithPaths(10);
    EXPECT_EQ(screen->validateDrop(4, true), 4);
    EXPECT_EQ(list().row, 4);
    EXPECT_FALSE(list().isDraggingToLastLine);
    screen->validateDrop(35, true);
    EXPECT_TRUE(list().isDraggingToLastLine);
    screen->validateDrop(35, false);
    EXPECT_FALSE(list().isDraggingToLastLine);
}

TEST_F(PatchDropDispatcherTest, TheCountsOfEachViewsDrag)
{
    loadWithPaths(10);
    coordinator.sameModelGroups = {"Backup"};
    dragFromPool({poolPatch("a"), poolGroup("G", {poolPatch("g1"), poolPatch("g2", true)})});
    EXPECT_EQ(screen->numberOfDraggedItems(), 2);
    dragFromPool({poolPatch("a"), poolGroup("Backup", {poolPatch("b1")}, true)});
    EXPECT_EQ(screen->patchManagerTableView()->dropHandlers().numberOfDraggedItems(), -1);
}

}  // namespace
}  // namespace testing_app
