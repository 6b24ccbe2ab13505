#include <gtest/gtest.h>

#include <QCursor>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QWindow>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <filesystem>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/DropMarkerView.h"
#include "app/patch/PatchDragMimeData.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PoolNameEditor.h"
#include "library/models/DirectoryObject.h"
#include "support/app/PatchScreenRig.h"
#include "support/app/PoolNodes.h"

namespace testing_app {
namespace {

using Node = std::shared_ptr<DirectoryObject>;

// The screen shown offscreen with 30 slots and a pool of a patch, an open group of two and an open
// backup-all group of two; drags run through synthetic drag events with the views' own drag data.
class PatchDragAndDropTest : public PatchScreenRig {
protected:
    PatchDragAndDropTest()
    {
        coordinator.application = staging.path().toStdString();
        load(30);
        for (const auto& item : screen->patchItems()) item->path = "/dev/" + item->patchName + ".qptc";
        screen->setStructureData({a, g, backup});
        screen->view()->resize(1000, 1900);
        screen->view()->show();
        screen->reloadDataInPatchPool();
        list = screen->patchManagerTableView();
        pool = screen->rightPanelOutlineView();
        pool->expandAll();
        processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
        log.clear();
    }
    ~PatchDragAndDropTest() override { letGoOfTheDrag(); }

    // The platform sends a drag's moves to the view that last took its entry, until a leave: after a
    // refused entry a later test's moves would reach a view of this one once it is gone. A leave, sent
    // anywhere, goes to that view and lets go of it, so every test ends holding no drag.
    void letGoOfTheDrag() { leave(screen->view()); }

    QPoint listRow(int row, bool lower = false) const
    {
        return QPoint(100, list->rowViewportPosition(row) + (lower ? 40 : 10));
    }
    QPoint poolRow(const Node& node, int dy = 0) const
    {
        const QRect rect = pool->visualRect(pool->poolModel()->indexOf(node.get()));
        return QPoint(rect.center().x(), rect.center().y() + dy);
    }
    // Enters and moves over `target` at `at`; answers whether the move was accepted.
    static bool over(QWidget* target, QPoint at, const QMimeData* data, Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
    {
        QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        return move.isAccepted();
    }
    // Moves over `target`, which took the drag's entry already; answers whether the move was accepted.
    static bool moveOver(QWidget* target, QPoint at, const QMimeData* data)
    {
        QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        return move.isAccepted();
    }
    static bool drop(QWidget* target, QPoint at, const QMimeData* data)
    {
        QDropEvent event(QPointF(at), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    }
    static void leave(QWidget* target)
    {
        QDragLeaveEvent event;
        QApplication::sendEvent(target, &event);
    }
    // Drags the selected list rows; `during` plays the drag.
    void dragListRows(const std::vector<std::uint64_t>& rows, const std::function<void(PatchDragMimeData&)>& during)
    {
        list->setUpCurrentSelectionWithIndexSet(rows, false);
        list->setDragStarter([&](std::unique_ptr<PatchDragMimeData> data) { during(*data); });
        list->startRowDrag();
    }
    // Selects the pool rows, presses on the first (or on `pressed`) and moves 5 points.
    void dragPoolRows(const std::vector<Node>& nodes, const std::function<void(PatchDragMimeData&)>& during,
                      const Node& pressed = nullptr)
    {
        std::vector<int> rows;
        for (const Node& node : nodes) rows.push_back(pool->rowForIndex(pool->poolModel()->indexOf(node.get())));
        std::sort(rows.begin(), rows.end());
        pool->selectRows(rows);
        pool->setDragStarter([&](std::unique_ptr<PatchDragMimeData> data) { during(*data); });
        const QPoint at = poolRow(pressed ? pressed : nodes.front());
        QMouseEvent press(QEvent::MouseButtonPress, at, pool->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(pool->viewport(), &press);
        const QPoint to = at + QPoint(0, 5);
        QMouseEvent move(QEvent::MouseMove, to, pool->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(pool->viewport(), &move);
    }
    std::vector<Node> selectedInPool() const
    {
        std::vector<Node> nodes;
        QModelIndexList rows = pool->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end(), [this](const QModelIndex& x, const QModelIndex& y) {
            return pool->rowForIndex(x) < pool->rowForIndex(y);
        });
        for (const QModelIndex& row : rows) nodes.push_back(pool->poolModel()->nodeAt(row));
        return nodes;
    }
    static std::unique_ptr<QMimeData> files(const std::vector<std::string>& paths)
    {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const std::string& path : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
        data->setUrls(urls);
        return data;
    }

    QTemporaryDir staging;
    Node a = poolPatch("A"), c = poolPatch("C"), d = poolPatch("D"), g = poolGroup("G", {c, d});
    Node p1 = poolPatch("P1"), p2 = poolPatch("P2"), backup = poolGroup("Backup", {p1, p2}, true);
    CustomTableViewForPatch* list = nullptr;
    PatchPoolOutlineView* pool = nullptr;
};

TEST_F(PatchDragAndDropTest, ContiguousListRowsReorderAndRowsWithAGapNeverDropOnTheList)
{
    bool accepted = false;
    DropMarkerView* marker = nullptr;
    dragListRows({3, 4, 5}, [&](PatchDragMimeData& data) {
        accepted = over(list->viewport(), listRow(10), &data);
        marker = list->dropMarker();
        EXPECT_TRUE(drop(list->viewport(), listRow(10), &data));
    });
    EXPECT_TRUE(accepted);
    ASSERT_NE(marker, nullptr);
    // The top marker: its top edge above the row.
    EXPECT_EQ(marker->geometry().top(), list->rowViewportPosition(10) - 2 * DropMarkerView::kBorderWidth);
    EXPECT_EQ(names()[7], "P3");
    EXPECT_EQ(names()[9], "P5");
    EXPECT_FALSE(list->dragState().isDraggingFromTable);
    EXPECT_EQ(list->dropMarker(), nullptr);

    accepted = true;
    dragListRows({3, 5}, [&](PatchDragMimeData& data) {
        accepted = over(list->viewport(), listRow(12), &data);
        marker = list->dropMarker();
    });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(marker, nullptr);
}

TEST_F(PatchDragAndDropTest, FourFilesOnRow28FillTheLastTwoSlotsAndAnOwnFileRefusesTheDrag)
{
    const auto four = files({"/m/1.qptc", "/m/2.qptc", "/m/3.qptc", "/m/4.qptc"});
    EXPECT_TRUE(over(list->viewport(), listRow(28), four.get()));
    EXPECT_EQ(list->selectedRows(), (std::vector<std::uint64_t>{28, 29}));
    EXPECT_TRUE(drop(list->viewport(), listRow(28), four.get()));
    EXPECT_EQ(names()[28], "1");
    EXPECT_EQ(names()[29], "2");
    // Only the copies that had a slot were made, into the working folder.
    ASSERT_EQ(coordinator.infoWrites.size(), 2u);
    EXPECT_EQ(coordinator.infoWrites[0].toPath, coordinator.application + "/Temp/Device/Patch");
    EXPECT_TRUE(list->isDropped());

    const auto mixed = files({"/m/5.qptc", coordinator.application + "/Temp/Local/6.qptc"});
    EXPECT_FALSE(over(list->viewport(), listRow(2), mixed.get()));
    EXPECT_FALSE(over(pool->viewport(), poolRow(a), mixed.get()));
}

TEST_F(PatchDragAndDropTest, FilesFromAFileManagerAreCheckedOncePerEntryAndCopiedOffTheMainThread)
{
    const auto dropped = files({"/m/F1.qptc", "/m/notes.txt", "/m/F2.qptc"});
    // Entering and moving about: the files are checked once per entry into each view.
    EXPECT_TRUE(over(pool->viewport(), poolRow(a), dropped.get()));
    EXPECT_TRUE(moveOver(pool->viewport(), poolRow(g), dropped.get()));
    EXPECT_TRUE(over(list->viewport(), listRow(3), dropped.get()));
    EXPECT_TRUE(moveOver(list->viewport(), listRow(5), dropped.get()));
    EXPECT_EQ(coordinator.patchFileChecks, 6);
    // A drag that comes back may be a new drag of the same files: judged anew.
    leave(list->viewport());
    EXPECT_TRUE(over(list->viewport(), listRow(3), dropped.get()));
    leave(list->viewport());
    EXPECT_TRUE(over(pool->viewport(), poolRow(a), dropped.get()));
    EXPECT_EQ(coordinator.patchFileChecks, 12);

    coordinator.holdCopies = true;
    EXPECT_TRUE(drop(pool->viewport(), poolRow(a), dropped.get()));
    // Read, and waiting for the copies: the new group shows at once and the pool says it is working.
    EXPECT_EQ(screen->structureData().size(), 4u);
    EXPECT_TRUE(screen->isPatchPoolWorking());
    processEventsUntil([&] { return screen->patchPoolIndicator()->isVisible(); });
    EXPECT_TRUE(screen->patchPoolIndicator()->isVisible());
    // It shows the work and takes nothing from the pointer: a click where the pool's row shows reaches the
    // pool, through the window as the platform delivers it.
    QWidget* top = screen->view()->window();
    const QPoint inWindow = pool->viewport()->mapTo(top, poolRow(g));
    EXPECT_EQ(top->childAt(inWindow), pool->viewport());
    pool->clearSelection();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(inWindow), top->mapToGlobal(QPointF(inWindow)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(top->windowHandle(), &event);
    }
    processEventsUntil([&] { return !pool->selectionModel()->selectedRows().isEmpty(); });
    ASSERT_EQ(pool->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(pool->selectionModel()->selectedRows().front(), pool->poolModel()->indexOf(g.get()));
    coordinator.runHeldCopies();
    // The copies' landing is drawn on a later turn.
    processEventsUntil([&] { return !screen->isPatchPoolWorking(); });
    const auto& tree = screen->structureData();
    ASSERT_EQ(tree.size(), 4u);
    const auto made = std::find_if(tree.begin(), tree.end(), [&](const Node& node) {
        return node->isGroup && node != g && node != backup;
    });
    ASSERT_NE(made, tree.end());
    ASSERT_EQ((*made)->childDirectories.size(), 2u);
    EXPECT_EQ((*made)->childDirectories[0]->name, "F1");
    EXPECT_EQ((*made)->childDirectories[1]->name, "F2");
    EXPECT_FALSE(screen->isPatchPoolWorking());
    EXPECT_FALSE(screen->patchPoolIndicator()->isVisible());

    // The next drag of the same files is checked afresh.
    const int before = coordinator.patchFileChecks;
    EXPECT_TRUE(over(pool->viewport(), poolRow(a), dropped.get()));
    EXPECT_EQ(coordinator.patchFileChecks, before + 3);
}

TEST_F(PatchDragAndDropTest, ADragRefusedWhileItsFileWasNoPatchIsJudgedAnewOnceItIsOne)
{
    const auto dropped = files({"/m/Later.qptc"});
    coordinator.notYetPatches.insert("/m/Later.qptc");
    EXPECT_FALSE(over(pool->viewport(), poolRow(a), dropped.get()));
    leave(pool->viewport());
    EXPECT_FALSE(over(list->viewport(), listRow(3), dropped.get()));
    leave(list->viewport());
    // The file has been saved whole meanwhile; the next drag of it is taken by both views.
    coordinator.notYetPatches.clear();
    EXPECT_TRUE(over(pool->viewport(), poolRow(a), dropped.get()));
    leave(pool->viewport());
    EXPECT_TRUE(over(list->viewport(), listRow(3), dropped.get()));
    EXPECT_TRUE(drop(list->viewport(), listRow(3), dropped.get()));
    EXPECT_EQ(names()[3], "Later");
}

TEST_F(PatchDragAndDropTest, TenThousandFilesOnTheListAreReadNoFurtherThanItsSlots)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 10000; ++i) paths.push_back("/m/many/" + std::to_string(i) + ".qptc");
    const auto many = files(paths);
    EXPECT_TRUE(over(list->viewport(), listRow(3), many.get()));
    // One read per slot of the list at most, though the pointer may still move up to its first row.
    EXPECT_EQ(coordinator.patchFileChecks, 30);
    EXPECT_EQ(list->selectedRows().size(), 27u);
    EXPECT_TRUE(moveOver(list->viewport(), listRow(28), many.get()));
    coordinator.patchFileChecks = 0;
    EXPECT_TRUE(drop(list->viewport(), listRow(28), many.get()));
    // The drop takes the first two files into the last two slots, reading each once.
    EXPECT_EQ(coordinator.patchFileChecks, 2);
    EXPECT_EQ(coordinator.infoWrites.size(), 2u);
    EXPECT_EQ(names()[28], "0");
    EXPECT_EQ(names()[29], "1");

    // A path of the program's own folder far past what the list can take refuses the drag all the same,
    // before any file is read.
    paths.push_back(coordinator.application + "/Temp/Local/own.qptc");
    const auto withOwn = files(paths);
    coordinator.patchFileChecks = 0;
    EXPECT_FALSE(over(list->viewport(), listRow(3), withOwn.get()));
    EXPECT_EQ(coordinator.patchFileChecks, 0);
    leave(list->viewport());
    const auto ownFirst = files({coordinator.application + "/Temp/Local/own.qptc", "/m/1.qptc"});
    EXPECT_FALSE(over(list->viewport(), listRow(3), ownFirst.get()));
}

// Whatever the list has room for, every dropped path is judged: one refused path past the room refuses
// the drop whole, at the drag's entry and at the drop, as the pool does.
TEST_F(PatchDragAndDropTest, ARefusedPathPastTheListsRoomRefusesTheWholeDrop)
{
    std::vector<std::string> fit;
    for (int i = 0; i < 150; ++i) fit.push_back("/m/more/" + std::to_string(i) + ".qptc");
    const auto allowed = files(fit);
    const std::vector<std::string> before = names();
    for (const std::string& last : {coordinator.application + "/Temp/Local/own.qptc", std::string("/m/more/a\nb.qptc")}) {
        std::vector<std::string> paths = fit;
        paths.push_back(last);
        const auto refused = files(paths);
        EXPECT_FALSE(over(list->viewport(), listRow(0), refused.get())) << last;
        EXPECT_TRUE(list->selectedRows().empty()) << last;
        EXPECT_FALSE(drop(list->viewport(), listRow(0), refused.get())) << last;
        EXPECT_FALSE(over(pool->viewport(), poolRow(a), refused.get())) << last;
        leave(pool->viewport());
        // The drop judges its paths itself, whatever the entry was told.
        EXPECT_TRUE(over(list->viewport(), listRow(0), allowed.get())) << last;
        EXPECT_FALSE(drop(list->viewport(), listRow(0), refused.get())) << last;
        EXPECT_TRUE(coordinator.infoWrites.empty()) << last;
        EXPECT_EQ(names(), before) << last;
        EXPECT_FALSE(list->isDropped()) << last;
    }
}

// The pool only tells one dropped patch from several: entering with thousands of files reads two.
TEST_F(PatchDragAndDropTest, TenThousandFilesOverThePoolAreReadNoFurtherThanASecondPatch)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 10000; ++i) paths.push_back("/m/many/" + std::to_string(i) + ".qptc");
    const auto many = files(paths);
    EXPECT_TRUE(over(pool->viewport(), poolRow(a), many.get()));
    EXPECT_EQ(coordinator.patchFileChecks, 2);
    leave(pool->viewport());
    // One patch among other files is still one: the walk goes on until a second one shows.
    const auto one = files({"/m/notes.txt", "/m/only.qptc", "/m/more.txt"});
    coordinator.patchFileChecks = 0;
    EXPECT_TRUE(over(pool->viewport(), poolRow(a), one.get()));
    EXPECT_EQ(coordinator.patchFileChecks, 3);
}

TEST_F(PatchDragAndDropTest, TwoListRowsOverAGroupedPatchMarkTheGroupAndMakeANewGroupBesideIt)
{
    bool overGroup = false, overBackup = true;
    QRect markerFrame;
    dragListRows({1, 2}, [&](PatchDragMimeData& data) {
        overBackup = over(pool->viewport(), poolRow(p1), &data);
        overGroup = over(pool->viewport(), poolRow(c, 3), &data);
        if (pool->dropMarker()) markerFrame = pool->dropMarker()->geometry();
        EXPECT_EQ(pool->dragState().focusDraggingItem, g);
        EXPECT_TRUE(drop(pool->viewport(), poolRow(c, 3), &data));
    });
    EXPECT_FALSE(overBackup);
    EXPECT_TRUE(overGroup);
    // Below G's row by halves: the bottom edge on the row's bottom edge.
    const QRect gRow = pool->visualRect(pool->poolModel()->indexOf(g.get()));
    EXPECT_EQ(markerFrame.bottom(), gRow.bottom());
    const auto& tree = screen->structureData();
    ASSERT_EQ(tree.size(), 4u);
    EXPECT_TRUE(tree[2]->isGroup);
    EXPECT_EQ(tree[2]->childDirectories.size(), 2u);
    EXPECT_EQ(pool->dropMarker(), nullptr);
    EXPECT_EQ(selectedInPool(), std::vector<Node>{tree[2]}) << "the new group is selected, as New Group's is";
}

// What goes into a closed group opens it and is selected there.
TEST_F(PatchDragAndDropTest, ARowOrAPatchDroppedIntoAClosedGroupOpensItSelected)
{
    pool->collapse(pool->poolModel()->indexOf(g.get()));
    dragListRows({5}, [&](PatchDragMimeData& data) {
        ASSERT_TRUE(over(pool->viewport(), poolRow(g), &data));
        EXPECT_TRUE(drop(pool->viewport(), poolRow(g), &data));
    });
    ASSERT_EQ(g->childDirectories.size(), 3u);
    EXPECT_TRUE(pool->isExpanded(pool->poolModel()->indexOf(g.get())));
    EXPECT_EQ(selectedInPool(), std::vector<Node>{g->childDirectories.back()});

    pool->collapse(pool->poolModel()->indexOf(g.get()));
    dragPoolRows({a}, [&](PatchDragMimeData& data) {
        ASSERT_TRUE(over(pool->viewport(), poolRow(g), &data));
        EXPECT_TRUE(drop(pool->viewport(), poolRow(g), &data));
    });
    ASSERT_EQ(g->childDirectories.size(), 4u);
    EXPECT_TRUE(pool->isExpanded(pool->poolModel()->indexOf(g.get())));
    EXPECT_EQ(selectedInPool(), std::vector<Node>{a});
}

// A drag pressed on a row outside the selection takes that row, selected, as list views do; the selection
// it leaves is not moved.
TEST_F(PatchDragAndDropTest, ADragPressedOutsideTheSelectionTakesThePressedRow)
{
    std::vector<Node> carried;
    std::vector<Node> selectedMeanwhile;
    dragPoolRows({a}, [&](PatchDragMimeData& data) {
        for (const auto& entry : pool->dragState().draggedContainers) carried.push_back(entry.childItem);
        selectedMeanwhile = selectedInPool();
        ASSERT_TRUE(over(pool->viewport(), poolRow(a, -5), &data));
        EXPECT_TRUE(drop(pool->viewport(), poolRow(a, -5), &data));
    }, d);
    EXPECT_EQ(carried, std::vector<Node>{d});
    EXPECT_EQ(selectedMeanwhile, std::vector<Node>{d});
    ASSERT_FALSE(screen->structureData().empty());
    EXPECT_EQ(screen->structureData().front(), d);
    EXPECT_EQ(g->childDirectories, std::vector<Node>{c});
    EXPECT_EQ(selectedInPool(), std::vector<Node>{d});
}

// A name being typed in the pool when a drag is pressed on another row is the user's: it is written to its
// own row before the drag takes the pressed one, and no editor is left open over a row the drag moves.
TEST_F(PatchDragAndDropTest, ADragPressedOutsideTheSelectionEndsTheNameBeingTypedFirst)
{
    pool->selectRows({pool->rowForIndex(pool->poolModel()->indexOf(a.get()))});
    QKeyEvent f2(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(pool, &f2);
    ASSERT_NE(pool->nameEditor(), nullptr);
    pool->nameEditor()->selectAll();
    pool->nameEditor()->insert(QStringLiteral("Typed"));
    bool editorOpen = true;
    std::vector<Node> carried;
    dragPoolRows({a}, [&](PatchDragMimeData&) {
        editorOpen = pool->nameEditor() != nullptr;
        for (const auto& entry : pool->dragState().draggedContainers) carried.push_back(entry.childItem);
    }, d);
    EXPECT_FALSE(editorOpen);
    EXPECT_EQ(a->name.value_or(""), "Typed");
    EXPECT_EQ(carried, std::vector<Node>{d});
}

TEST_F(PatchDragAndDropTest, PoolItemsNeverEnterABackupAllGroup)
{
    bool intoBackup = true, besideA = false;
    dragPoolRows({c}, [&](PatchDragMimeData& data) {
        intoBackup = over(pool->viewport(), poolRow(p1), &data);
        besideA = over(pool->viewport(), poolRow(a, -5), &data);
    });
    EXPECT_FALSE(intoBackup);
    EXPECT_TRUE(besideA);
    EXPECT_FALSE(pool->dragState().isDragging);
}

TEST_F(PatchDragAndDropTest, PoolItemsDroppedBelowTheLastRowGoAfterTheLastTopLevelItem)
{
    QRect marker, last;
    dragPoolRows({a}, [&](PatchDragMimeData& data) {
        last = pool->visualRect(pool->poolModel()->indexOf(p2.get()));
        const QPoint below(50, pool->viewport()->height() - 3);
        EXPECT_TRUE(over(pool->viewport(), below, &data));
        if (pool->dropMarker()) marker = pool->dropMarker()->geometry();
        EXPECT_TRUE(drop(pool->viewport(), below, &data));
    });
    // Marked below the last row (the backup's last child), dropped after the backup group.
    EXPECT_EQ(marker.bottom(), last.bottom());
    const auto& tree = screen->structureData();
    ASSERT_EQ(tree.size(), 3u);
    EXPECT_EQ(tree.back(), a);
    EXPECT_EQ(pool->dropMarker(), nullptr);
}

TEST_F(PatchDragAndDropTest, AnotherProgramAskingForFilesStagesOnceAndAnInternalDropStagesNone)
{
    int stagings = -1;
    dragPoolRows({a}, [&](PatchDragMimeData& data) {
        data.data(QStringLiteral("text/uri-list"));
        data.urls();
        stagings = data.stagingCount();
    });
    EXPECT_EQ(stagings, 1);
    const std::string folder = screen->dragStagingFolder();
    EXPECT_EQ(folder.rfind(coordinator.application + "/Temp/", 0), 0u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "writeFilePatchWithInfo A.qptc -> " + folder + " finder"), 1);

    dragPoolRows({a}, [&](PatchDragMimeData& data) {
        over(list->viewport(), listRow(4), &data);
        EXPECT_TRUE(drop(list->viewport(), listRow(4), &data));
        stagings = data.stagingCount();
    });
    EXPECT_EQ(stagings, 0);
    EXPECT_EQ(names()[4], "A");
    // The next drag stages into a folder of its own; the earlier one's files stay for a program that may
    // still be copying them.
    dragPoolRows({a}, [&](PatchDragMimeData& data) { data.urls(); });
    EXPECT_NE(screen->dragStagingFolder(), folder);
    EXPECT_TRUE(std::filesystem::exists(folder));
}

// File managers and desktops may ask for a drag's files as the pointer merely passes over them: the drag
// stays the views' own to its end, and its files go nowhere but the staging folder.
TEST_F(PatchDragAndDropTest, AnotherProgramLookingAtADragLeavesItToItsEnd)
{
    dragListRows({3, 4}, [&](PatchDragMimeData& data) {
        data.urls();
        EXPECT_TRUE(list->dragState().isDraggingFromTable);
        EXPECT_TRUE(over(list->viewport(), listRow(10), &data));
        EXPECT_TRUE(drop(list->viewport(), listRow(10), &data));
    });
    EXPECT_EQ(names()[8], "P3");
    EXPECT_EQ(names()[9], "P4");

    dragPoolRows({c}, [&](PatchDragMimeData& data) {
        data.urls();
        EXPECT_TRUE(pool->dragState().isDragging);
        EXPECT_TRUE(over(pool->viewport(), poolRow(a, -4), &data));
        EXPECT_TRUE(drop(pool->viewport(), poolRow(a, -4), &data));
    });
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{c, a, g, backup}));

    log.clear();
    dragPoolRows({d}, [&](PatchDragMimeData& data) {
        data.urls();
        EXPECT_TRUE(over(list->viewport(), listRow(4), &data));
        EXPECT_TRUE(drop(list->viewport(), listRow(4), &data));
    });
    EXPECT_EQ(names()[4], "D");
    const std::string staged = screen->dragStagingFolder();
    for (const std::string& line : log) {
        if (line.rfind("writeFilePatchWithInfo", 0) == 0 && line.find(" finder") != std::string::npos) {
            EXPECT_NE(line.find(" -> " + staged), std::string::npos) << line;
        }
    }
}

// Held still at a view's edge, a drag scrolls the view, and the place it would land follows the rows that
// come under the pointer: a slot or a pool place out of view when the drag starts is reached.
TEST_F(PatchDragAndDropTest, ADragHeldAtAnEdgeScrollsTheViewAndLandsUnderThePointer)
{
    std::vector<Node> many;
    for (int i = 0; i < 60; ++i) many.push_back(poolPatch("Q" + std::to_string(i)));
    screen->setStructureData(many);
    screen->reloadDataInPatchPool();
    screen->view()->resize(1000, 600);
    processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
    const QPoint listEdge(100, list->viewport()->height() - 4);
    ASSERT_LT(list->rowAt(listEdge.y()), 20);
    const QPoint poolEdge(pool->viewport()->width() / 2, pool->viewport()->height() - 4);
    const auto poolItemAt = [&](QPoint at) { return pool->poolModel()->nodeAt(pool->indexAt(at)); };
    ASSERT_NE(poolItemAt(poolEdge), many.back());

    int slot = -1;
    QCursor::setPos(list->viewport()->mapToGlobal(listEdge));
    dragPoolRows({many[0]}, [&](PatchDragMimeData& data) {
        over(list->viewport(), listEdge, &data);
        EXPECT_TRUE(processEventsUntil([&] { return list->rowAt(listEdge.y()) == 29; }));
        slot = list->rowAt(listEdge.y());
        EXPECT_EQ(list->selectedRows(), (std::vector<std::uint64_t>{29}));
        EXPECT_TRUE(drop(list->viewport(), listEdge, &data));
    });
    EXPECT_EQ(slot, 29);
    EXPECT_EQ(names()[29], "Q0");

    Node under;
    QCursor::setPos(pool->viewport()->mapToGlobal(poolEdge));
    dragPoolRows({many[0]}, [&](PatchDragMimeData& data) {
        over(pool->viewport(), poolEdge, &data);
        EXPECT_TRUE(processEventsUntil([&] { return poolItemAt(poolEdge) == many.back(); }));
        under = poolItemAt(poolEdge);
        EXPECT_TRUE(drop(pool->viewport(), poolEdge, &data));
    });
    ASSERT_EQ(under, many.back());
    const auto& tree = screen->structureData();
    const auto at = std::find(tree.begin(), tree.end(), many[0]) - tree.begin();
    const auto last = std::find(tree.begin(), tree.end(), many.back()) - tree.begin();
    EXPECT_EQ(std::abs(at - last), 1);
}

// A drag held still at a view's edge goes on scrolling when the view moves under the pointer: a line of
// the window above it goes (the unit's work ending), so the view moves up and grows by as much, its bottom
// edge and the pointer where they were. The drop lands at the end of the list and of the pool.
TEST_F(PatchDragAndDropTest, ADragHeldAtAnEdgeScrollsOnWhenTheViewMovesUnderIt)
{
    std::vector<Node> many;
    for (int i = 0; i < 60; ++i) many.push_back(poolPatch("Q" + std::to_string(i)));
    screen->setStructureData(many);
    screen->reloadDataInPatchPool();
    QWidget& window = *screen->view();
    window.resize(1000, 600);
    ASSERT_TRUE(processEventsUntil([&] { return list->viewport()->height() < 600 && pool->viewport()->height() < 600; }));
    constexpr int lineGone = 27;
    const auto lineAboveGoes = [&] {
        const QRect before = window.geometry();
        window.setGeometry(before.x(), before.y() - lineGone, before.width(), before.height() + lineGone);
    };
    // Where the pointer, held still on the screen, is in the viewport as it now lies.
    const auto under = [](QWidget* viewport, QPoint pointer) { return viewport->mapFromGlobal(pointer); };

    const QPoint listPointer = list->viewport()->mapToGlobal(QPoint(100, list->viewport()->height() - 4));
    const int listHeight = list->viewport()->height();
    QCursor::setPos(listPointer);
    int slot = -1;
    dragPoolRows({many[0]}, [&](PatchDragMimeData& data) {
        over(list->viewport(), under(list->viewport(), listPointer), &data);
        lineAboveGoes();
        EXPECT_TRUE(processEventsUntil([&] { return list->viewport()->height() == listHeight + lineGone; }));
        EXPECT_TRUE(processEventsUntil([&] { return list->rowAt(under(list->viewport(), listPointer).y()) == 29; }))
            << list->rowAt(under(list->viewport(), listPointer).y());
        slot = list->rowAt(under(list->viewport(), listPointer).y());
        EXPECT_TRUE(drop(list->viewport(), under(list->viewport(), listPointer), &data));
    });
    EXPECT_EQ(slot, 29);
    EXPECT_EQ(names()[29], "Q0");

    const QPoint poolPointer = pool->viewport()->mapToGlobal(QPoint(pool->viewport()->width() / 2, pool->viewport()->height() - 4));
    const int poolHeight = pool->viewport()->height();
    const auto poolItemUnder = [&] { return pool->poolModel()->nodeAt(pool->indexAt(under(pool->viewport(), poolPointer))); };
    QCursor::setPos(poolPointer);
    Node landed;
    dragPoolRows({many[0]}, [&](PatchDragMimeData& data) {
        over(pool->viewport(), under(pool->viewport(), poolPointer), &data);
        lineAboveGoes();
        EXPECT_TRUE(processEventsUntil([&] { return pool->viewport()->height() == poolHeight + lineGone; }));
        EXPECT_TRUE(processEventsUntil([&] { return poolItemUnder() == many.back(); }));
        landed = poolItemUnder();
        EXPECT_TRUE(drop(pool->viewport(), under(pool->viewport(), poolPointer), &data));
    });
    ASSERT_EQ(landed ? landed->name : "none", many.back()->name);
    const auto& tree = screen->structureData();
    const auto at = std::find(tree.begin(), tree.end(), many[0]) - tree.begin();
    const auto last = std::find(tree.begin(), tree.end(), many.back()) - tree.begin();
    EXPECT_EQ(std::abs(at - last), 1);
}

// A block released over its own second row, where it already is, changes nothing and records nothing;
// released below the next item it moves there in its order.
TEST_F(PatchDragAndDropTest, ABlockReleasedWhereItStartedStaysAndRecordsNothing)
{
    dragPoolRows({a, g}, [&](PatchDragMimeData& data) {
        EXPECT_TRUE(over(pool->viewport(), poolRow(g, -4), &data));
        EXPECT_TRUE(drop(pool->viewport(), poolRow(g, -4), &data));
    });
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{a, g, backup}));
    EXPECT_TRUE(undo.actionStack().empty());
    EXPECT_EQ(selectedInPool(), (std::vector<Node>{a, g}));

    dragPoolRows({a, g}, [&](PatchDragMimeData& data) {
        EXPECT_TRUE(over(pool->viewport(), poolRow(backup, 4), &data));
        EXPECT_TRUE(drop(pool->viewport(), poolRow(backup, 4), &data));
    });
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{backup, a, g}));
    EXPECT_EQ(undo.actionStack().size(), 1u);
}

// A file dropped beside a patch in a group lands beside it, even when the group was closed while the file
// was read.
TEST_F(PatchDragAndDropTest, AFileDroppedBesideAGroupedPatchLandsThereThoughTheGroupClosedMeanwhile)
{
    coordinator.holdReads = true;
    const auto one = files({"/m/F.qptc"});
    EXPECT_TRUE(over(pool->viewport(), poolRow(d, 4), one.get()));
    EXPECT_TRUE(drop(pool->viewport(), poolRow(d, 4), one.get()));
    pool->collapse(pool->poolModel()->indexOf(g.get()));
    coordinator.runHeldReads();
    processEventsUntil([&] { return !screen->isPatchPoolWorking(); });
    std::vector<std::string> children;
    for (const Node& child : g->childDirectories) children.push_back(child->name.value_or(""));
    EXPECT_EQ(children, (std::vector<std::string>{"C", "D", "F"}));
}

TEST_F(PatchDragAndDropTest, TheModelsBackupFillsTheListFromRowZeroAndWaitsForARunningRestore)
{
    coordinator.sameModelGroups = {"Backup"};
    bool accepted = false;
    std::vector<std::uint64_t> shown;
    dragPoolRows({backup}, [&](PatchDragMimeData& data) {
        accepted = over(list->viewport(), listRow(12), &data);
        shown = list->selectedRows();
        leave(list->viewport());
        appDelegate.setIsRestoringAll(true);
        EXPECT_FALSE(over(list->viewport(), listRow(12), &data));
    });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(shown.size(), 30u);
    EXPECT_EQ(shown.front(), 0u);
    // Left: nothing shown selected.
    EXPECT_TRUE(list->selectedRows().empty());
}

TEST_F(PatchDragAndDropTest, PoolPatchesDroppedOnTheListReplaceSlotsFromTheRowUnderThePointer)
{
    dragPoolRows({c, d}, [&](PatchDragMimeData& data) {
        EXPECT_TRUE(over(list->viewport(), listRow(6), &data));
        EXPECT_EQ(list->selectedRows(), (std::vector<std::uint64_t>{6, 7}));
        EXPECT_TRUE(drop(list->viewport(), listRow(6), &data));
    });
    EXPECT_EQ(names()[6], "C");
    EXPECT_EQ(names()[7], "D");
    EXPECT_EQ(list->selectedRows(), (std::vector<std::uint64_t>{6, 7}));
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_EQ(coordinator.writes[0].second, (std::vector<std::int64_t>{6, 7}));
}

TEST_F(PatchDragAndDropTest, ArchivedPatchesAreTakenLikeFilesAndABadArchiveAlertsAfterTheDrop)
{
    auto archived = std::make_shared<PatchItem>();
    archived->patchName = "Archived";
    archived->path = "/m/9.qptc";
    auto incompatible = std::make_shared<PatchItem>();
    incompatible->path = "/m/old.qptc";
    coordinator.incompatibleFiles = {"old"};
    QMimeData data;
    data.setData(QString::fromLatin1(PatchDragMimeData::kPatchItemsType),
                 PatchDragMimeData::encodePatchItems({incompatible, archived}));
    EXPECT_TRUE(over(list->viewport(), listRow(3), &data));
    EXPECT_TRUE(drop(list->viewport(), listRow(3), &data));
    // A working copy of the file, never the item as it came.
    EXPECT_EQ(names()[3], "9");
    EXPECT_EQ(screen->patchItems()[3]->path, coordinator.application + "/Temp/Device/Patch/9.qptc");
    EXPECT_EQ(names()[4], "P4");

    QMimeData bad;
    bad.setData(QString::fromLatin1(PatchDragMimeData::kPatchItemsType), QByteArray("not an archive"));
    over(list->viewport(), listRow(3), &bad);
    EXPECT_FALSE(drop(list->viewport(), listRow(3), &bad));
    EXPECT_EQ(std::count(log.begin(), log.end(), "text paste error\npaste operation failed"), 0);
    processEventsUntil([this] { return std::count(log.begin(), log.end(), "text paste error\npaste operation failed") > 0; });
    EXPECT_EQ(std::count(log.begin(), log.end(), "text paste error\npaste operation failed"), 1);
}

TEST_F(PatchDragAndDropTest, CtrlZTakesADropBack)
{
    dragPoolRows({c, d}, [&](PatchDragMimeData& data) {
        over(list->viewport(), listRow(6), &data);
        drop(list->viewport(), listRow(6), &data);
    });
    ASSERT_EQ(names()[6], "C");
    coordinator.writes.clear();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
    QApplication::sendEvent(list, &press);
    EXPECT_EQ(names()[6], "P6");
    EXPECT_EQ(names()[7], "P7");
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_EQ(coordinator.writes[0].second, (std::vector<std::int64_t>{6, 7}));
    EXPECT_TRUE(undo.actionStack().empty());
}

// A drop of files is recorded as it is made, however long its files take to read: an undo before they
// are read takes the drop back (none of them ever shows) and leaves the edit before it; a group deleted
// while a drop into it is read comes back at the first undo, and the drop goes at the next.
TEST_F(PatchDragAndDropTest, AnUndoWhileDroppedFilesAreReadFollowsTheOrderOfTheGestures)
{
    const auto undoKey = [this] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
        QApplication::sendEvent(pool, &press);
    };
    const auto childNames = [](const Node& group) {
        std::vector<std::string> names;
        for (const Node& child : group->childDirectories) names.push_back(child->name.value_or(""));
        return names;
    };
    ASSERT_TRUE(screen->patchPoolEditor().renameItem(a, "Renamed"));
    ASSERT_EQ(undo.actionStack().size(), 1u);
    coordinator.holdReads = true;

    const auto several = files({"/m/F1.qptc", "/m/F2.qptc"});
    over(pool->viewport(), poolRow(a), several.get());
    EXPECT_TRUE(drop(pool->viewport(), poolRow(a), several.get()));
    EXPECT_EQ(undo.actionStack().size(), 2u);
    undoKey();
    coordinator.runHeldReads();
    processEventsUntil([&] { return !screen->isPatchPoolWorking(); });
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{a, g, backup}));
    EXPECT_EQ(a->name, "Renamed");
    EXPECT_EQ(undo.actionStack().size(), 1u);

    const auto one = files({"/m/F3.qptc"});
    over(pool->viewport(), poolRow(g), one.get());
    EXPECT_TRUE(drop(pool->viewport(), poolRow(g), one.get()));
    pool->selectRows({pool->rowForIndex(pool->poolModel()->indexOf(g.get()))});
    screen->didClickOnDeleteButtonWithItems(pool, screen->selectedPoolEntries());
    ASSERT_EQ(screen->structureData(), (std::vector<Node>{a, backup}));
    undoKey();
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{a, g, backup}));
    coordinator.runHeldReads();
    processEventsUntil([&] { return !screen->isPatchPoolWorking(); });
    EXPECT_EQ(childNames(g), (std::vector<std::string>{"C", "D", "F3"}));
    undoKey();
    EXPECT_EQ(childNames(g), (std::vector<std::string>{"C", "D"}));
    EXPECT_EQ(a->name, "Renamed");
    EXPECT_EQ(undo.actionStack().size(), 1u);

    // Files none of which is a patch add nothing: their record goes, and the next undo is the rename's.
    const auto none = files({"/m/notes.txt", "/m/F4.qptc"});
    coordinator.notYetPatches = {"/m/F4.qptc"};
    over(pool->viewport(), poolRow(a), none.get());
    drop(pool->viewport(), poolRow(a), none.get());
    coordinator.runHeldReads();
    processEventsUntil([&] { return !screen->isPatchPoolWorking(); });
    EXPECT_EQ(undo.actionStack().size(), 1u);
}

TEST_F(PatchDragAndDropTest, ADropOfAnotherProgramNeverPassesForOurs)
{
    // Another program's data naming our type is not our drag data.
    QMimeData foreign;
    foreign.setData(QString::fromLatin1(PatchDragMimeData::kPoolItemsType), QByteArray());
    EXPECT_EQ(PatchDragMimeData::ours(&foreign, nullptr), nullptr);
    EXPECT_TRUE(PatchDragMimeData::localFiles(&foreign).empty());
    EXPECT_FALSE(over(list->viewport(), listRow(2), &foreign));
}

// A drag that leaves a view takes away what it showed there: the list's rows picked for another program's
// files and its marker, the pool's marker; a drag of the list's own rows keeps the rows it carries.
TEST_F(PatchDragAndDropTest, ADragThatLeavesAViewTakesItsMarksAway)
{
    const auto plain = files({"/m/1.qptc", "/m/2.qptc"});
    ASSERT_TRUE(over(list->viewport(), listRow(2), plain.get()));
    EXPECT_EQ(list->selectedRows(), (std::vector<std::uint64_t>{2, 3}));
    leave(list->viewport());
    EXPECT_TRUE(list->selectedRows().empty());
    EXPECT_TRUE(list->selectionList().empty());
    EXPECT_EQ(list->dropMarker(), nullptr);

    ASSERT_TRUE(over(pool->viewport(), poolRow(a), plain.get()));
    EXPECT_NE(pool->dropMarker(), nullptr);
    leave(pool->viewport());
    EXPECT_EQ(pool->dropMarker(), nullptr);

    dragListRows({1, 2}, [&](PatchDragMimeData& data) {
        EXPECT_TRUE(over(list->viewport(), listRow(6), &data));
        EXPECT_NE(list->dropMarker(), nullptr);
        leave(list->viewport());
        EXPECT_EQ(list->dropMarker(), nullptr);
        EXPECT_EQ(list->selectedRows(), (std::vector<std::uint64_t>{1, 2}));
    });
}

// Another program's file list is taken only when every path in it is plainly a file outside the program:
// one hostile entry refuses the whole drop on both views before anything is copied, added or written.
TEST_F(PatchDragAndDropTest, AHostileFileListRefusesTheWholeDropOnBothViews)
{
    using namespace std::string_literals;
    QTemporaryDir outside;
    const std::string alias = outside.path().toStdString() + "/alias";
    std::filesystem::create_directories(coordinator.application + "/Temp/Local");
    std::filesystem::create_directory_symlink(coordinator.application, alias);
    const std::string good = "file:///m/1.qptc\r\n";
    const struct {
        const char* what;
        std::string list;
    } cases[] = {
        {"an escaped NUL", good + "file:///m/kept(1).txt%00x.qptc\r\n"},
        {"a raw NUL", good + "file:///m/kept(1).txt\0x.qptc\r\n"s},
        {"a path against the program's root", good + "file:Temp/Local/x.qptc\r\n"},
        {"a link to the data folder", good + "file://" + alias + "/Temp/Local/x.qptc\r\n"},
    };
    const std::size_t poolSize = screen->structureData().size();
    const auto entered = [](QWidget* target, QPoint at, const QMimeData* data) {
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        return enter.isAccepted();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), QByteArray::fromStdString(c.list));
        EXPECT_FALSE(entered(list->viewport(), listRow(2), &data));
        EXPECT_FALSE(drop(list->viewport(), listRow(2), &data));
        leave(list->viewport());
        EXPECT_FALSE(entered(pool->viewport(), poolRow(a), &data));
        EXPECT_FALSE(drop(pool->viewport(), poolRow(a), &data));
        leave(pool->viewport());
    }
    EXPECT_EQ(names()[2], "P2");
    EXPECT_EQ(screen->structureData().size(), poolSize);
    EXPECT_TRUE(coordinator.infoWrites.empty());
    EXPECT_TRUE(coordinator.writes.empty());
}

// A file whose name is not UTF-8 reaches the copy under the bytes of its name, on both views; a folder
// whose name merely starts like the program's own is not the program's.
TEST_F(PatchDragAndDropTest, FileNamesArePassedOnAsTheBytesOfTheirURLs)
{
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 QByteArray::fromStdString("file:///m/%FF%FE.qptc\r\nfile://" + coordinator.application + "%20old/3.qptc\r\n"));
    EXPECT_TRUE(over(list->viewport(), listRow(2), &data));
    EXPECT_TRUE(drop(list->viewport(), listRow(2), &data));
    ASSERT_EQ(coordinator.infoWrites.size(), 2u);
    EXPECT_EQ(coordinator.infoWrites[0].source, "/m/\xFF\xFE.qptc");
    EXPECT_EQ(coordinator.infoWrites[1].source, coordinator.application + " old/3.qptc");
    EXPECT_EQ(names()[2], "\xFF\xFE");

    const std::size_t poolSize = screen->structureData().size();
    EXPECT_TRUE(over(pool->viewport(), poolRow(a), &data));
    EXPECT_TRUE(drop(pool->viewport(), poolRow(a), &data));
    EXPECT_GT(screen->structureData().size(), poolSize);
}


// Moves may come merged (a busy machine, a fast hand, a tablet): the first move past 2 points can arrive
// rows away from the press. A drag carries what was pressed, not what lies under the pointer by then.
TEST_F(PatchDragAndDropTest, AFirstMoveThatArrivesOverAnotherRowDragsThePressedOne)
{
    const auto mouse = [](QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, target->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    std::vector<std::vector<std::uint64_t>> listDrags;
    list->setDragStarter([&](std::unique_ptr<PatchDragMimeData>) { listDrags.push_back(list->dragState().draggedIndexSet); });
    // Nothing selected: the press on row 4 selects it and drags it, though the move lands on row 9.
    mouse(list->viewport(), QEvent::MouseButtonPress, listRow(4), Qt::LeftButton);
    mouse(list->viewport(), QEvent::MouseMove, listRow(9), Qt::LeftButton);
    mouse(list->viewport(), QEvent::MouseButtonRelease, listRow(9), Qt::NoButton);
    // A press on a row of the selection drags the selection, though the move lands outside it.
    list->setUpCurrentSelectionWithIndexSet({6, 7}, false);
    mouse(list->viewport(), QEvent::MouseButtonPress, listRow(7), Qt::LeftButton);
    mouse(list->viewport(), QEvent::MouseMove, listRow(12), Qt::LeftButton);
    mouse(list->viewport(), QEvent::MouseButtonRelease, listRow(12), Qt::NoButton);
    EXPECT_EQ(listDrags, (std::vector<std::vector<std::uint64_t>>{{4}, {6, 7}}));

    std::vector<std::vector<Node>> poolDrags;
    pool->setDragStarter([&](std::unique_ptr<PatchDragMimeData>) {
        std::vector<Node> nodes;
        for (const auto& entry : pool->dragState().draggedContainers) nodes.push_back(entry.childItem);
        poolDrags.push_back(nodes);
    });
    const auto poolGesture = [&](const Node& pressed, const Node& firstMove) {
        mouse(pool->viewport(), QEvent::MouseButtonPress, poolRow(pressed), Qt::LeftButton);
        mouse(pool->viewport(), QEvent::MouseMove, poolRow(firstMove), Qt::LeftButton);
        mouse(pool->viewport(), QEvent::MouseButtonRelease, poolRow(firstMove), Qt::NoButton);
    };
    // A press on the selected row drags it, though the move lands on a row that is not selected.
    pool->selectRows({pool->rowForIndex(pool->poolModel()->indexOf(a.get()))});
    poolGesture(a, d);
    ASSERT_EQ(poolDrags.size(), 1u);
    EXPECT_EQ(poolDrags[0], std::vector<Node>{a});
    // A press on a row that is not selected drags that row, as list views do, though the move lands on the
    // selected one.
    pool->selectRows({pool->rowForIndex(pool->poolModel()->indexOf(a.get()))});
    poolGesture(c, a);
    ASSERT_EQ(poolDrags.size(), 2u);
    EXPECT_EQ(poolDrags[1], std::vector<Node>{c});
}
}  // namespace
}  // namespace testing_app
