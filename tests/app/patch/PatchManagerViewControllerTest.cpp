#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include "app/controls/CustomHeaderView.h"
#include "app/controls/CustomScroller.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/UndoMenu.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchListTableModel.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/patch/PatchPropertyViewController.h"
#include "PatchCases.h"

namespace testing_app {
namespace {

using Texts = std::pair<std::string, std::string>;  // a patch's name and comment

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

class PatchManagerViewControllerTest : public PatchScreenCases {
protected:
    // Ten slots whose patches are the unit's working files 0_0_<slot>.qptc.
    void loadUnitFiles()
    {
        load(10);
        for (std::size_t slot = 0; slot < 10; ++slot)
            screen->patchItems()[slot]->path = kUnitFolder + "0_0_" + std::to_string(slot) + ".qptc";
    }
    // A patch as the unit reported it, read from its working file `file`.
    static std::shared_ptr<PatchItem> unitPatch(const std::string& name, const std::string& comment, const std::string& file)
    {
        auto item = patch(name, comment);
        item->path = kUnitFolder + file;
        return item;
    }
    // The edits of a patch file and the writes to the unit logged.
    long loggedWrites() const
    {
        return std::count_if(log.begin(), log.end(), [](const std::string& line) {
            return line.rfind("write", 0) == 0 || line.rfind("editFilePatch", 0) == 0;
        });
    }
    inline static const std::string kUnitFolder = "/root/Temp/Device/Patch/";
};

TEST_F(PatchManagerViewControllerTest, LockingThePoolLocksTheListWhateverTheListIsAskedFor)
{
    struct Case {
        bool pool, list, expected;
    };
    for (const Case c : {Case{true, false, true}, Case{true, true, true}, Case{false, false, false}, Case{false, true, true}}) {
        screen->setLockPatchPool(c.pool);
        screen->setlockPatchList(c.list);
        EXPECT_EQ(list().lockTableView(), c.expected) << c.pool << c.list;
        EXPECT_EQ(screen->isLockPatchPool(), c.pool);
    }
}

TEST_F(PatchManagerViewControllerTest, TheListDrawsPatchListHeadersAndAKnobOnlyWhenItsRowsOverflow)
{
    auto* header = qobject_cast<CustomHeaderView*>(list().horizontalHeader());
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->height(), PatchManagerViewController::kHeaderHeight);
    for (int column = 0; column < 3; ++column) {
        ASSERT_NE(header->headerCellIfAny(column), nullptr);
        EXPECT_EQ(header->headerCellIfAny(column)->headerType(), CustomHeaderCell::PatchList);
        EXPECT_EQ(header->headerCellIfAny(column)->isNotFirstCell(), column > 0);
    }
    CustomScroller* ruler = screen->verticalPatchListRuler();
    ASSERT_EQ(list().verticalScrollBar(), ruler);
    EXPECT_FALSE(ruler->isEffectManagerRuler());
    screen->view()->resize(900, 700);
    screen->view()->show();
    load(10);
    EXPECT_TRUE(ruler->rulerVisible()) << "thirty rows of 55 points overflow 700";
    screen->view()->resize(900, 2400);
    processEventsUntil([&] { return list().viewport()->height() > 1650; });
    screen->validateRuler();
    EXPECT_FALSE(ruler->rulerVisible());
    EXPECT_FALSE(ruler->drawnKnobRect().has_value());
}

// Back Up All starts disabled, names the mode, keeps its white title and sits across the panes' seam.
TEST_F(PatchManagerViewControllerTest, TheBackUpAllButtonNamesTheModeAndSitsAtTheSeam)
{
    QPushButton* button = screen->backUpAllOrRestoreAllButton();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->text().toStdString(), "Back Up All");
    EXPECT_EQ(button->palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(Qt::white));
    screen->setIsRestoreAllMode(true);
    screen->setArrowImageWithBackupAllAndRestoreAllState();
    EXPECT_EQ(button->text().toStdString(), "Restore All");
    // The title stays white either way, so the face must tell a button that cannot be clicked.
    const auto face = [button] {
        const QImage shot = button->grab().toImage();
        return shot.pixelColor(6, shot.height() / 2);
    };
    const QColor disabled = face();
    button->setEnabled(true);
    const QColor enabled = face();
    EXPECT_GT(std::abs(disabled.lightness() - enabled.lightness()), 40) << disabled.name().toStdString() << " "
                                                                       << enabled.name().toStdString();
    QWidget* left = list().parentWidget();
    for (const int width : {900, 1000, 1300, 1400}) {
        screen->view()->resize(width, 700);
        screen->view()->show();
        processEventsUntil([&] { return screen->view()->width() == width; });
        QCoreApplication::processEvents();
        EXPECT_EQ(button->x(), left->width() - PatchManagerViewController::kBackUpButtonOffset) << width;
        EXPECT_EQ(button->x() + button->width() / 2, left->width()) << width;
    }
}

TEST_F(PatchManagerViewControllerTest, TheRestoreResultIsQueuedWithItsCounts)
{
    screen->displayRestoreDialogWithNumberOfRestoredItems(98, 100);
    EXPECT_EQ(log, Names{"text 98 of 100 patches were restored to the device."});
}

TEST_F(PatchManagerViewControllerTest, WritesStayInsideTheListAndRestartTheQuietTime)
{
    load(10);
    const struct {
        const char* what;
        std::function<void(PatchManagerViewController&)> write;
        Names expected;
    } cases[] = {
        {"one slot", [](auto& s) { s.updatePatchFileToDevideAtIndex(4); }, {"writeItem 4", "setReloadBufferDataTimer"}},
        {"slot past the list", [](auto& s) { s.updatePatchFileToDevideAtIndex(10); }, {}},
        {"a run", [](auto& s) { s.updatePatchFileToDevideAtRange(2, 3); }, {"writeGroup 2 3 4", "setReloadBufferDataTimer"}},
        {"a run over the end", [](auto& s) { s.updatePatchFileToDevideAtRange(8, 5); }, {"writeGroup 8 9", "setReloadBufferDataTimer"}},
        {"a run past the list", [](auto& s) { s.updatePatchFileToDevideAtRange(10, 2); }, {}},
        {"an empty run", [](auto& s) { s.updatePatchFileToDevideAtRange(3, 0); }, {}},
        {"the list", [](auto& s) { s.updatePatchListToDevive(s.patchItems()); }, {"writeList 10", "setReloadBufferDataTimer"}},
        {"no list", [](auto& s) { s.updatePatchListToDevive({}); }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log.clear();
        c.write(*screen);
        EXPECT_EQ(log, c.expected);
    }
    // A single slot goes as a copy: the queued write never sees later edits of the list's patch.
    coordinator.writes.clear();
    screen->updatePatchFileToDevideAtIndex(1);
    ASSERT_EQ(coordinator.writes.size(), 1u);
    EXPECT_NE(coordinator.writes[0].first[0], screen->patchItems()[1]);
    EXPECT_EQ(coordinator.writes[0].first[0]->patchName, "P1");
}

TEST_F(PatchManagerViewControllerTest, AReorderWritesTheChangedSlotsOnceAndSelectsTheMovedRows)
{
    load(10);
    screen->didChangePositionFromRowIndexSet(list(), {2, 5}, 8);
    EXPECT_EQ(names(), (Names{"P0", "P1", "P3", "P4", "P6", "P7", "P2", "P5", "P8", "P9"}));
    EXPECT_EQ(list().selectedRows(), (Rows{6, 7}));
    EXPECT_EQ(log, (Names{"writeGroup 2 3 4 5 6 7", "setReloadBufferDataTimer"}));
    ASSERT_EQ(records(), 1u);
    const auto action = lastRecord<ChangePositionAction>();
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->mType, 1);
    EXPECT_EQ(action->changedRange.location, 2u);
    EXPECT_EQ(action->changedRange.length, 6u);
    ASSERT_EQ(action->mOldList.size(), 10u);
    EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(action->mOldList[2])->patchName, "P2");
    EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(action->mNewList[2])->patchName, "P3");
    // To its own place: nothing written, nothing recorded.
    log.clear();
    screen->didChangePositionFromRowIndexSet(list(), {4}, 4);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(records(), 1u);
}

TEST_F(PatchManagerViewControllerTest, OnlyAFilledRowSelectsItsPatchOnTheDevice)
{
    load(20);
    for (const std::uint64_t row : {3u, 19u, 20u, 29u}) screen->didSelectRowAtIndex(list(), row);
    EXPECT_EQ(log, (Names{"selectPatchItem P3 3", "selectPatchItem P19 19"}));
}

TEST_F(PatchManagerViewControllerTest, TheSelectionKeepsWhatRemainsThroughHeaderClicksChangesAndReloads)
{
    const struct {
        const char* what;
        Rows selected;
        std::function<void()> step;
        Rows expected;
    } cases[] = {
        {"a header click", {2, 4},
         [&] {
             screen->mouseDownInHeaderOfTableColumn();
             list().selectColumn(1);
             screen->didClickTableColumn();
         },
         {2, 4}},
        {"an empty selection as the unit's changes apply", {},
         [&] {
             screen->updatePatchItem(patch("Two"), label(2, 5));
             screen->updateBuffterDataToPatchList();
             EXPECT_EQ(screen->patchItems()[2]->patchName, "Two");
         },
         {}},
        {"a reload with fewer rows", {3, 35}, [&] { load(32); }, {3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(40);
        selectList(c.selected);
        c.step();
        EXPECT_EQ(list().selectedRows(), c.expected);
    }
}

TEST_F(PatchManagerViewControllerTest, ChangesFromTheUnitWaitForOneQuietTimeAndApplyBySlotLabel)
{
    load(10);
    selectList({1, 3});
    const auto held = screen->patchItems()[2];
    int resets = 0;
    QObject::connect(screen->patchListModel(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    screen->updatePatchItem(patch("Two", "c2"), label(2, 5));
    screen->updatePatchItem(patch("Seven", "c7"), label(7, 5));
    screen->updatePatchItem(patch("Nowhere"), "99-9");
    EXPECT_EQ(loggedTimes("setReloadBufferDataTimer"), 3);
    EXPECT_EQ(screen->bufferedChangeCount(), 3u);
    log.clear();
    screen->setReloadBufferDataTimer();
    EXPECT_TRUE(screen->loadBufferDataTimer().isActive());
    ASSERT_TRUE(processEventsUntil([&] { return screen->bufferedChangeCount() == 0; }));
    EXPECT_EQ(resets, 1) << "one reload for all three";
    EXPECT_EQ(screen->patchItems()[2], held) << "the slot keeps its object";
    EXPECT_EQ(held->patchName, "Two");
    EXPECT_EQ(held->patchComment, "c2");
    EXPECT_EQ(screen->patchItems()[7]->patchName, "Seven");
    EXPECT_EQ(log, (Names{"updateWarning Two", "updateWarning Seven", "reloadEffectListIfNeeded"}));
    EXPECT_EQ(list().selectedRows(), (Rows{1, 3}));
    for (std::size_t slot : {0u, 1u, 3u, 9u}) EXPECT_EQ(screen->patchItems()[slot]->patchName, "P" + std::to_string(slot));
}

TEST_F(PatchManagerViewControllerTest, AChangeFromTheUnitFollowsThePatchThatWasInItsSlotThroughAReorder)
{
    load(10);
    const auto reported = screen->patchItems()[2], moved = screen->patchItems()[5];
    screen->updatePatchItem(patch("Two", "c2"), label(2, 5));
    // Within the quiet time row 5 goes above row 2: slot 2 now holds P5, slot 3 the patch the unit changed.
    screen->didChangePositionFromRowIndexSet(list(), {5}, 2);
    ASSERT_EQ(screen->patchItems()[2], moved);
    ASSERT_EQ(screen->patchItems()[3], reported);
    // The reorder's write carried the changed patch to its new slot, not the one the unit had replaced.
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
    EXPECT_EQ(reported->patchName, "Two");
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(moved->patchName, "P5") << "the change landed on the patch moved into the slot";
    EXPECT_EQ(reported->patchComment, "c2");
    EXPECT_EQ(names(), (Names{"P0", "P1", "P5", "Two", "P3", "P4", "P6", "P7", "P8", "P9"}));
    // A slot written with the user's name takes what the unit reported before too, the user's name over it.
    const auto edited = screen->patchItems()[7];
    const auto unit = unitPatch("Unit", "u", "0_1_2 (1).qptc");
    screen->updatePatchItem(unit, label(7, 5), {"", false, std::string("P7"), std::string("C7")});
    edited->patchName = "Mine";
    log.clear();
    screen->updatePatchFileToDevideAtIndex(7);
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
    EXPECT_EQ(edited->patchName, "Mine");
    EXPECT_EQ(edited->patchComment, "u");
    EXPECT_EQ(edited->path, unit->path);
    EXPECT_EQ(log, (Names{"editFilePatch Mine|u", "updateWarning Mine", "writeItem 7", "setReloadBufferDataTimer"}));
}

// A change to a patch the user has since renamed is merged, the user's texts over the unit's patch, which
// goes to the unit again; a change to texts the user left alone is the unit's whole.
TEST_F(PatchManagerViewControllerTest, AChangeFromTheUnitIsMergedUnderTheUsersTexts)
{
    loadUnitFiles();
    const auto renamed = screen->patchItems()[3];
    renamed->patchName = "Typed";
    const auto knob = unitPatch("P3", "Knob", "0_0_3 (1).qptc");
    screen->updatePatchItem(knob, label(3, 5), {renamed->path, true, std::string("P3"), std::string("C3")});
    screen->updatePatchItem(unitPatch("Unit5", "U5", "0_1_0 (1).qptc"), label(5, 5),
                            {screen->patchItems()[5]->path, false, std::string("P5"), std::string("C5")});
    log.clear();
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(renamed->patchName, "Typed");
    EXPECT_EQ(renamed->patchComment, "Knob");
    EXPECT_EQ(renamed->path, knob->path);
    EXPECT_EQ(screen->patchItems()[5]->patchName, "Unit5");
    EXPECT_EQ(loggedTimes("editFilePatch Typed|Knob"), 1) << testing::PrintToString(log);
    EXPECT_EQ(loggedTimes("writeItem 3"), 1) << testing::PrintToString(log);
    EXPECT_EQ(loggedTimes("writeItem 5"), 0) << testing::PrintToString(log);
    // The unit's file cannot take the user's texts: the list shows what the unit holds and says so.
    coordinator.editSucceeds = false;
    renamed->patchName = "Again";
    screen->updatePatchItem(unitPatch("Typed", "Dial", "0_0_3 (2).qptc"), label(3, 5),
                            {renamed->path, false, std::string("Typed"), std::string("Knob")});
    log.clear();
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(renamed->patchName, "Typed");
    EXPECT_EQ(renamed->patchComment, "Dial");
    EXPECT_EQ(loggedTimes("info Patch_CanNotEditPatchItem Again"), 1) << testing::PrintToString(log);
}

// The change is in the unit already, so the copy must be the patch the unit holds.
TEST_F(PatchManagerViewControllerTest, StepsThatCopyListRowsTakeTheUnitsChangesOfTheQuietTimeFirst)
{
    const struct {
        const char* what;
        std::function<void(PatchManagerViewController&)> step;
    } cases[] = {
        {"Backup All", [](auto& s) { s.backUpButtonClick(); }},
        {"a row saved at the top", [](auto& s) { s.addBackUpPatchItemAtIndexs({2}, nullptr, true); }},
        {"rows saved as a new group", [](auto& s) { s.createNewGroupWithPatchIndexs({1, 2}, nullptr, true); }},
        {"a row saved into a group", [](auto& s) { s.insertBackUpPatchForPatchItemAtIndexs({2}, s.structureData().front(), 0, true); }},
        {"rows dragged to a folder",
         [](auto& s) {
             PatchManagerViewController::DraggedContent drag;
             drag.rows = {2};
             s.namesOfPromisedFilesDroppedAtDestination(s.makeDragStagingFolder(), drag);
         }},
    };
    appDelegate.setDeviceConnected(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(5);
        screen->setStructureData({groupNode("Group", {})});
        auto changed = patch("Unit", "u");
        changed->path = "/root/Device/Patch/0_0_2 (1).qptc";
        screen->updatePatchItem(changed, label(2, 5));
        log.clear();
        c.step(*screen);
        EXPECT_EQ(screen->bufferedChangeCount(), 0u);
        EXPECT_EQ(screen->patchItems()[2]->patchName, "Unit");
        // The copy is made from the unit's file: in the log, or for a backup as its group's third patch.
        const auto& pool = screen->structureData();
        const bool backedUp = pool.size() == 2 && pool.back()->childDirectories.size() == 5 &&
                              pool.back()->childDirectories[2]->name == "Unit";
        EXPECT_TRUE(!loggedWith("0_0_2 (1).qptc").empty() || backedUp) << testing::PrintToString(log);
    }
}

// A change made before our write landed follows the patch it names (by its file) wherever the list moved
// it, and goes to the unit again there; one made after names the patch we wrote and stays where it is.
TEST_F(PatchManagerViewControllerTest, AChangeFromTheUnitFollowsThePatchItNamesAndGoesBackWhereOurWriteReplacedIt)
{
    loadUnitFiles();
    const auto held = screen->patchItems()[1], movedIn = screen->patchItems()[9];
    screen->didChangePositionFromRowIndexSet(list(), {9}, 1);
    ASSERT_EQ(screen->patchItems()[1], movedIn);
    ASSERT_EQ(screen->patchItems()[2], held);
    log.clear();
    const auto knob = unitPatch("Knob", "", "0_0_1 (1).qptc");
    screen->updatePatchItem(knob, label(1, 5), {held->path, true, std::nullopt, std::nullopt});
    // A second change in the same quiet time names the file the first one's patch takes.
    screen->updatePatchItem(unitPatch("Knob 2", "", "0_0_1 (1).qptc"), label(2, 5), {knob->path, false, std::nullopt, std::nullopt});
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(held->patchName, "Knob 2");
    EXPECT_EQ(movedIn->patchName, "P9");
    EXPECT_EQ(loggedTimes("writeItem 2"), 1) << testing::PrintToString(log);
    // A change of a patch that has left the list, which our write replaces on the unit: nothing to keep.
    screen->updatePatchItem(patch("Gone"), label(3, 5), {kUnitFolder + "elsewhere.qptc", true, std::nullopt, std::nullopt});
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
    log.clear();
    screen->updatePatchItem(patch("Dial"), label(1, 5), {movedIn->path, false, std::nullopt, std::nullopt});
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(movedIn->patchName, "Dial");
    EXPECT_EQ(loggedWrites(), 0) << testing::PrintToString(log);
}

// The unit's waiting change goes under the name the undo puts back; a name that does not decode (it reads
// as "") is taken byte for byte as its file stores it.
TEST_F(PatchManagerViewControllerTest, AnUndoOfARenameWithinTheQuietTimeKeepsTheUnitsChange)
{
    const Bytes undecodable{0xFF, 0xFE};
    const struct {
        const char* what;
        std::string oldName;
        bool stored;
        // The undo's own write-back, then the merge's onto the unit's patch.
        long byteRestores;
    } cases[] = {{"a name that decodes", "P2", false, 0}, {"a name that does not decode", "", true, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        undo.clearUndoStack();
        loadUnitFiles();
        const auto renamed = screen->patchItems()[2];
        renamed->patchName = "Mine";
        auto record = std::make_shared<ChangeTextAction>(renamed, c.oldName, "Mine", 1);
        if (c.stored) {
            record->mOldStored.name = undecodable;
            coordinator.storedTexts[renamed->path] = StoredPatchTexts{undecodable, std::nullopt};
        }
        undo.addActionStack(record);
        const auto knob = unitPatch("Mine", "Knob", "0_0_2 (1).qptc");
        screen->updatePatchItem(knob, label(2, 5), {renamed->path, false, std::string("Mine"), std::string("C2")});
        log.clear();
        undo.doUndoAction();
        EXPECT_EQ(screen->bufferedChangeCount(), 0u);
        EXPECT_EQ(renamed->patchName, c.oldName);
        EXPECT_EQ(renamed->patchComment, "Knob");
        EXPECT_EQ(renamed->path, knob->path);
        EXPECT_EQ(loggedTimes("restore name 2 comment -"), c.byteRestores) << testing::PrintToString(log);
        EXPECT_EQ(loggedTimes("writeItem 2"), 1) << testing::PrintToString(log);
    }
}

// Its row took another patch since, which no write of ours carries to the unit: the change shows whole.
TEST_F(PatchManagerViewControllerTest, AChangeOfAPatchNoLongerListedIsNotMergedWithTheSlotsOther)
{
    loadUnitFiles();
    screen->updatePatchItem(unitPatch("Unit", "U", "0_0_4 (1).qptc"), label(4, 5),
                            {kUnitFolder + "gone.qptc", false, std::string("Gone"), std::string("G")});
    log.clear();
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(screen->patchItems()[4]->patchName, "Unit");
    EXPECT_EQ(screen->patchItems()[4]->patchComment, "U");
    EXPECT_EQ(loggedWrites(), 0) << testing::PrintToString(log);
}

TEST_F(PatchManagerViewControllerTest, ChangesFromTheUnitWaitWhileANameIsEdited)
{
    load(10);
    screen->view()->resize(900, 700);
    selectList({0});
    list().editCurrentRow();
    auto* editor = qobject_cast<QLineEdit*>(screen->patchListDelegate()->editor());
    ASSERT_NE(editor, nullptr);
    editor->setText("Typing");
    screen->updatePatchItem(patch("FromUnit"), label(0, 5));
    log.clear();
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(log, Names{"setReloadBufferDataTimer"}) << "another quiet time";
    EXPECT_EQ(screen->bufferedChangeCount(), 1u);
    EXPECT_EQ(editor->text().toStdString(), "Typing");
    EXPECT_EQ(screen->patchItems()[0]->patchName, "P0");
    list().closePersistentEditor(list().model()->index(0, 1));
    list().setFocus();
    ASSERT_TRUE(processEventsUntil([&] { return screen->patchListDelegate()->editor() == nullptr; }));
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(screen->patchItems()[0]->patchName, "FromUnit");
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
}

TEST_F(PatchManagerViewControllerTest, TheListGainingTheFocusLeavesRestoreAllMode)
{
    activate(*screen->view());
    screen->backUpAllOrRestoreAllButton()->setEnabled(true);
    screen->backUpAllOrRestoreAllButton()->setFocus();
    processEventsUntil([&] { return screen->backUpAllOrRestoreAllButton()->hasFocus(); });
    screen->setIsRestoreAllMode(true);
    list().setFocus();
    processEventsUntil([&] { return !screen->isRestoreAllMode(); });
    EXPECT_FALSE(screen->isRestoreAllMode());
    EXPECT_EQ(screen->backUpAllOrRestoreAllButton()->text().toStdString(), "Back Up All");
}

TEST_F(PatchManagerViewControllerTest, WarningMarksAreRecomputedOnlyWhileConnected)
{
    load(5);
    screen->reloadData();
    EXPECT_EQ(log, Names{});
    appDelegate.setDeviceConnected(true);
    screen->reloadData();
    // The pool's pass never runs in the caller's turn: it reads every file, off the main thread.
    EXPECT_EQ(log, Names{"updatePatchWarningInPatchList"});
    processEventsUntil([&] { return log.size() == 2; });
    EXPECT_EQ(log, (Names{"updatePatchWarningInPatchList", "updatePatchWarningInPatchPool"}));
}

TEST_F(PatchManagerViewControllerTest, TheScreenOutlivesItsViewWhenTheWindowDeletesItFirst)
{
    load(10);
    delete screen->view();
    EXPECT_EQ(screen->backUpAllOrRestoreAllButton(), nullptr);
    screen->setLockPatchPool(true);
    screen->setlockPatchList(false);
    screen->reloadData();
    screen->setIsRestoreAllMode(true);
    screen->setArrowImageWithBackupAllAndRestoreAllState();
    screen->updatePatchItem(patch("Late"), label(1, 5));
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(screen->patchItems()[1]->patchName, "Late");
    screen->mouseDownInHeaderOfTableColumn();
    screen->didClickTableColumn();
    screen->viewDidAppear();
    QCoreApplication::processEvents();
}

TEST_F(PatchManagerViewControllerTest, ShowingTheScreenScrollsToTheTopAndForgetsTheClickHistory)
{
    load(100);
    screen->view()->resize(900, 700);
    screen->view()->show();
    selectList({40, 41});
    for (int showing = 0; showing < 2; ++showing) {
        list().verticalScrollBar()->setValue(list().verticalScrollBar()->maximum());
        ASSERT_GT(list().verticalScrollBar()->value(), 0);
        screen->viewDidAppear();
        // Only the first showing in the process waits for the event loop.
        if (showing == 0) processEventsUntil([&] { return list().verticalScrollBar()->value() == 0; });
        EXPECT_EQ(list().verticalScrollBar()->value(), 0) << showing;
        EXPECT_TRUE(list().selectionList().empty());
        EXPECT_EQ(list().previousSelectedRow(), 0u);
    }
    EXPECT_EQ(list().selectedRows(), (Rows{40, 41})) << "the selection itself stays";
}

TEST_F(PatchManagerViewControllerTest, TheUndoObserversGoWithTheScreen)
{
    screen.reset();
    // Posting to a screen that has gone would crash.
    undo.addActionStack(std::make_shared<ChangePositionAction>());
    undo.doUndoAction();
}

// ---- Back Up All and Restore All ----

TEST_F(PatchManagerViewControllerTest, BackupAllSelectsTheNewGroupAndTheButtonComesBackUnlessTheDeviceHasGone)
{
    appDelegate.setDeviceConnected(true);
    load(3);
    setPool({groupNode("Old", patchNodes("B", 1), true)});
    screen->setBackupClock([] { return std::chrono::system_clock::from_time_t(0); });
    screen->backUpButtonClick();
    ASSERT_EQ(screen->structureData().size(), 2u);
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());
    ASSERT_EQ(pool().selectedRowList(), (std::vector<int>{1}));
    EXPECT_EQ(pool().poolModel()->nodeAt(pool().indexForRow(1)), screen->structureData()[1]);
    EXPECT_FALSE(screen->backUpAllOrRestoreAllButton()->isEnabled());
    EXPECT_TRUE(processEventsUntil([&] { return screen->backUpAllOrRestoreAllButton()->isEnabled(); }));
    screen->setIsRestoreAllMode(false);
    screen->backUpButtonClick();
    ASSERT_EQ(screen->structureData().size(), 3u);
    appDelegate.setDeviceConnected(false);
    processEventsUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_FALSE(screen->backUpAllOrRestoreAllButton()->isEnabled());
}

TEST_F(PatchManagerViewControllerTest, RestoreNeedsExactlyOneSelectedPoolRow)
{
    appDelegate.setDeviceConnected(true);
    load(4);
    setPool({groupNode("A", patchNodes("A", 2), true), groupNode("B", patchNodes("B", 2), true)});
    for (const auto& [rows, shown] : {std::pair{std::vector<int>{0, 1}, Names{"P0", "P1", "P2", "P3"}},
                                      std::pair{std::vector<int>{1}, Names{"B0", "B1", "P2", "P3"}}}) {
        selectPool(rows);
        screen->setIsRestoreAllMode(true);
        screen->backUpButtonClick();
        EXPECT_EQ(names(), shown);
        EXPECT_EQ(screen->numberOfRestoredDictionaryArray().size(), rows.size() == 1 ? 1u : 0u);
    }
    // The list stays locked until the unit has taken the whole list.
    EXPECT_TRUE(appDelegate.isRestoringAll());
    EXPECT_TRUE(list().lockTableView());
}

// The first click backs up and turns the button into Restore All: the second, by mouse or Space, must not restore.
TEST_F(PatchManagerViewControllerTest, ADoubleClickOnBackUpAllNeverRestores)
{
    appDelegate.setDeviceConnected(true);
    for (const bool keyboard : {false, true}) {
        SCOPED_TRACE(keyboard ? "Tab, Space, Space" : "double click");
        load(4);
        setPool({});
        screen->view()->show();
        screen->setEnableBackupAllButton(true);
        QPushButton* button = screen->backUpAllOrRestoreAllButton();
        const auto click = [&] {
            if (!keyboard) return testing_app::click(button, button->rect().center());
            button->setFocus(Qt::TabFocusReason);
            for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) key(button, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), type);
        };
        click();
        ASSERT_EQ(screen->structureData().size(), 1u);
        ASSERT_TRUE(processEventsUntil([&] { return button->isEnabled(); }));
        ASSERT_TRUE(screen->isRestoreAllMode());
        click();
        EXPECT_TRUE(screen->numberOfRestoredDictionaryArray().empty());
        EXPECT_FALSE(appDelegate.isRestoringAll());
        // Once the double click is over the button restores as asked.
        processEventsUntil([] { return false; }, std::chrono::milliseconds(QApplication::doubleClickInterval()));
        click();
        EXPECT_EQ(screen->numberOfRestoredDictionaryArray().size(), 1u);
        appDelegate.setIsRestoringAll(false);
        screen->numberOfRestoredDictionaryArray().clear();
        screen->setlockPatchList(false);
    }
}

// ---- undo ----

TEST_F(PatchManagerViewControllerTest, TheStackReachesTheScreensHandlers)
{
    load(6);
    undo.addActionStack(std::make_shared<DragFromPoolToListAction>(std::vector<UndoAction::Object>{patch("Former")}, 2));
    undo.doUndoAction();
    EXPECT_EQ(names(), (Names{"P0", "P1", "Former", "P3", "P4", "P5"}));
    EXPECT_TRUE(logged("writeGroup 2"));
    EXPECT_FALSE(undo.canBeUndo());
    // A selection record selects its rows again, and the unit hears of the first.
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{4, 1}));
    undo.doUndoAction();
    EXPECT_EQ(list().selectedRows(), (Rows{1, 4}));
    EXPECT_TRUE(logged("selectPatchItem P1 1"));
}

TEST_F(PatchManagerViewControllerTest, TheArrowsOpenTheUndoPopoverWhoseButtonUndoes)
{
    load(6);
    screen->view()->resize(900, 700);
    screen->view()->show();
    selectList({1});
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{3}));
    const auto arrows = screen->view()->findChildren<RightClickImageView*>();
    ASSERT_EQ(arrows.size(), 3);
    for (RightClickImageView* view : arrows) {
        RightClickImageView::getMenuPopover()->close();
        testing_app::click(view, view->rect().center(), Qt::RightButton);
        EXPECT_TRUE(RightClickImageView::getMenuPopover()->isShown());
    }
    auto* menu = qobject_cast<UndoMenu*>(RightClickImageView::getMenuPopover()->contentWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->undoButton()->isEnabled());
    menu->undoButton()->click();
    EXPECT_EQ(list().selectedRows(), Rows{3});
    EXPECT_FALSE(RightClickImageView::getMenuPopover()->isShown());
}

// Whichever menu asks it, the undo takes the newest edit back and is counted once per record.
TEST_F(PatchManagerViewControllerTest, BothMenusUndoButtonsUndoTheNewestEditAndCountItOnce)
{
    load(6);
    const Node warm = patchNode("Pad Lead"), octaver = patchNode("Oct");
    screen->setStructureData({warm, octaver});
    undo.addActionStack(text(octaver, "Octaver", "Oct", 6));
    undo.addActionStack(text(warm, "Warm Pad", "Pad Lead", 3));
    appDelegate.setIsPatchPoolChanged(false);
    const std::uint64_t before = appDelegate.patchPoolChanges();
    screen->didClickOnUndoButtonAtIndex(list(), 0);
    EXPECT_EQ(topNames(), (Names{"Warm Pad", "Oct"}));
    EXPECT_EQ(appDelegate.patchPoolChanges(), before + 1);
    appDelegate.setIsPatchPoolChanged(false);
    screen->didClickOnUndoButtonAtItem(&pool(), nullptr, nullptr);
    EXPECT_EQ(topNames(), (Names{"Warm Pad", "Octaver"}));
    EXPECT_EQ(appDelegate.patchPoolChanges(), before + 2);
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());
    EXPECT_FALSE(undo.canBeUndo());
}

// The unit's own changes against the list's later steps: a merge that moved its patch to another file, a
// drop or Restore All that replaced the patch and is undone, an undo under an open editor, and the undo
// of a sheet's Save.
class UnitChangeAfterMerge : public PatchManagerViewControllerTest {
protected:
    void showWindow()
    {
        screen->view()->resize(900, 700);
        activate(*screen->view());
    }
    // Opens row 2's cell in `column` (1 the name, 2 the comment) for editing; the editor or none.
    QWidget* openEditor(int column)
    {
        list().setCurrentIndex(list().model()->index(2, column));
        list().edit(list().model()->index(2, column));
        return screen->patchListDelegate()->editor();
    }
};

// The unit changes a patch while our write of it is on its way; the merge gives the list's patch the file of
// the unit's change and writes it again. The unit changes it once more before that write lands: the change
// names the file the unit still held, which the list's patch has left, and is that patch's all the same.
TEST_F(UnitChangeAfterMerge, ASecondChangeWhileTheMergedPatchGoesBackIsKept)
{
    // The names the user typed before the unit's first change and after its merge, those the unit's two
    // changes give ("" keeps what it held), whether both wait out one quiet time, the list's name at the end.
    const struct {
        const char* what;
        std::string typed, typedAfter, first, second;
        bool buffered;
        std::string name;
    } cases[] = {
        {"the unit's texts", "", "", "", "", false, "P3"},
        {"a typed name", "Typed", "", "", "", false, "Typed"},
        // The unit's first name is no edit of the user's: the unit's later name goes over it.
        {"the unit renames twice", "", "", "B", "C", false, "C"},
        {"the unit renames twice in one quiet time", "", "", "B", "C", true, "C"},
        // The unit renamed what it held of the user's name: the later gesture wins.
        {"a typed name, the unit renames twice", "Typed", "", "B", "C", false, "C"},
        // A name the user typed over the unit's first one stays the user's.
        {"the unit renames twice, typed between", "", "Mine", "B", "C", false, "Mine"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        loadUnitFiles();
        const auto listed = screen->patchItems()[3];
        const std::string dumped = listed->path;
        if (!c.typed.empty()) listed->patchName = c.typed;
        // What our earlier write, on its way meanwhile, puts on the unit.
        const std::string written = c.typed.empty() ? "P3" : c.typed;

        screen->updatePatchItem(unitPatch(c.first.empty() ? "P3" : c.first, "Knob", "0_0_3 (1).qptc"), label(3, 5),
                                {dumped, true, std::string("P3"), std::string("C3")});
        if (!c.buffered) {
            screen->updateBuffterDataToPatchList();
            ASSERT_EQ(listed->path, kUnitFolder + "0_0_3 (1).qptc");
            ASSERT_EQ(loggedTimes("writeItem 3"), 1) << testing::PrintToString(log);
            log.clear();
        }
        if (!c.typedAfter.empty()) listed->patchName = c.typedAfter;

        // The unit held our earlier write of the patch (its dumped file, with the user's name) when it
        // changed it again, a knob this time: its texts are those it held, and the comment its first
        // change gave the list's patch stays over them.
        screen->updatePatchItem(unitPatch(c.second.empty() ? written : c.second, "C3", "0_0_3 (2).qptc"), label(3, 5),
                                {dumped, true, written, std::string("C3")});
        EXPECT_EQ(screen->bufferedChangeCount(), c.buffered ? 2u : 1u) << "the second change was dropped";
        screen->updateBuffterDataToPatchList();
        EXPECT_EQ(Texts(listed->patchName, listed->patchComment), Texts(c.name, "Knob"));
        EXPECT_EQ(listed->path, kUnitFolder + "0_0_3 (2).qptc");
        EXPECT_EQ(loggedTimes("writeItem 3"), 1) << testing::PrintToString(log);
        EXPECT_EQ(names()[4], "P4");
    }
}

// A drop onto the list, or Restore All, replaces a patch while the unit changes it: the write replaces the
// change on the unit. The undo puts the patch back as the unit last held it, the change in it, and writes
// that; a change of a patch no undo keeps is still let go.
TEST_F(UnitChangeAfterMerge, AnUndoOfAReplacementPutsBackThePatchWithTheUnitsChange)
{
    struct Case {
        const char* what;
        std::function<void(PatchManagerViewController&)> replace;
        std::string write;  // what the undo's write logs
    };
    const std::vector<Case> cases{
        {"a drop", [](auto& s) { s.replaceItemByDragging({patchItem("Dropped", "D", kUnitFolder + "dropped.qptc")}, 3); }, "writeGroup 3"},
        {"Restore All",
         [](auto& s) {
             const Node group = groupNode("Backup", {}, true);
             for (int i = 0; i < 10; ++i) group->childDirectories.push_back(patchNode("B" + std::to_string(i), "/root/Temp/Local/Backup"));
             s.restorePatchItemWithBackupAllGroup(group);
         },
         "writeGroup 0 1 2 3 4 5 6 7 8 9"},
    };
    appDelegate.setDeviceConnected(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        undo.clearUndoStack();
        loadUnitFiles();
        const auto replaced = screen->patchItems()[3];
        const std::string held = replaced->path;
        c.replace(*screen);
        ASSERT_NE(screen->patchItems()[3], replaced);

        screen->updatePatchItem(unitPatch("P3", "Knob", "0_0_3 (1).qptc"), label(3, 5),
                                {held, true, std::string("P3"), std::string("C3")});
        EXPECT_EQ(screen->bufferedChangeCount(), 1u) << "the change of the replaced patch was dropped";
        // A patch no record keeps has nowhere to come back from.
        screen->updatePatchItem(unitPatch("Gone", "G", "0_0_4 (1).qptc"), label(4, 5),
                                {kUnitFolder + "elsewhere.qptc", true, std::nullopt, std::nullopt});
        EXPECT_EQ(screen->bufferedChangeCount(), 1u);

        log.clear();
        undo.doUndoAction();
        ASSERT_EQ(screen->patchItems()[3], replaced);
        EXPECT_EQ(Texts(replaced->patchName, replaced->patchComment), Texts("P3", "Knob"));
        EXPECT_EQ(replaced->path, kUnitFolder + "0_0_3 (1).qptc");
        EXPECT_EQ(loggedTimes(c.write), 1) << testing::PrintToString(log);
        ASSERT_FALSE(coordinator.writes.empty());
        const auto& written = coordinator.writes.back().first;
        EXPECT_NE(std::find(written.begin(), written.end(), replaced), written.end());
    }
}

// An undo from the popover takes the unit's waiting change of the patch under an open editor in which
// nothing was typed. Escape, or leaving the editor, keeps what the undo and the unit left there and writes
// nothing over it.
TEST_F(UnitChangeAfterMerge, AnUntouchedEditorUnderAnUndoKeepsTheUnitsChange)
{
    const struct {
        const char* what;
        int column;                 // the editor's: 1 the name, 2 the comment
        std::int64_t record;        // the undone edit's: 1 a name, 2 a comment
        bool escape;                // else the list takes the keys
        std::string name, comment;  // of the patch after the undo
    } cases[] = {
        {"the comment's editor, Escape", 2, 1, true, "P2", "Knob"},
        {"the comment's editor, left", 2, 1, false, "P2", "Knob"},
        {"the name's editor, Escape", 1, 2, true, "Unit", "C2"},
        {"the name's editor, left", 1, 2, false, "Unit", "C2"},
    };
    showWindow();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        undo.clearUndoStack();
        loadUnitFiles();
        const auto edited = screen->patchItems()[2];
        const bool name = c.record == 1;
        std::string& text = name ? edited->patchName : edited->patchComment;
        const std::string old = std::exchange(text, name ? "Mine" : "Warm");
        undo.addActionStack(std::make_shared<ChangeTextAction>(edited, old, text, c.record));
        screen->updatePatchItem(unitPatch(name ? "Mine" : "Unit", name ? "Knob" : "Warm", "0_0_2 (1).qptc"), label(2, 5),
                                {edited->path, false, edited->patchName, edited->patchComment});
        selectList({2});
        ASSERT_NE(openEditor(c.column), nullptr);

        log.clear();
        undo.doUndoAction();
        ASSERT_EQ(Texts(edited->patchName, edited->patchComment), Texts(c.name, c.comment));
        QWidget* editor = screen->patchListDelegate()->editor();
        ASSERT_NE(editor, nullptr) << "the edit did not go on through the undo";
        editor->setFocus();
        processEventsUntil([&] { return editor->hasFocus(); });
        log.clear();
        if (c.escape) {
            key(editor, Qt::Key_Escape);
        } else {
            list().setFocus();
        }
        ASSERT_TRUE(processEventsUntil([&] { return screen->patchListDelegate()->editor() == nullptr; }));
        EXPECT_EQ(Texts(edited->patchName, edited->patchComment), Texts(c.name, c.comment));
        EXPECT_EQ(loggedWrites(), 0) << testing::PrintToString(log);
    }
}

// A sheet's Save changed one text; the unit changed the other since. Its undo puts back the text it
// changed and leaves the unit's.
TEST_F(UnitChangeAfterMerge, AnUndoOfASheetsSavePutsBackOnlyTheTextsItChanged)
{
    const struct {
        const char* what;
        std::string name, comment;              // typed in the sheet; empty leaves the field
        std::string unitName, unitComment;      // the unit's change applied after the Save
        std::string undoneName, undoneComment;  // the patch after the undo
        std::string restored;                   // what the undo's restore puts back
    } cases[] = {
        {"the name", "Lead", "", "Lead", "Knob", "P4", "Knob", "restore name 0 comment -"},
        {"the comment", "", "Warm", "Unit", "Warm", "Unit", "C4", "restore name - comment 0"},
        {"both", "Lead", "Warm", "Lead", "Warm", "P4", "C4", "restore name 0 comment 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        undo.clearUndoStack();
        loadUnitFiles();
        const auto patch4 = screen->patchItems()[4];
        coordinator.storedTexts[patch4->path] = StoredPatchTexts{Bytes{}, Bytes{}};
        screen->didClickOnPropertyButtonAtIndex(*screen->patchManagerTableView(), 4);
        ASSERT_NE(dialogs.runSheets(), nullptr);
        PatchPropertyViewController* sheet = screen->patchPropertyViewController();
        if (!c.name.empty()) sheet->patchNameTextField()->setText(QString::fromStdString(c.name));
        if (!c.comment.empty()) sheet->patchCommentTextView()->setPlainText(QString::fromStdString(c.comment));
        sheet->saveButtonClicked();
        ASSERT_EQ(undo.actionStack().size(), 1u);

        // The unit's change of the saved patch, applied after a quiet time.
        screen->updatePatchItem(unitPatch(c.unitName, c.unitComment, "0_1_4 (1).qptc"), label(4, 5),
                                {patch4->path, false, patch4->patchName, patch4->patchComment});
        screen->updateBuffterDataToPatchList();
        ASSERT_EQ(Texts(patch4->patchName, patch4->patchComment), Texts(c.unitName, c.unitComment));

        log.clear();
        undo.doUndoAction();
        EXPECT_EQ(Texts(patch4->patchName, patch4->patchComment), Texts(c.undoneName, c.undoneComment));
        EXPECT_EQ(loggedTimes(c.restored), 1) << testing::PrintToString(log);
        EXPECT_EQ(loggedTimes("writeItem 4"), 1) << testing::PrintToString(log);
    }
}

// Backup All takes the unit's waiting change of the patch under an open editor in which nothing was typed,
// and the list keeps the keys away from the editor: its edit ends over what the unit left there and writes
// nothing over it.
TEST_F(UnitChangeAfterMerge, AnUntouchedEditorUnderBackupAllKeepsTheUnitsChange)
{
    showWindow();
    for (const int column : {1, 2}) {  // the name's editor, the comment's
        SCOPED_TRACE(column);
        loadUnitFiles();
        appDelegate.setDeviceConnected(true);
        // The list has the keys: the button backs up again, not restores the new backup.
        screen->tableViewDidBecomeFirstResponder(*screen->patchManagerTableView());
        const auto edited = screen->patchItems()[2];
        QWidget* editor = openEditor(column);
        ASSERT_NE(editor, nullptr);
        editor->setFocus();
        processEventsUntil([&] { return editor->hasFocus(); });
        screen->updatePatchItem(unitPatch("Unit", "Set", "0_0_2 (1).qptc"), label(2, 5),
                                {edited->path, false, std::string("P2"), std::string("C2")});
        log.clear();
        screen->backUpButtonClick();
        if (QWidget* open = screen->patchListDelegate()->editor()) key(open, Qt::Key_Escape);
        ASSERT_TRUE(processEventsUntil([&] { return screen->patchListDelegate()->editor() == nullptr; }));
        EXPECT_EQ(Texts(edited->patchName, edited->patchComment), Texts("Unit", "Set"));
        EXPECT_EQ(loggedWrites(), 0) << testing::PrintToString(log);
    }
}

// An undo is a gesture like any other: each kind that can change what the pool holds marks the pool
// changed and moves its change count, so that a save which took its copy before the undo does not clear
// the mark when it lands, and the quit writes what the undo put back.
using PatchScreenUndoMarksPool = PatchManagerViewControllerTest;

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

}  // namespace
}  // namespace testing_app
