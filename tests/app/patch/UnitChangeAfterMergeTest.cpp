// The unit's own changes against the list's later steps: a merge that moved its patch to another file, a
// drop or Restore All that replaced the patch and is undone, an undo under an open editor, and the undo
// of a sheet's Save.
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchPropertyViewController.h"
#include "library/undo/ChangeTextAction.h"
#include "PatchCases.h"
#include "support/app/PatchScreenRig.h"

namespace {

using Texts = std::pair<std::string, std::string>;  // a patch's name and comment

using namespace testing_app;

const std::string kDevice = "/root/Temp/Device/Patch/";

class UnitChangeAfterMerge : public testing_app::PatchScreenRig {
protected:
    // `count` slots whose patches name the working copies the dump made.
    void loadWithFiles(std::size_t count)
    {
        load(count);
        for (std::size_t slot = 0; slot < count; ++slot)
            screen->patchItems()[slot]->path = kDevice + "0_0_" + std::to_string(slot) + ".qptc";
    }
    static std::shared_ptr<PatchItem> unitPatch(const std::string& name, const std::string& comment, const std::string& file)
    {
        return patchItem(name, comment, kDevice + file);
    }
    std::size_t count(const std::string& line) const { return static_cast<std::size_t>(std::count(log.begin(), log.end(), line)); }
    bool wroteNothing() const
    {
        return std::none_of(log.begin(), log.end(), [](const std::string& line) {
            return line.rfind("editFilePatch", 0) == 0 || line.rfind("write", 0) == 0;
        });
    }
    void showWindow()
    {
        screen->view()->resize(900, 700);
        activate(*screen->view());
    }
    // Opens row 2's cell in `column` (1 the name, 2 the comment) for editing; the editor or none.
    QWidget* openEditor(int column)
    {
        auto& table = *screen->patchManagerTableView();
        table.setCurrentIndex(table.model()->index(2, column));
        table.edit(table.model()->index(2, column));
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
        loadWithFiles(10);
        const auto listed = screen->patchItems()[3];
        const std::string dumped = listed->path;
        if (!c.typed.empty()) listed->patchName = c.typed;
        // What our earlier write, on its way meanwhile, puts on the unit.
        const std::string written = c.typed.empty() ? "P3" : c.typed;

        screen->updatePatchItem(unitPatch(c.first.empty() ? "P3" : c.first, "Knob", "0_0_3 (1).qptc"), label(3, 5),
                                {dumped, true, std::string("P3"), std::string("C3")});
        if (!c.buffered) {
            screen->updateBuffterDataToPatchList();
            ASSERT_EQ(listed->path, kDevice + "0_0_3 (1).qptc");
            ASSERT_EQ(count("writeItem 3"), 1u) << testing::PrintToString(log);
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
        EXPECT_EQ(listed->path, kDevice + "0_0_3 (2).qptc");
        EXPECT_EQ(count("writeItem 3"), 1u) << testing::PrintToString(log);
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
        {"a drop", [](auto& s) { s.replaceItemByDragging({patchItem("Dropped", "D", kDevice + "dropped.qptc")}, 3); }, "writeGroup 3"},
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
        loadWithFiles(10);
        const auto replaced = screen->patchItems()[3];
        const std::string held = replaced->path;
        c.replace(*screen);
        ASSERT_NE(screen->patchItems()[3], replaced);

        screen->updatePatchItem(unitPatch("P3", "Knob", "0_0_3 (1).qptc"), label(3, 5),
                                {held, true, std::string("P3"), std::string("C3")});
        EXPECT_EQ(screen->bufferedChangeCount(), 1u) << "the change of the replaced patch was dropped";
        // A patch no record keeps has nowhere to come back from.
        screen->updatePatchItem(unitPatch("Gone", "G", "0_0_4 (1).qptc"), label(4, 5),
                                {kDevice + "elsewhere.qptc", true, std::nullopt, std::nullopt});
        EXPECT_EQ(screen->bufferedChangeCount(), 1u);

        log.clear();
        undo.doUndoAction();
        ASSERT_EQ(screen->patchItems()[3], replaced);
        EXPECT_EQ(Texts(replaced->patchName, replaced->patchComment), Texts("P3", "Knob"));
        EXPECT_EQ(replaced->path, kDevice + "0_0_3 (1).qptc");
        EXPECT_EQ(count(c.write), 1u) << testing::PrintToString(log);
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
    auto& table = *screen->patchManagerTableView();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        undo.clearUndoStack();
        loadWithFiles(10);
        const auto edited = screen->patchItems()[2];
        const bool name = c.record == 1;
        std::string& text = name ? edited->patchName : edited->patchComment;
        const std::string old = std::exchange(text, name ? "Mine" : "Warm");
        undo.addActionStack(std::make_shared<ChangeTextAction>(edited, old, text, c.record));
        screen->updatePatchItem(unitPatch(name ? "Mine" : "Unit", name ? "Knob" : "Warm", "0_0_2 (1).qptc"), label(2, 5),
                                {edited->path, false, edited->patchName, edited->patchComment});
        table.setUpCurrentSelectionWithIndexSet({2}, false);
        ASSERT_NE(openEditor(c.column), nullptr);

        log.clear();
        undo.doUndoAction();
        ASSERT_EQ(Texts(edited->patchName, edited->patchComment), Texts(c.name, c.comment));
        QWidget* editor = screen->patchListDelegate()->editor();
        ASSERT_NE(editor, nullptr) << "the edit did not go on through the undo";
        editor->setFocus();
        testing_app::processEventsUntil([&] { return editor->hasFocus(); });
        log.clear();
        if (c.escape) {
            key(editor, Qt::Key_Escape);
        } else {
            table.setFocus();
        }
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return screen->patchListDelegate()->editor() == nullptr; }));
        EXPECT_EQ(Texts(edited->patchName, edited->patchComment), Texts(c.name, c.comment));
        EXPECT_TRUE(wroteNothing()) << testing::PrintToString(log);
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
        loadWithFiles(10);
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
        EXPECT_EQ(count(c.restored), 1u) << testing::PrintToString(log);
        EXPECT_EQ(count("writeItem 4"), 1u) << testing::PrintToString(log);
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
        loadWithFiles(10);
        appDelegate.setDeviceConnected(true);
        // The list has the keys: the button backs up again, not restores the new backup.
        screen->tableViewDidBecomeFirstResponder(*screen->patchManagerTableView());
        const auto edited = screen->patchItems()[2];
        QWidget* editor = openEditor(column);
        ASSERT_NE(editor, nullptr);
        editor->setFocus();
        testing_app::processEventsUntil([&] { return editor->hasFocus(); });
        screen->updatePatchItem(unitPatch("Unit", "Set", "0_0_2 (1).qptc"), label(2, 5),
                                {edited->path, false, std::string("P2"), std::string("C2")});
        log.clear();
        screen->backUpButtonClick();
        if (QWidget* open = screen->patchListDelegate()->editor()) key(open, Qt::Key_Escape);
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return screen->patchListDelegate()->editor() == nullptr; }));
        EXPECT_EQ(Texts(edited->patchName, edited->patchComment), Texts("Unit", "Set"));
        EXPECT_TRUE(wroteNothing()) << testing::PrintToString(log);
    }
}

}  // namespace
