#include <QLineEdit>

#include "app/patch/PatchCommentCellView.h"
#include "app/patch/PatchNameCellView.h"
#include "library/undo/ChangeTextAction.h"
#include "support/app/PatchScreenRig.h"

namespace {

using Texts = std::pair<std::string, std::string>;  // a record's old and new text

class PatchCellsTest : public testing_app::PatchScreenRig {
protected:
    PatchCellContext context() { return {coordinator, dialogs, undo, appDelegate, textRules, nullptr}; }
    template <typename Cell>
    Cell cellFor(const std::shared_ptr<PatchItem>& item, std::uint64_t index)
    {
        Cell cell(context());
        cell.clearCell();
        cell.setPatchItem(item);
        cell.setIndex(index);
        return cell;
    }
    const ChangeTextAction* record(std::size_t at) const
    {
        return at < undo.actionStack().size() ? dynamic_cast<const ChangeTextAction*>(undo.actionStack()[at].get()) : nullptr;
    }
};

// A name commits only when its rule (which shows its own message, once) and the file take it; a comment
// takes any text within its limits, which hold when the edit ends too, whatever way the text came in.
// The slot written is the cell's, whatever the patch's place elsewhere.
TEST_F(PatchCellsTest, AnEditCommitsOnlyWhenTheRulesAndTheFileTakeIt)
{
    const struct {
        bool comment;
        std::string typed;
        bool fileWritten;
        std::string kept;  // in the field and the patch
        std::vector<std::string> log;
    } cases[] = {
        {false, "Clean", true, "Clean", {}},
        {false, "", true, "Clean", {"rule Patch_InvalidPatchName"}},
        {false, "Cl/ean", true, "Clean", {"rule Patch_InvalidPatchName"}},
        {false, "Caf\xC3\xA9", true, "Clean", {"rule Patch_NonAsciiPatchName"}},
        {false, "CleanCleanX", true, "Clean", {"rule Patch_LongPatchName"}},
        {false, "Lead", false, "Clean", {"editFilePatch Lead|old", "info Patch_CanNotEditPatchItem Clean"}},
        {false, "Lead", true, "Lead", {"editFilePatch Lead|old", "writeItem 7", "setReloadBufferDataTimer"}},
        {true, "old", true, "old", {}},
        {true, "", true, "", {"editFilePatch Clean|", "writeItem 7", "setReloadBufferDataTimer"}},
        {true, "two\nlines", true, "two\nlines", {"editFilePatch Clean|two\nlines", "writeItem 7", "setReloadBufferDataTimer"}},
        {true, "new", false, "old", {"editFilePatch Clean|new", "info Patch_CanNotEditPatchItem Clean"}},
        {true, "\xE6\xBC\xA2", true, "old", {"rule Patch_NonAsciiPatchComment"}},
        {true, std::string("a\0b", 3), true, "old", {"rule Patch_NulInPatchComment"}},
        {true, std::string(201, 'a'), true, "old", {"rule Patch_LongPatchComment"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        log.clear();
        undo.clearUndoStack();
        coordinator.editSucceeds = c.fileWritten;
        const auto item = patch("Clean", "old");
        const auto end = [&](auto cell) {
            std::string field = c.typed;
            EXPECT_TRUE(cell.textShouldEndEditing(field));
            EXPECT_EQ(field, c.kept);
            EXPECT_EQ(cell.originalText(), c.kept) << "the field starts from the committed text next time";
        };
        c.comment ? end(cellFor<PatchCommentCellView>(item, 7)) : end(cellFor<PatchNameCellView>(item, 7));
        EXPECT_EQ(c.comment ? item->patchComment : item->patchName, c.kept);
        EXPECT_EQ(log, c.log);
        const std::string original = c.comment ? "old" : "Clean";
        ASSERT_EQ(undo.actionStack().size(), c.kept != original ? 1u : 0u);
        if (c.kept == original) continue;
        EXPECT_EQ(std::tuple(record(0)->mType, record(0)->mOldText, record(0)->mNewText),
                  std::tuple(c.comment ? 2 : 1, original, c.typed));
        EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(record(0)->mItem), item);
    }
}

TEST_F(PatchCellsTest, TwoEditsOfANameLeaveTwoRecords)
{
    auto cell = cellFor<PatchNameCellView>(patch("One"), 0);
    std::string first = "Two", second = "Three";
    cell.textShouldEndEditing(first);
    cell.textShouldEndEditing(second);
    ASSERT_EQ(undo.actionStack().size(), 2u);
    EXPECT_EQ(std::pair(record(0)->mOldText, record(0)->mNewText), Texts("Two", "Three"));
    EXPECT_EQ(std::pair(record(1)->mOldText, record(1)->mNewText), Texts("One", "Two"));
}

// The file's encoding stores a wave dash as a full-width tilde.
TEST_F(PatchCellsTest, AfterTheWriteTheCellAndTheRecordShowWhatTheFileHolds)
{
    coordinator.storedComment = "\xEF\xBD\x9E";
    textRules.language = "ja";
    const auto item = patch("Name", "old");
    auto cell = cellFor<PatchCommentCellView>(item, 3);
    std::string field = "\xE3\x80\x9C";
    EXPECT_TRUE(cell.textShouldEndEditing(field));
    EXPECT_EQ(field, "\xEF\xBD\x9E");
    EXPECT_EQ(item->patchComment, "\xEF\xBD\x9E");
    EXPECT_EQ(cell.originalText(), "\xEF\xBD\x9E");
    ASSERT_EQ(undo.actionStack().size(), 1u);
    EXPECT_EQ(std::pair(record(0)->mOldText, record(0)->mNewText), Texts("old", "\xEF\xBD\x9E"));
}

TEST_F(PatchCellsTest, AFailedCommentEndsItsEditWithTheColoursCleared)
{
    appDelegate.setDeviceConnected(true);
    QLineEdit field;
    QPalette black = field.palette();
    black.setColor(QPalette::Text, Qt::black);
    field.setPalette(black);
    appDelegate.setEditingTextField(&field);
    coordinator.editSucceeds = false;
    auto cell = cellFor<PatchCommentCellView>(patch("Name", "old"), 3);
    std::string text = "new";
    cell.textShouldEndEditing(text);
    EXPECT_EQ(field.palette().color(QPalette::Text), QColor(Qt::white));
    EXPECT_EQ(cell.originalText(), "old");
}

TEST_F(PatchCellsTest, ACellWithoutAPatchCommitsNothing)
{
    PatchNameCellView name(context());
    PatchCommentCellView comment(context());
    std::string a = "x", b = "y";
    EXPECT_TRUE(name.textShouldEndEditing(a));
    EXPECT_TRUE(comment.textShouldEndEditing(b));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(undo.actionStack().empty());
}

}  // namespace
