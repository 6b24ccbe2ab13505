#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>


#include "library/undo/DragFromPoolToListAction.h"
#include "PatchCases.h"

namespace testing_app {
namespace {

class PatchDropDispatcherTest : public PatchScreenCases {
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
    // What the drag the views hold now answers when it is dropped at `destination`.
    std::vector<std::int64_t> promise(const std::string& destination)
    {
        return screen->namesOfPromisedFilesDroppedAtDestination(destination, screen->draggedContent(poolDrag().isDragging));
    }
    PatchListDragState& listDrag() { return list().dragState(); }
    PoolDragState& poolDrag() { return pool().dragState(); }
    void dragFromPool(const std::vector<Node>& items)
    {
        poolDrag().isDragging = true;
        poolDrag().draggedContainers.clear();
        for (const Node& item : items) poolDrag().draggedContainers.push_back({nullptr, item});
    }
    Names infoWrites() const
    {
        Names result;
        for (const auto& write : coordinator.infoWrites)
            result.push_back(std::filesystem::path(write.source).filename().string() + " -> " + write.toPath + " " +
                             std::to_string(write.info.copiedToFinder) + " " + std::to_string(write.info.index));
        return result;
    }
    QTemporaryDir root;
    // A staging folder of the screen's, as another program taking a drag is handed.
    std::string folder, newGroup;
};

// Into a folder: one file, or a new group folder holding the files with their indexes and the groups'
// folders; into the pool, list rows answer their rows and write nothing. The drag is its view's until it ends.
TEST_F(PatchDropDispatcherTest, ADragAnswersItsDestinationAndWritesItsFilesThere)
{
    const Node group = groupNode("G", {patchNode("g1")});
    const struct {
        const char* what;
        Rows listRows;  // dragged from the list, else
        std::vector<Node> poolItems;
        std::string destination;
        std::vector<std::int64_t> answer;
        Names written;  // the files, then the groups' folders
    } cases[] = {
        {"a list row into a folder", {4}, {}, folder, {}, {"P4.qptc -> " + folder + " 1 -1"}},
        {"list rows into a folder", {7, 2, 5}, {}, folder, {},
         {"P2.qptc -> " + newGroup + " 1 0", "P5.qptc -> " + newGroup + " 1 1", "P7.qptc -> " + newGroup + " 1 2"}},
        {"list rows into the pool", {6, 3}, {}, PatchManagerViewController::kRightPanel, {3, 6}, {}},
        {"a pool group into a folder", {}, {group}, folder, {}, {"copyGroup G -> " + folder}},
        {"pool items into a folder", {}, {patchNode("A"), group}, folder, {},
         {"A.qptc -> " + newGroup + " 1 -1", "copyGroup G -> " + newGroup}},
    };
    loadWithPaths(10, "/dev/");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        coordinator.infoWrites.clear();
        log.clear();
        listDrag().isDraggingFromTable = !c.listRows.empty();
        listDrag().draggedIndexSet = c.listRows;
        poolDrag().isDragging = false;
        if (!c.poolItems.empty()) dragFromPool(c.poolItems);
        EXPECT_EQ(promise(c.destination), c.answer);
        EXPECT_EQ(listDrag().isDraggingFromTable, !c.listRows.empty());
        EXPECT_EQ(poolDrag().isDragging, !c.poolItems.empty());
        Names written = infoWrites();
        for (const std::string& line : loggedWith("copyGroup")) written.push_back(line);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(records(), 0u);
    }
}

// Another program may ask for a drag's files even once the drag is over.
TEST_F(PatchDropDispatcherTest, ADragAnswersFromWhatItCarriedAndWritesOnlyWhereTheProgramKeepsFiles)
{
    loadWithPaths(10, "/dev/");
    listDrag().draggedIndexSet = {2};
    dragFromPool({patchNode("A")});
    const auto poolContent = screen->draggedContent(true);
    poolDrag().draggingDidEnd();
    screen->namesOfPromisedFilesDroppedAtDestination(folder, poolContent);
    EXPECT_EQ(infoWrites(), Names{"A.qptc -> " + folder + " 1 -1"});
    // Nowhere else: not a folder the program did not make, nor a made-up destination of the other view.
    coordinator.infoWrites.clear();
    screen->namesOfPromisedFilesDroppedAtDestination("/home/u/Desktop", poolContent);
    screen->namesOfPromisedFilesDroppedAtDestination(PatchManagerViewController::kRightPanel, poolContent);
    const auto listContent = screen->draggedContent(false);
    screen->namesOfPromisedFilesDroppedAtDestination("/home/u/Desktop", listContent);
    EXPECT_TRUE(screen->namesOfPromisedFilesDroppedAtDestination(PatchManagerViewController::kPatchListPanel, listContent).empty());
    EXPECT_TRUE(coordinator.infoWrites.empty());
    EXPECT_EQ(loggedWith("copyGroup"), Names{});
    EXPECT_EQ(names()[2], "P2");
    EXPECT_EQ(records(), 0u);
}

TEST_F(PatchDropDispatcherTest, TheModelsBackupDroppedOnTheListRestoresItAndWritesNothingElse)
{
    loadWithPaths(30, "/dev/");
    coordinator.sameModelGroups = {"Backup"};
    listDrag().row = 7;
    dragFromPool({patchNode("before"), groupNode("Backup", {patchNode("b1"), patchNode("b2")}, true), patchNode("after")});
    promise(PatchManagerViewController::kPatchListPanel);
    EXPECT_EQ(namesAt(0, 3), (Names{"b1", "b2", "P2"}));
    EXPECT_EQ(names()[7], "P7");
    EXPECT_TRUE(coordinator.infoWrites.empty());
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_TRUE(coordinator.writes[0].second.empty()) << "the whole list in one write";
}

TEST_F(PatchDropDispatcherTest, DroppedFilesReplaceOnlySlotsOfATwentySlotDevice)
{
    loadWithPaths(20, "/dev/");
    PatchScreen::PatchItems items{patch("x"), patch("y"), patch("z")};
    screen->replaceItemByDragging(items, 18);
    EXPECT_EQ(names().size(), 20u);
    EXPECT_EQ(namesAt(18, 2), (Names{"x", "y"}));
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_EQ(coordinator.writes[0].second, (std::vector<std::int64_t>{18, 19}));
    EXPECT_EQ(lastRecord<DragFromPoolToListAction>()->mIndex, 18u);
    EXPECT_EQ(lastRecord<DragFromPoolToListAction>()->mItems.size(), 2u);
    // Past the device: nothing.
    screen->replaceItemByDragging(items, 25);
    EXPECT_EQ(records(), 1u);
}

TEST_F(PatchDropDispatcherTest, TheValidationKeepsTheProposedRowAndMarksADropAboveAFillerRow)
{
    loadWithPaths(10, "/dev/");
    EXPECT_EQ(screen->validateDrop(4, true), 4);
    EXPECT_EQ(listDrag().row, 4);
    EXPECT_FALSE(listDrag().isDraggingToLastLine);
    screen->validateDrop(35, true);
    EXPECT_TRUE(listDrag().isDraggingToLastLine);
    screen->validateDrop(35, false);
    EXPECT_FALSE(listDrag().isDraggingToLastLine);
}

TEST_F(PatchDropDispatcherTest, TheCountsOfEachViewsDrag)
{
    loadWithPaths(10, "/dev/");
    coordinator.sameModelGroups = {"Backup"};
    dragFromPool({patchNode("a"), groupNode("G", {patchNode("g1"), unfitPatch("g2")})});
    EXPECT_EQ(screen->numberOfDraggedItems(), 2);
    dragFromPool({patchNode("a"), groupNode("Backup", {patchNode("b1")}, true)});
    EXPECT_EQ(list().dropHandlers().numberOfDraggedItems(), -1);
}

}  // namespace
}  // namespace testing_app
