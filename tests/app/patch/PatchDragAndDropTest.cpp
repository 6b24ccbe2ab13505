#include <gtest/gtest.h>

#include <QCursor>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>

#include <filesystem>

#include "app/patch/DropMarkerView.h"
#include "app/patch/PatchDragMimeData.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PoolNameEditor.h"
#include "PatchCases.h"

namespace testing_app {
namespace {

using Drag = PatchDragMimeData;

// 30 slots and a pool of a patch, an open group of two and an open backup-all group of two, shown; drags run
// through synthetic drag events with the views' own drag data.
class PatchDragAndDropTest : public PatchScreenCases {
protected:
    PatchDragAndDropTest()
    {
        coordinator.application = staging.path().toStdString();
        loadWithPaths(30, "/dev/");
        screen->setStructureData({a, g, backup});
        screen->view()->resize(1000, 1900);
        screen->view()->show();
        screen->reloadDataInPatchPool();
        pool().expandAll();
        spin();
        log.clear();
    }
    // A drag's moves go to the view that last took its entry until a leave, which lets go of it wherever
    // sent: without one a later test's moves would reach a view of this one.
    ~PatchDragAndDropTest() override { leave(screen->view()); }

    QWidget* listPort() { return list().viewport(); }
    QWidget* poolPort() { return pool().viewport(); }
    QPoint listRow(int row) { return QPoint(100, list().rowViewportPosition(row) + 10); }
    QPoint poolRow(const Node& node, int dy = 0)
    {
        const QRect rect = pool().visualRect(pool().poolModel()->indexOf(node.get()));
        return QPoint(rect.center().x(), rect.center().y() + dy);
    }
    // Enters `target` at `at` (unless `entered` already) and moves there; answers whether the move was accepted.
    static bool over(QWidget* target, QPoint at, const QMimeData* data, bool entered = false)
    {
        if (!entered) {
            QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
        }
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
    // Moves over `at` and drops there: whether both were taken.
    static bool lands(QWidget* target, QPoint at, const QMimeData* data)
    {
        const bool moved = over(target, at, data);
        return drop(target, at, data) && moved;
    }
    static void leave(QWidget* target)
    {
        QDragLeaveEvent event;
        QApplication::sendEvent(target, &event);
    }
    // Drags the list rows, selected; `during` plays the drag, which must start once.
    void dragListRows(const Rows& rows, const std::function<void(Drag&)>& during)
    {
        int started = 0;
        selectList(rows);
        list().setDragStarter([&](std::unique_ptr<Drag> data) { ++started, during(*data); });
        list().startRowDrag();
        EXPECT_EQ(started, 1);
    }
    // Selects the pool rows, presses on the first (or `pressed`) and moves 5 points; as dragListRows.
    void dragPoolRows(const std::vector<Node>& nodes, const std::function<void(Drag&)>& during, const Node& pressed = nullptr)
    {
        int started = 0;
        std::vector<int> rows;
        for (const Node& node : nodes) rows.push_back(poolRowOf(node));
        std::sort(rows.begin(), rows.end());
        selectPool(rows);
        pool().setDragStarter([&](std::unique_ptr<Drag> data) { ++started, during(*data); });
        const QPoint at = poolRow(pressed ? pressed : nodes.front());
        mouse(poolPort(), QEvent::MouseButtonPress, at);
        mouse(poolPort(), QEvent::MouseMove, at + QPoint(0, 5));
        EXPECT_EQ(started, 1);
    }
    // What the pool's drag carries.
    std::vector<Node> carried()
    {
        std::vector<Node> nodes;
        for (const auto& entry : pool().dragState().draggedContainers) nodes.push_back(entry.childItem);
        return nodes;
    }
    std::vector<Node> selectedInPool()
    {
        QModelIndexList rows = pool().selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end(), [this](const QModelIndex& x, const QModelIndex& y) {
            return pool().rowForIndex(x) < pool().rowForIndex(y);
        });
        std::vector<Node> nodes;
        for (const QModelIndex& row : rows) nodes.push_back(pool().poolModel()->nodeAt(row));
        return nodes;
    }
    static std::unique_ptr<QMimeData> files(const Names& paths)
    {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const std::string& path : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
        data->setUrls(urls);
        return data;
    }
    // `count` patch files named by number in `folder`.
    static Names numbered(int count, const std::string& folder)
    {
        Names paths;
        for (int i = 0; i < count; ++i) paths.push_back(folder + std::to_string(i) + ".qptc");
        return paths;
    }
    std::string own() const { return coordinator.application + "/Temp/Local/own.qptc"; }
    void settleWork()
    {
        coordinator.runHeldReads();
        processEventsUntil([&] { return !screen->isPatchPoolWorking(); });
    }

    QTemporaryDir staging;
    Node a = patchNode("A"), c = patchNode("C"), d = patchNode("D"), g = groupNode("G", {c, d});
    Node p1 = patchNode("P1"), p2 = patchNode("P2"), backup = groupNode("Backup", {p1, p2}, true);
};

TEST_F(PatchDragAndDropTest, ContiguousListRowsReorderAndRowsWithAGapNeverDropOnTheList)
{
    dragListRows({3, 4, 5}, [&](Drag& data) {
        EXPECT_TRUE(over(listPort(), listRow(10), &data));
        ASSERT_NE(list().dropMarker(), nullptr);
        // The top marker: its top edge above the row.
        EXPECT_EQ(list().dropMarker()->geometry().top(), list().rowViewportPosition(10) - 2 * DropMarkerView::kBorderWidth);
        EXPECT_TRUE(drop(listPort(), listRow(10), &data));
    });
    EXPECT_EQ(namesAt(7, 3), (Names{"P3", "P4", "P5"}));
    EXPECT_FALSE(list().dragState().isDraggingFromTable);
    EXPECT_EQ(list().dropMarker(), nullptr);
    dragListRows({3, 5}, [&](Drag& data) {
        EXPECT_FALSE(over(listPort(), listRow(12), &data));
        EXPECT_EQ(list().dropMarker(), nullptr);
    });
}

TEST_F(PatchDragAndDropTest, FilesFromAFileManagerAreCheckedOncePerEntryAndCopiedOffTheMainThread)
{
    const auto dropped = files({"/m/F1.qptc", "/m/notes.txt", "/m/F2.qptc"});
    // Entering and moving about: the files are checked once per entry into each view.
    EXPECT_TRUE(over(poolPort(), poolRow(a), dropped.get()));
    EXPECT_TRUE(over(poolPort(), poolRow(g), dropped.get(), true));
    EXPECT_TRUE(over(listPort(), listRow(3), dropped.get()));
    EXPECT_TRUE(over(listPort(), listRow(5), dropped.get(), true));
    EXPECT_EQ(coordinator.patchFileChecks, 6);
    // A drag that comes back may be a new drag of the same files: judged anew.
    leave(listPort());
    EXPECT_TRUE(over(listPort(), listRow(3), dropped.get()));
    leave(listPort());
    EXPECT_TRUE(over(poolPort(), poolRow(a), dropped.get()));
    EXPECT_EQ(coordinator.patchFileChecks, 12);
    coordinator.holdCopies = true;
    EXPECT_TRUE(drop(poolPort(), poolRow(a), dropped.get()));
    // Read, and waiting for the copies: the new group shows at once and the pool says it is working.
    EXPECT_EQ(screen->structureData().size(), 4u);
    EXPECT_TRUE(screen->isPatchPoolWorking());
    processEventsUntil([&] { return screen->patchPoolIndicator()->isVisible(); });
    EXPECT_TRUE(screen->patchPoolIndicator()->isVisible());
    // It takes nothing from the pointer: a click through the window, as the platform delivers it, reaches the pool.
    QWidget* top = screen->view()->window();
    const QPoint inWindow = poolPort()->mapTo(top, poolRow(g));
    EXPECT_EQ(top->childAt(inWindow), poolPort());
    pool().clearSelection();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(inWindow), top->mapToGlobal(QPointF(inWindow)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(top->windowHandle(), &event);
    }
    processEventsUntil([&] { return !selectedInPool().empty(); });
    EXPECT_EQ(selectedInPool(), std::vector<Node>{g});
    coordinator.runHeldCopies();
    // The copies' landing is drawn on a later turn.
    processEventsUntil([&] { return !screen->isPatchPoolWorking(); });
    ASSERT_EQ(screen->structureData().size(), 4u);
    const auto& tree = screen->structureData();
    const auto made = std::find_if(tree.begin(), tree.end(), [&](const Node& node) { return node->isGroup && node != g && node != backup; });
    ASSERT_NE(made, tree.end());
    EXPECT_EQ(namesOf((*made)->childDirectories), (Names{"F1", "F2"}));
    EXPECT_FALSE(screen->isPatchPoolWorking());
    EXPECT_FALSE(screen->patchPoolIndicator()->isVisible());
    // The next drag of the same files is checked afresh.
    const int before = coordinator.patchFileChecks;
    EXPECT_TRUE(over(poolPort(), poolRow(a), dropped.get()));
    EXPECT_EQ(coordinator.patchFileChecks, before + 3);
}

TEST_F(PatchDragAndDropTest, ADragRefusedWhileItsFileWasNoPatchIsJudgedAnewOnceItIsOne)
{
    const auto dropped = files({"/m/Later.qptc"});
    coordinator.notYetPatches.insert("/m/Later.qptc");
    for (const bool patch : {false, true}) {
        // The file has been saved whole meanwhile; the next drag of it is taken by both views.
        if (patch) coordinator.notYetPatches.clear();
        EXPECT_EQ(over(poolPort(), poolRow(a), dropped.get()), patch);
        leave(poolPort());
        EXPECT_EQ(over(listPort(), listRow(3), dropped.get()), patch);
        if (!patch) leave(listPort());
    }
    EXPECT_TRUE(drop(listPort(), listRow(3), dropped.get()));
    EXPECT_EQ(names()[3], "Later");
}

// The pool only tells one dropped patch from several; one among other files is still one.
TEST_F(PatchDragAndDropTest, TenThousandFilesAreReadNoFurtherThanTheListsSlotsOrThePoolsSecondPatch)
{
    Names paths = numbered(10000, "/m/many/");
    const auto many = files(paths);
    EXPECT_TRUE(over(poolPort(), poolRow(a), many.get()));
    EXPECT_EQ(coordinator.patchFileChecks, 2);
    leave(poolPort());
    coordinator.patchFileChecks = 0;
    EXPECT_TRUE(over(poolPort(), poolRow(a), files({"/m/notes.txt", "/m/only.qptc", "/m/more.txt"}).get()));
    EXPECT_EQ(coordinator.patchFileChecks, 3);
    leave(poolPort());
    coordinator.patchFileChecks = 0;
    EXPECT_TRUE(over(listPort(), listRow(3), many.get()));
    // One read per slot of the list at most, though the pointer may still move up to its first row.
    EXPECT_EQ(coordinator.patchFileChecks, 30);
    EXPECT_EQ(list().selectedRows().size(), 27u);
    EXPECT_TRUE(over(listPort(), listRow(28), many.get(), true));
    EXPECT_EQ(list().selectedRows(), (Rows{28, 29}));
    coordinator.patchFileChecks = 0;
    EXPECT_TRUE(drop(listPort(), listRow(28), many.get()));
    // The drop takes the first two files into the last two slots, reading each once, copied into the
    // working folder.
    EXPECT_EQ(coordinator.patchFileChecks, 2);
    ASSERT_EQ(coordinator.infoWrites.size(), 2u);
    EXPECT_EQ(coordinator.infoWrites[0].toPath, coordinator.application + "/Temp/Device/Patch");
    EXPECT_EQ(namesAt(28, 2), (Names{"0", "1"}));
    EXPECT_TRUE(list().isDropped());
    // A path of the program's own folder far past the list's room refuses the drag, before any file is read.
    paths.push_back(own());
    coordinator.patchFileChecks = 0;
    EXPECT_FALSE(over(listPort(), listRow(3), files(paths).get()));
    EXPECT_EQ(coordinator.patchFileChecks, 0);
    leave(listPort());
    for (const auto& mixed : {files({"/m/5.qptc", own()}), files({own(), "/m/1.qptc"})})
        for (const auto& [port, at] : {std::pair{listPort(), listRow(3)}, std::pair{poolPort(), poolRow(a)}}) {
            EXPECT_FALSE(over(port, at, mixed.get()));
            leave(port);
        }
}

// At the drag's entry and at the drop, as the pool does.
TEST_F(PatchDragAndDropTest, ARefusedPathPastTheListsRoomRefusesTheWholeDrop)
{
    const Names fit = numbered(150, "/m/more/");
    const auto allowed = files(fit);
    const Names before = names();
    for (const std::string& last : {own(), std::string("/m/more/a\nb.qptc")}) {
        SCOPED_TRACE(last);
        Names paths = fit;
        paths.push_back(last);
        const auto refused = files(paths);
        EXPECT_FALSE(over(listPort(), listRow(0), refused.get()));
        EXPECT_TRUE(list().selectedRows().empty());
        EXPECT_FALSE(drop(listPort(), listRow(0), refused.get()));
        EXPECT_FALSE(over(poolPort(), poolRow(a), refused.get()));
        leave(poolPort());
        // The drop judges its paths itself, whatever the entry was told.
        EXPECT_TRUE(over(listPort(), listRow(0), allowed.get()));
        EXPECT_FALSE(drop(listPort(), listRow(0), refused.get()));
        EXPECT_TRUE(coordinator.infoWrites.empty());
        EXPECT_EQ(names(), before);
        EXPECT_FALSE(list().isDropped());
    }
}

TEST_F(PatchDragAndDropTest, TwoListRowsOverAGroupedPatchMarkTheGroupAndMakeANewGroupBesideIt)
{
    dragListRows({1, 2}, [&](Drag& data) {
        EXPECT_FALSE(over(poolPort(), poolRow(p1), &data));
        EXPECT_TRUE(over(poolPort(), poolRow(c, 3), &data));
        ASSERT_NE(pool().dropMarker(), nullptr);
        // Below G's row by halves: the bottom edge on the row's bottom edge.
        EXPECT_EQ(pool().dropMarker()->geometry().bottom(), pool().visualRect(pool().poolModel()->indexOf(g.get())).bottom());
        EXPECT_EQ(pool().dragState().focusDraggingItem, g);
        EXPECT_TRUE(drop(poolPort(), poolRow(c, 3), &data));
    });
    const auto& tree = screen->structureData();
    ASSERT_EQ(tree.size(), 4u);
    EXPECT_TRUE(tree[2]->isGroup);
    EXPECT_EQ(tree[2]->childDirectories.size(), 2u);
    EXPECT_EQ(pool().dropMarker(), nullptr);
    EXPECT_EQ(selectedInPool(), std::vector<Node>{tree[2]}) << "the new group is selected, as New Group's is";
}

// What goes into a closed group opens it and is selected there, a list row as a pool item.
TEST_F(PatchDragAndDropTest, ARowOrAPatchDroppedIntoAClosedGroupOpensItSelected)
{
    const auto intoG = [&](Drag& data) {
        EXPECT_TRUE(lands(poolPort(), poolRow(g), &data));
    };
    for (const bool fromList : {true, false}) {
        SCOPED_TRACE(fromList ? "a list row" : "a pool patch");
        pool().collapse(pool().poolModel()->indexOf(g.get()));
        if (fromList) dragListRows({5}, intoG);
        else dragPoolRows({a}, intoG);
        ASSERT_EQ(g->childDirectories.size(), fromList ? 3u : 4u);
        EXPECT_TRUE(pool().isExpanded(pool().poolModel()->indexOf(g.get())));
        EXPECT_EQ(selectedInPool(), std::vector<Node>{fromList ? g->childDirectories.back() : a});
    }
}

// As list views do: the pressed row is selected and the selection it leaves is not moved.
TEST_F(PatchDragAndDropTest, ADragPressedOutsideTheSelectionTakesThePressedRow)
{
    dragPoolRows({a}, [&](Drag& data) {
        EXPECT_EQ(carried(), std::vector<Node>{d});
        EXPECT_EQ(selectedInPool(), std::vector<Node>{d});
        EXPECT_TRUE(lands(poolPort(), poolRow(a, -5), &data));
    }, d);
    ASSERT_FALSE(screen->structureData().empty());
    EXPECT_EQ(screen->structureData().front(), d);
    EXPECT_EQ(g->childDirectories, std::vector<Node>{c});
    EXPECT_EQ(selectedInPool(), std::vector<Node>{d});
}

// The name typed is the user's: written to its own row, with no editor left over a row the drag moves.
TEST_F(PatchDragAndDropTest, ADragPressedOutsideTheSelectionEndsTheNameBeingTypedFirst)
{
    selectPool({poolRowOf(a)});
    key(&pool(), Qt::Key_F2, Qt::NoModifier, {}, QEvent::KeyRelease);
    ASSERT_NE(pool().nameEditor(), nullptr);
    pool().nameEditor()->selectAll();
    pool().nameEditor()->insert(QStringLiteral("Typed"));
    dragPoolRows({a}, [&](Drag&) {
        EXPECT_EQ(pool().nameEditor(), nullptr);
        EXPECT_EQ(carried(), std::vector<Node>{d});
    }, d);
    EXPECT_EQ(a->name.value_or(""), "Typed");
}

TEST_F(PatchDragAndDropTest, PoolItemsNeverEnterABackupAllGroup)
{
    dragPoolRows({c}, [&](Drag& data) {
        EXPECT_FALSE(over(poolPort(), poolRow(p1), &data));
        EXPECT_TRUE(over(poolPort(), poolRow(a, -5), &data));
    });
    EXPECT_FALSE(pool().dragState().isDragging);
}

TEST_F(PatchDragAndDropTest, PoolItemsDroppedBelowTheLastRowGoAfterTheLastTopLevelItem)
{
    dragPoolRows({a}, [&](Drag& data) {
        const QPoint below(50, poolPort()->height() - 3);
        EXPECT_TRUE(over(poolPort(), below, &data));
        // Marked below the last row (the backup's last child), dropped after the backup group.
        ASSERT_NE(pool().dropMarker(), nullptr);
        EXPECT_EQ(pool().dropMarker()->geometry().bottom(), pool().visualRect(pool().poolModel()->indexOf(p2.get())).bottom());
        EXPECT_TRUE(drop(poolPort(), below, &data));
    });
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{g, backup, a}));
    EXPECT_EQ(pool().dropMarker(), nullptr);
}

TEST_F(PatchDragAndDropTest, AnotherProgramAskingForFilesStagesOnceAndAnInternalDropStagesNone)
{
    dragPoolRows({a}, [&](Drag& data) {
        data.data(QStringLiteral("text/uri-list"));
        data.urls();
        EXPECT_EQ(data.stagingCount(), 1);
    });
    const std::string folder = screen->dragStagingFolder();
    EXPECT_EQ(folder.rfind(coordinator.application + "/Temp/", 0), 0u);
    EXPECT_EQ(loggedTimes("writeFilePatchWithInfo A.qptc -> " + folder + " finder"), 1);
    dragPoolRows({a}, [&](Drag& data) {
        over(listPort(), listRow(4), &data);
        EXPECT_TRUE(drop(listPort(), listRow(4), &data));
        EXPECT_EQ(data.stagingCount(), 0);
    });
    EXPECT_EQ(names()[4], "A");
    // The next drag stages in a folder of its own; the earlier one's stay for a program still copying them.
    dragPoolRows({a}, [&](Drag& data) { data.urls(); });
    EXPECT_NE(screen->dragStagingFolder(), folder);
    EXPECT_TRUE(std::filesystem::exists(folder));
}

// File managers ask for a drag's files as the pointer merely passes: its files go nowhere but the staging folder.
TEST_F(PatchDragAndDropTest, AnotherProgramLookingAtADragLeavesItToItsEnd)
{
    dragListRows({3, 4}, [&](Drag& data) {
        data.urls();
        EXPECT_TRUE(list().dragState().isDraggingFromTable);
        EXPECT_TRUE(lands(listPort(), listRow(10), &data));
    });
    EXPECT_EQ(namesAt(8, 2), (Names{"P3", "P4"}));
    dragPoolRows({c}, [&](Drag& data) {
        data.urls();
        EXPECT_TRUE(pool().dragState().isDragging);
        EXPECT_TRUE(lands(poolPort(), poolRow(a, -4), &data));
    });
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{c, a, g, backup}));
    log.clear();
    dragPoolRows({d}, [&](Drag& data) {
        data.urls();
        EXPECT_TRUE(lands(listPort(), listRow(4), &data));
    });
    EXPECT_EQ(names()[4], "D");
    for (const std::string& line : loggedWith(" finder"))
        if (line.rfind("writeFilePatchWithInfo", 0) == 0) {
            EXPECT_NE(line.find(" -> " + screen->dragStagingFolder()), std::string::npos) << line;
        }
}

// A slot or a pool place out of view when the drag starts is reached, also when the view moves under the
// pointer (a line above it goes as the unit's work ends: it moves up and grows, its bottom edge kept).
class PatchDragAtAnEdgeTest : public PatchDragAndDropTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PatchDragAtAnEdgeTest, ScrollsTheViewAndLandsUnderThePointer)
{
    const bool viewMoves = GetParam();
    std::vector<Node> many;
    for (int i = 0; i < 60; ++i) many.push_back(patchNode("Q" + std::to_string(i)));
    screen->setStructureData(many);
    screen->reloadDataInPatchPool();
    QWidget& window = *screen->view();
    window.resize(1000, 600);
    ASSERT_TRUE(processEventsUntil([&] { return listPort()->height() < 600 && poolPort()->height() < 600; }));
    constexpr int lineGone = 27;
    // Holds the pool's first patch still at `x` by the bottom edge of `viewport` until `reached` holds there.
    const auto holdAt = [&](QWidget* viewport, int x, const std::function<bool(QPoint)>& reached,
                            const std::function<void()>& there) {
        const QPoint pointer = viewport->mapToGlobal(QPoint(x, viewport->height() - 4));
        const int height = viewport->height();
        QCursor::setPos(pointer);
        dragPoolRows({many[0]}, [&](Drag& data) {
            over(viewport, viewport->mapFromGlobal(pointer), &data);
            if (viewMoves) {
                const QRect before = window.geometry();
                window.setGeometry(before.x(), before.y() - lineGone, before.width(), before.height() + lineGone);
                EXPECT_TRUE(processEventsUntil([&] { return viewport->height() == height + lineGone; }));
            }
            EXPECT_TRUE(processEventsUntil([&] { return reached(viewport->mapFromGlobal(pointer)); }));
            EXPECT_TRUE(reached(viewport->mapFromGlobal(pointer)));
            there();
            EXPECT_TRUE(drop(viewport, viewport->mapFromGlobal(pointer), &data));
        });
    };
    const QPoint listEdge(100, listPort()->height() - 4), poolEdge(poolPort()->width() / 2, poolPort()->height() - 4);
    const auto poolItemAt = [&](QPoint at) { return pool().poolModel()->nodeAt(pool().indexAt(at)); };
    ASSERT_LT(list().rowAt(listEdge.y()), 20);
    ASSERT_NE(poolItemAt(poolEdge), many.back());
    holdAt(listPort(), listEdge.x(), [&](QPoint at) { return list().rowAt(at.y()) == 29; },
           [&] { EXPECT_EQ(list().selectedRows(), Rows{29}); });
    EXPECT_EQ(names()[29], "Q0");
    holdAt(poolPort(), poolEdge.x(), [&](QPoint at) { return poolItemAt(at) == many.back(); }, [] {});
    const auto& tree = screen->structureData();
    const auto at = std::find(tree.begin(), tree.end(), many[0]) - tree.begin();
    const auto last = std::find(tree.begin(), tree.end(), many.back()) - tree.begin();
    EXPECT_EQ(std::abs(at - last), 1);
}

INSTANTIATE_TEST_SUITE_P(Held, PatchDragAtAnEdgeTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "AsTheViewMovesUnderIt" : "Still"; });

// Released over its own second row it stays; below the next item it moves there in its order.
TEST_F(PatchDragAndDropTest, ABlockReleasedWhereItStartedStaysAndRecordsNothing)
{
    const auto dropAt = [&](QPoint at) {
        dragPoolRows({a, g}, [&](Drag& data) {
            EXPECT_TRUE(lands(poolPort(), at, &data));
        });
    };
    dropAt(poolRow(g, -4));
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{a, g, backup}));
    EXPECT_EQ(records(), 0u);
    EXPECT_EQ(selectedInPool(), (std::vector<Node>{a, g}));
    dropAt(poolRow(backup, 4));
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{backup, a, g}));
    EXPECT_EQ(records(), 1u);
}

TEST_F(PatchDragAndDropTest, AFileDroppedBesideAGroupedPatchLandsThereThoughTheGroupClosedMeanwhile)
{
    coordinator.holdReads = true;
    const auto one = files({"/m/F.qptc"});
    EXPECT_TRUE(lands(poolPort(), poolRow(d, 4), one.get()));
    pool().collapse(pool().poolModel()->indexOf(g.get()));
    settleWork();
    EXPECT_EQ(namesOf(g->childDirectories), (Names{"C", "D", "F"}));
}

TEST_F(PatchDragAndDropTest, TheModelsBackupFillsTheListFromRowZeroAndWaitsForARunningRestore)
{
    coordinator.sameModelGroups = {"Backup"};
    dragPoolRows({backup}, [&](Drag& data) {
        EXPECT_TRUE(over(listPort(), listRow(12), &data));
        EXPECT_EQ(list().selectedRows().size(), 30u);
        EXPECT_EQ(list().selectedRows().front(), 0u);
        leave(listPort());
        appDelegate.setIsRestoringAll(true);
        EXPECT_FALSE(over(listPort(), listRow(12), &data));
    });
    // Left: nothing shown selected.
    EXPECT_TRUE(list().selectedRows().empty());
}

TEST_F(PatchDragAndDropTest, PoolPatchesDroppedOnTheListReplaceSlotsFromTheRowUnderThePointerAndCtrlZTakesThemBack)
{
    dragPoolRows({c, d}, [&](Drag& data) {
        EXPECT_TRUE(over(listPort(), listRow(6), &data));
        EXPECT_EQ(list().selectedRows(), (Rows{6, 7}));
        EXPECT_TRUE(drop(listPort(), listRow(6), &data));
    });
    EXPECT_EQ(namesAt(6, 2), (Names{"C", "D"}));
    EXPECT_EQ(list().selectedRows(), (Rows{6, 7}));
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_EQ(coordinator.writes[0].second, (std::vector<std::int64_t>{6, 7}));
    key(&list(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(namesAt(6, 2), (Names{"P6", "P7"}));
    ASSERT_EQ(coordinator.writes.size(), 2u);
    EXPECT_EQ(coordinator.writes[1].second, (std::vector<std::int64_t>{6, 7}));
    EXPECT_EQ(records(), 0u);
}

TEST_F(PatchDragAndDropTest, ArchivedPatchesAreTakenLikeFilesAndABadArchiveAlertsAfterTheDrop)
{
    auto archived = std::make_shared<PatchItem>(), incompatible = std::make_shared<PatchItem>();
    archived->patchName = "Archived";
    archived->path = "/m/9.qptc";
    incompatible->path = "/m/old.qptc";
    coordinator.incompatibleFiles = {"old"};
    QMimeData data;
    data.setData(QString::fromLatin1(Drag::kPatchItemsType), Drag::encodePatchItems({incompatible, archived}));
    EXPECT_TRUE(lands(listPort(), listRow(3), &data));
    // A working copy of the file, never the item as it came.
    EXPECT_EQ(namesAt(3, 2), (Names{"9", "P4"}));
    EXPECT_EQ(screen->patchItems()[3]->path, coordinator.application + "/Temp/Device/Patch/9.qptc");
    QMimeData bad;
    bad.setData(QString::fromLatin1(Drag::kPatchItemsType), QByteArray("not an archive"));
    over(listPort(), listRow(3), &bad);
    EXPECT_FALSE(drop(listPort(), listRow(3), &bad));
    const std::string alert = "text paste error\npaste operation failed";
    EXPECT_EQ(loggedTimes(alert), 0);
    processEventsUntil([&] { return loggedTimes(alert) > 0; });
    EXPECT_EQ(loggedTimes(alert), 1);
}

// A drop of files is recorded as it is made, however long its files take to read: an undo before they are
// read takes it back (none ever shows); a group deleted meanwhile comes back first, then the drop goes.
TEST_F(PatchDragAndDropTest, AnUndoWhileDroppedFilesAreReadFollowsTheOrderOfTheGestures)
{
    const auto undoKey = [&] { key(&pool(), Qt::Key_Z, Qt::ControlModifier); };
    const auto dropOn = [&](const Names& paths, const Node& target) {
        const auto data = files(paths);
        over(poolPort(), poolRow(target), data.get());
        return drop(poolPort(), poolRow(target), data.get());
    };
    ASSERT_TRUE(screen->patchPoolEditor().renameItem(a, "Renamed"));
    ASSERT_EQ(records(), 1u);
    coordinator.holdReads = true;
    EXPECT_TRUE(dropOn({"/m/F1.qptc", "/m/F2.qptc"}, a));
    EXPECT_EQ(records(), 2u);
    undoKey();
    settleWork();
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{a, g, backup}));
    EXPECT_EQ(a->name, "Renamed");
    EXPECT_EQ(records(), 1u);
    EXPECT_TRUE(dropOn({"/m/F3.qptc"}, g));
    selectPool({poolRowOf(g)});
    screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries());
    ASSERT_EQ(screen->structureData(), (std::vector<Node>{a, backup}));
    undoKey();
    EXPECT_EQ(screen->structureData(), (std::vector<Node>{a, g, backup}));
    settleWork();
    EXPECT_EQ(namesOf(g->childDirectories), (Names{"C", "D", "F3"}));
    undoKey();
    EXPECT_EQ(namesOf(g->childDirectories), (Names{"C", "D"}));
    EXPECT_EQ(a->name, "Renamed");
    EXPECT_EQ(records(), 1u);
    // Files none of which is a patch add nothing: their record goes, and the next undo is the rename's.
    coordinator.notYetPatches = {"/m/F4.qptc"};
    dropOn({"/m/notes.txt", "/m/F4.qptc"}, a);
    settleWork();
    EXPECT_EQ(records(), 1u);
}

TEST_F(PatchDragAndDropTest, ADropOfAnotherProgramNeverPassesForOurs)
{
    // Another program's data naming our type is not our drag data.
    QMimeData foreign;
    foreign.setData(QString::fromLatin1(Drag::kPoolItemsType), QByteArray());
    EXPECT_EQ(Drag::ours(&foreign, nullptr), nullptr);
    EXPECT_TRUE(Drag::localFiles(&foreign).empty());
    EXPECT_FALSE(over(listPort(), listRow(2), &foreign));
}

// The list's rows picked for another program's files and the markers go; the list's own drag keeps its rows.
TEST_F(PatchDragAndDropTest, ADragThatLeavesAViewTakesItsMarksAway)
{
    const auto plain = files({"/m/1.qptc", "/m/2.qptc"});
    ASSERT_TRUE(over(listPort(), listRow(2), plain.get()));
    EXPECT_EQ(list().selectedRows(), (Rows{2, 3}));
    leave(listPort());
    EXPECT_TRUE(list().selectedRows().empty());
    EXPECT_TRUE(list().selectionList().empty());
    EXPECT_EQ(list().dropMarker(), nullptr);
    ASSERT_TRUE(over(poolPort(), poolRow(a), plain.get()));
    EXPECT_NE(pool().dropMarker(), nullptr);
    leave(poolPort());
    EXPECT_EQ(pool().dropMarker(), nullptr);
    dragListRows({1, 2}, [&](Drag& data) {
        EXPECT_TRUE(over(listPort(), listRow(6), &data));
        EXPECT_NE(list().dropMarker(), nullptr);
        leave(listPort());
        EXPECT_EQ(list().dropMarker(), nullptr);
        EXPECT_EQ(list().selectedRows(), (Rows{1, 2}));
    });
}

// Taken only when every path is plainly a file outside the program, refused before anything is copied.
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), QByteArray::fromStdString(c.list));
        for (const auto& [view, at] : {std::pair{listPort(), listRow(2)}, std::pair{poolPort(), poolRow(a)}}) {
            QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(view, &enter);
            EXPECT_FALSE(enter.isAccepted());
            EXPECT_FALSE(drop(view, at, &data));
            leave(view);
        }
    }
    EXPECT_EQ(names()[2], "P2");
    EXPECT_EQ(screen->structureData().size(), poolSize);
    EXPECT_TRUE(coordinator.infoWrites.empty());
    EXPECT_TRUE(coordinator.writes.empty());
}

// On both views; a folder whose name merely starts like the program's own is not the program's.
TEST_F(PatchDragAndDropTest, FileNamesArePassedOnAsTheBytesOfTheirURLs)
{
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 QByteArray::fromStdString("file:///m/%FF%FE.qptc\r\nfile://" + coordinator.application + "%20old/3.qptc\r\n"));
    EXPECT_TRUE(lands(listPort(), listRow(2), &data));
    ASSERT_EQ(coordinator.infoWrites.size(), 2u);
    EXPECT_EQ(coordinator.infoWrites[0].source, "/m/\xFF\xFE.qptc");
    EXPECT_EQ(coordinator.infoWrites[1].source, coordinator.application + " old/3.qptc");
    EXPECT_EQ(names()[2], "\xFF\xFE");
    const std::size_t poolSize = screen->structureData().size();
    EXPECT_TRUE(lands(poolPort(), poolRow(a), &data));
    EXPECT_GT(screen->structureData().size(), poolSize);
}

// Moves may come merged (a busy machine, a tablet): the first move past 2 points can arrive rows away.
TEST_F(PatchDragAndDropTest, AFirstMoveThatArrivesOverAnotherRowDragsThePressedOne)
{
    const auto gesture = [&](QWidget* target, QPoint pressed, QPoint firstMove) {
        mouse(target, QEvent::MouseButtonPress, pressed);
        mouse(target, QEvent::MouseMove, firstMove);
        mouse(target, QEvent::MouseButtonRelease, firstMove);
    };
    std::vector<Rows> listDrags;
    list().setDragStarter([&](std::unique_ptr<Drag>) { listDrags.push_back(list().dragState().draggedIndexSet); });
    // Nothing selected: the press on row 4 selects it and drags it, though the move lands on row 9.
    gesture(listPort(), listRow(4), listRow(9));
    // A press on a row of the selection drags the selection, though the move lands outside it.
    selectList({6, 7});
    gesture(listPort(), listRow(7), listRow(12));
    EXPECT_EQ(listDrags, (std::vector<Rows>{{4}, {6, 7}}));
    std::vector<std::vector<Node>> poolDrags;
    pool().setDragStarter([&](std::unique_ptr<Drag>) { poolDrags.push_back(carried()); });
    // A press on the selected row drags it; one on a row not selected drags that row, as list views do.
    selectPool({poolRowOf(a)});
    gesture(poolPort(), poolRow(a), poolRow(d));
    selectPool({poolRowOf(a)});
    gesture(poolPort(), poolRow(c), poolRow(a));
    EXPECT_EQ(poolDrags, (std::vector<std::vector<Node>>{{a}, {c}}));
}

}  // namespace
}  // namespace testing_app
