#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <functional>

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include "app/controls/CustomHeaderView.h"
#include "app/controls/CustomScroller.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchListTableModel.h"
#include "library/models/DirectoryObject.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "support/app/PatchScreenRig.h"

namespace {

using testing_app::PatchScreenRig;

class PatchManagerViewControllerTest : public PatchScreenRig {};

TEST_F(PatchManagerViewControllerTest, LockingThePoolLocksTheListWhateverTheListIsAskedFor)
{
    struct Case {
        bool pool;
        bool list;
        bool expected;
    };
    for (const Case c : {Case{true, false, true}, Case{true, true, true}, Case{false, false, false}, Case{false, true, true}}) {
        screen->setLockPatchPool(c.pool);
        screen->setlockPatchList(c.list);
        EXPECT_EQ(screen->patchManagerTableView()->lockTableView(), c.expected) << c.pool << c.list;
        EXPECT_EQ(screen->isLockPatchPool(), c.pool);
    }
}

TEST_F(PatchManagerViewControllerTest, TheListDrawsPatchListHeadersAndAKnobOnlyWhenItsRowsOverflow)
{
    auto& table = *screen->patchManagerTableView();
    auto* header = qobject_cast<CustomHeaderView*>(table.horizontalHeader());
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->height(), PatchManagerViewController::kHeaderHeight);
    for (int column = 0; column < 3; ++column) {
        ASSERT_NE(header->headerCellIfAny(column), nullptr);
        EXPECT_EQ(header->headerCellIfAny(column)->headerType(), CustomHeaderCell::PatchList);
        EXPECT_EQ(header->headerCellIfAny(column)->isNotFirstCell(), column > 0);
    }
    CustomScroller* ruler = screen->verticalPatchListRuler();
    ASSERT_EQ(table.verticalScrollBar(), ruler);
    EXPECT_FALSE(ruler->isEffectManagerRuler());

    screen->view()->resize(900, 700);
    screen->view()->show();
    load(10);
    EXPECT_TRUE(ruler->rulerVisible()) << "thirty rows of 55 points overflow 700";
    screen->view()->resize(900, 2400);
    testing_app::processEventsUntil([&] { return table.viewport()->height() > 1650; });
    screen->validateRuler();
    EXPECT_FALSE(ruler->rulerVisible());
    EXPECT_FALSE(ruler->drawnKnobRect().has_value());
}

TEST_F(PatchManagerViewControllerTest, TheButtonStaysAtTheSeamBetweenThePanes)
{
    QWidget* left = screen->patchManagerTableView()->parentWidget();
    for (const int width : {900, 1400}) {
        screen->view()->resize(width, 700);
        screen->view()->show();
        testing_app::processEventsUntil([&] { return screen->view()->width() == width; });
        QCoreApplication::processEvents();
        EXPECT_EQ(screen->backUpAllOrRestoreAllButton()->x(), left->width() - PatchManagerViewController::kBackUpButtonOffset)
            << width;
    }
}

TEST_F(PatchManagerViewControllerTest, TheRestoreResultIsQueuedWithItsCounts)
{
    screen->displayRestoreDialogWithNumberOfRestoredItems(98, 100);
    EXPECT_EQ(log, std::vector<std::string>{"text 98 of 100 patches were restored to the device."});
}

TEST_F(PatchManagerViewControllerTest, TheButtonNamesTheModeAndStartsDisabled)
{
    EXPECT_FALSE(screen->backUpAllOrRestoreAllButton()->isEnabled());
    EXPECT_EQ(screen->backUpAllOrRestoreAllButton()->text().toStdString(), "Back Up All");
    screen->setIsRestoreAllMode(true);
    screen->setArrowImageWithBackupAllAndRestoreAllState();
    EXPECT_EQ(screen->backUpAllOrRestoreAllButton()->text().toStdString(), "Restore All");

    // The title stays white either way, so the face must tell a button that cannot be clicked.
    QPushButton* button = screen->backUpAllOrRestoreAllButton();
    const auto face = [button] {
        const QImage shot = button->grab().toImage();
        return shot.pixelColor(6, shot.height() / 2);
    };
    const QColor disabled = face();
    button->setEnabled(true);
    const QColor enabled = face();
    EXPECT_GT(std::abs(disabled.lightness() - enabled.lightness()), 40)
        << disabled.name().toStdString() << " " << enabled.name().toStdString();
}

TEST_F(PatchManagerViewControllerTest, WritesStayInsideTheListAndRestartTheQuietTime)
{
    load(10);
    struct Case {
        const char* what;
        std::function<void(PatchManagerViewController&)> write;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"one slot", [](auto& s) { s.updatePatchFileToDevideAtIndex(4); }, {"writeItem 4", "setReloadBufferDataTimer"}},
        {"slot past the list", [](auto& s) { s.updatePatchFileToDevideAtIndex(10); }, {}},
        {"a run", [](auto& s) { s.updatePatchFileToDevideAtRange(2, 3); }, {"writeGroup 2 3 4", "setReloadBufferDataTimer"}},
        {"a run over the end", [](auto& s) { s.updatePatchFileToDevideAtRange(8, 5); }, {"writeGroup 8 9", "setReloadBufferDataTimer"}},
        {"a run past the list", [](auto& s) { s.updatePatchFileToDevideAtRange(10, 2); }, {}},
        {"an empty run", [](auto& s) { s.updatePatchFileToDevideAtRange(3, 0); }, {}},
        {"the list", [](auto& s) { s.updatePatchListToDevive(s.patchItems()); }, {"writeList 10", "setReloadBufferDataTimer"}},
        {"no list", [](auto& s) { s.updatePatchListToDevive({}); }, {}},
    };
    for (const Case& c : cases) {
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
    screen->didChangePositionFromRowIndexSet(*screen->patchManagerTableView(), {2, 5}, 8);
    EXPECT_EQ(names(), (std::vector<std::string>{"P0", "P1", "P3", "P4", "P6", "P7", "P2", "P5", "P8", "P9"}));
    EXPECT_EQ(screen->patchManagerTableView()->selectedRows(), (std::vector<std::uint64_t>{6, 7}));
    EXPECT_EQ(log, (std::vector<std::string>{"writeGroup 2 3 4 5 6 7", "setReloadBufferDataTimer"}));
    ASSERT_EQ(undo.actionStack().size(), 1u);
    const auto* action = dynamic_cast<const ChangePositionAction*>(undo.actionStack()[0].get());
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->mType, 1);
    EXPECT_EQ(action->changedRange.location, 2u);
    EXPECT_EQ(action->changedRange.length, 6u);
    ASSERT_EQ(action->mOldList.size(), 10u);
    EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(action->mOldList[2])->patchName, "P2");
    EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(action->mNewList[2])->patchName, "P3");

    // To its own place: nothing written, nothing recorded.
    log.clear();
    screen->didChangePositionFromRowIndexSet(*screen->patchManagerTableView(), {4}, 4);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(undo.actionStack().size(), 1u);
}

TEST_F(PatchManagerViewControllerTest, OnlyAFilledRowSelectsItsPatchOnTheDevice)
{
    load(20);
    auto& table = *screen->patchManagerTableView();
    for (const std::uint64_t row : {3u, 19u, 20u, 29u}) screen->didSelectRowAtIndex(table, row);
    EXPECT_EQ(log, (std::vector<std::string>{"selectPatchItem P3 3", "selectPatchItem P19 19"}));
}

TEST_F(PatchManagerViewControllerTest, AHeaderClickKeepsTheSelection)
{
    load(10);
    auto& table = *screen->patchManagerTableView();
    table.setUpCurrentSelectionWithIndexSet({2, 4}, false);
    screen->mouseDownInHeaderOfTableColumn();
    table.selectColumn(1);
    screen->didClickTableColumn();
    EXPECT_EQ(table.selectedRows(), (std::vector<std::uint64_t>{2, 4}));
}

TEST_F(PatchManagerViewControllerTest, ChangesFromTheUnitWaitForOneQuietTimeAndApplyBySlotLabel)
{
    load(10);
    auto& table = *screen->patchManagerTableView();
    table.setUpCurrentSelectionWithIndexSet({1, 3}, false);
    const auto held = screen->patchItems()[2];
    int resets = 0;
    QObject::connect(screen->patchListModel(), &QAbstractItemModel::modelReset, [&] { ++resets; });

    screen->updatePatchItem(patch("Two", "c2"), label(2, 5));
    screen->updatePatchItem(patch("Seven", "c7"), label(7, 5));
    screen->updatePatchItem(patch("Nowhere"), "99-9");
    EXPECT_EQ(std::count(log.begin(), log.end(), "setReloadBufferDataTimer"), 3);
    EXPECT_EQ(screen->bufferedChangeCount(), 3u);
    log.clear();

    screen->setReloadBufferDataTimer();
    EXPECT_TRUE(screen->loadBufferDataTimer().isActive());
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return screen->bufferedChangeCount() == 0; }));
    EXPECT_EQ(resets, 1) << "one reload for all three";
    EXPECT_EQ(screen->patchItems()[2], held) << "the slot keeps its object";
    EXPECT_EQ(held->patchName, "Two");
    EXPECT_EQ(held->patchComment, "c2");
    EXPECT_EQ(screen->patchItems()[7]->patchName, "Seven");
    EXPECT_EQ(log, (std::vector<std::string>{"updateWarning Two", "updateWarning Seven", "reloadEffectListIfNeeded"}));
    EXPECT_EQ(table.selectedRows(), (std::vector<std::uint64_t>{1, 3}));
    for (std::size_t slot : {0u, 1u, 3u, 9u}) EXPECT_EQ(screen->patchItems()[slot]->patchName, "P" + std::to_string(slot));
}

TEST_F(PatchManagerViewControllerTest, AChangeFromTheUnitFollowsThePatchThatWasInItsSlotThroughAReorder)
{
    load(10);
    const auto reported = screen->patchItems()[2];
    const auto moved = screen->patchItems()[5];
    screen->updatePatchItem(patch("Two", "c2"), label(2, 5));
    // Within the quiet time row 5 goes above row 2: slot 2 now holds P5, slot 3 the patch the unit changed.
    screen->didChangePositionFromRowIndexSet(*screen->patchManagerTableView(), {5}, 2);
    ASSERT_EQ(screen->patchItems()[2], moved);
    ASSERT_EQ(screen->patchItems()[3], reported);
    // The reorder's write carried the changed patch to its new slot, not the one the unit had replaced.
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
    EXPECT_EQ(reported->patchName, "Two");

    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(moved->patchName, "P5") << "the change landed on the patch moved into the slot";
    EXPECT_EQ(reported->patchName, "Two");
    EXPECT_EQ(reported->patchComment, "c2");
    EXPECT_EQ(names(), (std::vector<std::string>{"P0", "P1", "P5", "Two", "P3", "P4", "P6", "P7", "P8", "P9"}));

    // A slot written with what the user made of its patch takes what the unit reported before it too: the
    // user's name over the unit's patch, whose comment the user left alone.
    const auto edited = screen->patchItems()[7];
    auto unit = patch("Unit", "u");
    unit->path = "/root/Temp/Device/Patch/0_1_2 (1).qptc";
    UnitPatchChange origin;
    origin.heldName = "P7";
    origin.heldComment = "C7";
    screen->updatePatchItem(unit, label(7, 5), origin);
    edited->patchName = "Mine";
    log.clear();
    screen->updatePatchFileToDevideAtIndex(7);
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
    EXPECT_EQ(edited->patchName, "Mine");
    EXPECT_EQ(edited->patchComment, "u");
    EXPECT_EQ(edited->path, unit->path);
    EXPECT_EQ(log, (std::vector<std::string>{"editFilePatch Mine|u", "updateWarning Mine", "writeItem 7",
                                             "setReloadBufferDataTimer"}));
}

// A change the unit made to a patch the user has since renamed (reported while our write of the rename was
// on its way, or before it within the quiet time) is merged: the user's texts over the unit's patch, which
// goes to the unit again; a change to texts the user left alone is the unit's whole.
TEST_F(PatchManagerViewControllerTest, AChangeFromTheUnitIsMergedUnderTheUsersTexts)
{
    load(10);
    for (std::size_t slot = 0; slot < 10; ++slot)
        screen->patchItems()[slot]->path = "/root/Temp/Device/Patch/0_0_" + std::to_string(slot) + ".qptc";
    const auto renamed = screen->patchItems()[3];
    renamed->patchName = "Typed";
    auto knob = patch("P3", "Knob");
    knob->path = "/root/Temp/Device/Patch/0_0_3 (1).qptc";
    UnitPatchChange origin{renamed->path, true, std::string("P3"), std::string("C3")};
    screen->updatePatchItem(knob, label(3, 5), origin);
    auto plain = patch("Unit5", "U5");
    plain->path = "/root/Temp/Device/Patch/0_1_0 (1).qptc";
    screen->updatePatchItem(plain, label(5, 5), {screen->patchItems()[5]->path, false, std::string("P5"), std::string("C5")});
    log.clear();
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(renamed->patchName, "Typed");
    EXPECT_EQ(renamed->patchComment, "Knob");
    EXPECT_EQ(renamed->path, knob->path);
    EXPECT_EQ(screen->patchItems()[5]->patchName, "Unit5");
    EXPECT_EQ(std::count(log.begin(), log.end(), "editFilePatch Typed|Knob"), 1) << testing::PrintToString(log);
    EXPECT_EQ(std::count(log.begin(), log.end(), "writeItem 3"), 1) << testing::PrintToString(log);
    EXPECT_EQ(std::count(log.begin(), log.end(), "writeItem 5"), 0) << testing::PrintToString(log);

    // The unit's file cannot take the user's texts: the list shows what the unit holds and says so.
    coordinator.editSucceeds = false;
    renamed->patchName = "Again";
    auto dial = patch("Typed", "Dial");
    dial->path = "/root/Temp/Device/Patch/0_0_3 (2).qptc";
    screen->updatePatchItem(dial, label(3, 5), {renamed->path, false, std::string("Typed"), std::string("Knob")});
    log.clear();
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(renamed->patchName, "Typed");
    EXPECT_EQ(renamed->patchComment, "Dial");
    EXPECT_EQ(std::count(log.begin(), log.end(), "info Patch_CanNotEditPatchItem Again"), 1) << testing::PrintToString(log);
}

// A change the unit reported within the quiet time is in the unit already: every step that copies list
// rows into the pool or out of the program takes it first, so the copy is the patch the unit holds.
TEST_F(PatchManagerViewControllerTest, StepsThatCopyListRowsTakeTheUnitsChangesOfTheQuietTimeFirst)
{
    struct Case {
        const char* what;
        std::function<void(PatchManagerViewController&)> step;
    };
    const std::vector<Case> cases{
        {"Backup All", [](auto& s) { s.backUpButtonClick(); }},
        {"a row saved at the top", [](auto& s) { s.addBackUpPatchItemAtIndexs({2}, nullptr, true); }},
        {"rows saved as a new group", [](auto& s) { s.createNewGroupWithPatchIndexs({1, 2}, nullptr, true); }},
        {"a row saved into a group",
         [](auto& s) { s.insertBackUpPatchForPatchItemAtIndexs({2}, s.structureData().front(), 0, true); }},
        {"rows dragged to a folder",
         [](auto& s) {
             PatchManagerViewController::DraggedContent drag;
             drag.rows = {2};
             s.namesOfPromisedFilesDroppedAtDestination(s.makeDragStagingFolder(), drag);
         }},
    };
    appDelegate.setDeviceConnected(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        load(5);
        auto group = std::make_shared<DirectoryObject>();
        group->name = "Group";
        group->isGroup = true;
        screen->setStructureData({group});
        auto changed = patch("Unit", "u");
        changed->path = "/root/Device/Patch/0_0_2 (1).qptc";
        screen->updatePatchItem(changed, label(2, 5));
        log.clear();

        c.step(*screen);
        EXPECT_EQ(screen->bufferedChangeCount(), 0u);
        EXPECT_EQ(screen->patchItems()[2]->patchName, "Unit");
        // The copy is made from the unit's file: in the log, or for a backup as its group's third patch.
        const auto copied = std::find_if(log.begin(), log.end(), [](const std::string& line) {
            return line.find("0_0_2 (1).qptc") != std::string::npos;
        });
        const auto& pool = screen->structureData();
        const bool backedUp = pool.size() == 2 && pool.back()->childDirectories.size() == 5 &&
                              pool.back()->childDirectories[2]->name == "Unit";
        EXPECT_TRUE(copied != log.end() || backedUp) << testing::PrintToString(log);
    }
}

// The coordinator names the patch the unit changed by its file. One changed before our write landed in its
// slot follows that patch wherever the list moved it, and goes to the unit again there, since our write
// replaced it on the unit; one changed after names the patch we wrote, and stays where it is.
TEST_F(PatchManagerViewControllerTest, AChangeFromTheUnitFollowsThePatchItNamesAndGoesBackWhereOurWriteReplacedIt)
{
    load(10);
    for (std::size_t slot = 0; slot < 10; ++slot)
        screen->patchItems()[slot]->path = "/root/Temp/Device/Patch/0_0_" + std::to_string(slot) + ".qptc";
    const auto held = screen->patchItems()[1];
    const auto movedIn = screen->patchItems()[9];
    screen->didChangePositionFromRowIndexSet(*screen->patchManagerTableView(), {9}, 1);
    ASSERT_EQ(screen->patchItems()[1], movedIn);
    ASSERT_EQ(screen->patchItems()[2], held);
    log.clear();

    auto knob = patch("Knob");
    knob->path = "/root/Temp/Device/Patch/0_0_1 (1).qptc";
    screen->updatePatchItem(knob, label(1, 5), {held->path, true, std::nullopt, std::nullopt});
    // A second change in the same quiet time names the file the first one's patch takes.
    auto again = patch("Knob 2");
    again->path = knob->path;
    screen->updatePatchItem(again, label(2, 5), {knob->path, false, std::nullopt, std::nullopt});
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(held->patchName, "Knob 2");
    EXPECT_EQ(movedIn->patchName, "P9");
    EXPECT_EQ(std::count(log.begin(), log.end(), "writeItem 2"), 1) << testing::PrintToString(log);

    // A change of a patch that has left the list, which our write replaces on the unit: nothing to keep.
    screen->updatePatchItem(patch("Gone"), label(3, 5), {"/root/Temp/Device/Patch/elsewhere.qptc", true, std::nullopt, std::nullopt});
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);

    log.clear();
    screen->updatePatchItem(patch("Dial"), label(1, 5), {movedIn->path, false, std::nullopt, std::nullopt});
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(movedIn->patchName, "Dial");
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& line) { return line.rfind("write", 0) == 0; }), 0)
        << testing::PrintToString(log);
}

// An undo of a list rename within the quiet time takes the unit's waiting change under the name it puts
// back, instead of dropping it.
TEST_F(PatchManagerViewControllerTest, AnUndoOfARenameWithinTheQuietTimeKeepsTheUnitsChange)
{
    load(10);
    for (std::size_t slot = 0; slot < 10; ++slot)
        screen->patchItems()[slot]->path = "/root/Temp/Device/Patch/0_0_" + std::to_string(slot) + ".qptc";
    const auto renamed = screen->patchItems()[2];
    renamed->patchName = "Mine";
    undo.addActionStack(std::make_shared<ChangeTextAction>(renamed, "P2", "Mine", 1));
    auto knob = patch("Mine", "Knob");
    knob->path = "/root/Temp/Device/Patch/0_0_2 (1).qptc";
    screen->updatePatchItem(knob, label(2, 5), {renamed->path, false, std::string("Mine"), std::string("C2")});
    log.clear();
    undo.doUndoAction();
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
    EXPECT_EQ(renamed->patchName, "P2");
    EXPECT_EQ(renamed->patchComment, "Knob");
    EXPECT_EQ(renamed->path, knob->path);
    EXPECT_EQ(std::count(log.begin(), log.end(), "writeItem 2"), 1) << testing::PrintToString(log);
}

// The name an undo puts back does not decode (it reads as ""): the unit's waiting change takes it as the
// file stores it, byte for byte, not as the empty text it reads as.
TEST_F(PatchManagerViewControllerTest, TheUnitsChangeTakesAnUndecodableNameAsItsFileStoresIt)
{
    load(10);
    for (std::size_t slot = 0; slot < 10; ++slot)
        screen->patchItems()[slot]->path = "/root/Temp/Device/Patch/0_0_" + std::to_string(slot) + ".qptc";
    const auto renamed = screen->patchItems()[2];
    renamed->patchName = "Mine";
    auto record = std::make_shared<ChangeTextAction>(renamed, "", "Mine", 1);
    const Bytes undecodable{0xFF, 0xFE};
    record->mOldStored.name = undecodable;
    undo.addActionStack(record);
    // What the file stores once the undo has put the name back.
    coordinator.storedTexts[renamed->path] = StoredPatchTexts{undecodable, std::nullopt};
    auto knob = patch("Mine", "Knob");
    knob->path = "/root/Temp/Device/Patch/0_0_2 (1).qptc";
    screen->updatePatchItem(knob, label(2, 5), {renamed->path, false, std::string("Mine"), std::string("C2")});
    log.clear();
    undo.doUndoAction();
    EXPECT_EQ(renamed->patchComment, "Knob");
    EXPECT_EQ(renamed->path, knob->path);
    // The undo's own write-back, then the merge's onto the unit's patch.
    EXPECT_EQ(std::count(log.begin(), log.end(), "restore name 2 comment -"), 2) << testing::PrintToString(log);
    EXPECT_EQ(std::count(log.begin(), log.end(), "writeItem 2"), 1) << testing::PrintToString(log);
}

// The patch the unit changed is not in the list (its row took another patch since, which no write of ours
// is carrying to the unit): the slot's patch is not the one the unit changed, and its texts are nobody's
// edit of the unit's patch. The slot shows the unit's change whole, as the unit holds it.
TEST_F(PatchManagerViewControllerTest, AChangeOfAPatchNoLongerListedIsNotMergedWithTheSlotsOther)
{
    load(10);
    for (std::size_t slot = 0; slot < 10; ++slot)
        screen->patchItems()[slot]->path = "/root/Temp/Device/Patch/0_0_" + std::to_string(slot) + ".qptc";
    auto unit = patch("Unit", "U");
    unit->path = "/root/Temp/Device/Patch/0_0_4 (1).qptc";
    screen->updatePatchItem(unit, label(4, 5),
                            {"/root/Temp/Device/Patch/gone.qptc", false, std::string("Gone"), std::string("G")});
    log.clear();
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(screen->patchItems()[4]->patchName, "Unit");
    EXPECT_EQ(screen->patchItems()[4]->patchComment, "U");
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& line) { return line.rfind("write", 0) == 0; }), 0)
        << testing::PrintToString(log);
}

TEST_F(PatchManagerViewControllerTest, ChangesFromTheUnitWaitWhileANameIsEdited)
{
    load(10);
    screen->view()->resize(900, 700);
    auto& table = *screen->patchManagerTableView();
    table.setUpCurrentSelectionWithIndexSet({0}, false);
    table.editCurrentRow();
    auto* editor = qobject_cast<QLineEdit*>(screen->patchListDelegate()->editor());
    ASSERT_NE(editor, nullptr);
    editor->setText("Typing");
    screen->updatePatchItem(patch("FromUnit"), label(0, 5));
    log.clear();

    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(log, (std::vector<std::string>{"setReloadBufferDataTimer"})) << "another quiet time";
    EXPECT_EQ(screen->bufferedChangeCount(), 1u);
    EXPECT_EQ(editor->text().toStdString(), "Typing");
    EXPECT_EQ(screen->patchItems()[0]->patchName, "P0");

    table.closePersistentEditor(table.model()->index(0, 1));
    table.setFocus();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return screen->patchListDelegate()->editor() == nullptr; }));
    log.clear();
    screen->updateBuffterDataToPatchList();
    EXPECT_EQ(screen->patchItems()[0]->patchName, "FromUnit");
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
}

TEST_F(PatchManagerViewControllerTest, AnEmptySelectionStaysEmptyAfterTheChangesApply)
{
    load(10);
    screen->updatePatchItem(patch("Two"), label(2, 5));
    screen->updateBuffterDataToPatchList();
    EXPECT_TRUE(screen->patchManagerTableView()->selectedRows().empty());
    EXPECT_EQ(screen->patchItems()[2]->patchName, "Two");
}

TEST_F(PatchManagerViewControllerTest, AReloadKeepsTheRowsSelectedThatRemain)
{
    load(40);
    auto& table = *screen->patchManagerTableView();
    table.setUpCurrentSelectionWithIndexSet({3, 35}, false);
    load(32);
    EXPECT_EQ(table.selectedRows(), std::vector<std::uint64_t>{3});
}

TEST_F(PatchManagerViewControllerTest, TheListGainingTheFocusLeavesRestoreAllMode)
{
    screen->view()->show();
    screen->view()->activateWindow();
    testing_app::processEventsUntil([&] { return screen->view()->isActiveWindow(); });
    screen->backUpAllOrRestoreAllButton()->setEnabled(true);
    screen->backUpAllOrRestoreAllButton()->setFocus();
    testing_app::processEventsUntil([&] { return screen->backUpAllOrRestoreAllButton()->hasFocus(); });
    screen->setIsRestoreAllMode(true);
    screen->patchManagerTableView()->setFocus();
    testing_app::processEventsUntil([&] { return !screen->isRestoreAllMode(); });
    EXPECT_FALSE(screen->isRestoreAllMode());
    EXPECT_EQ(screen->backUpAllOrRestoreAllButton()->text().toStdString(), "Back Up All");
}

TEST_F(PatchManagerViewControllerTest, WarningMarksAreRecomputedOnlyWhileConnected)
{
    load(5);
    screen->reloadData();
    EXPECT_EQ(log, std::vector<std::string>{});
    appDelegate.setDeviceConnected(true);
    screen->reloadData();
    // The pool's pass never runs in the caller's turn: it reads every file, off the main thread.
    EXPECT_EQ(log, std::vector<std::string>{"updatePatchWarningInPatchList"});
    testing_app::processEventsUntil([&] { return log.size() == 2; });
    EXPECT_EQ(log, (std::vector<std::string>{"updatePatchWarningInPatchList", "updatePatchWarningInPatchPool"}));
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
    auto& table = *screen->patchManagerTableView();
    table.setUpCurrentSelectionWithIndexSet({40, 41}, false);
    for (int showing = 0; showing < 2; ++showing) {
        table.verticalScrollBar()->setValue(table.verticalScrollBar()->maximum());
        ASSERT_GT(table.verticalScrollBar()->value(), 0);
        screen->viewDidAppear();
        // Only the first showing in the process waits for the event loop.
        if (showing == 0) testing_app::processEventsUntil([&] { return table.verticalScrollBar()->value() == 0; });
        EXPECT_EQ(table.verticalScrollBar()->value(), 0) << showing;
        EXPECT_TRUE(table.selectionList().empty());
        EXPECT_EQ(table.previousSelectedRow(), 0u);
    }
    EXPECT_EQ(table.selectedRows(), (std::vector<std::uint64_t>{40, 41})) << "the selection itself stays";
}

TEST_F(PatchManagerViewControllerTest, TheUndoObserversGoWithTheScreen)
{
    screen.reset();
    // Posting to a screen that has gone would crash.
    auto action = std::make_shared<ChangePositionAction>();
    undo.addActionStack(action);
    undo.doUndoAction();
    SUCCEED();
}

}  // namespace
