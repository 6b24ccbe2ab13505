#include <gtest/gtest.h>

#include <QLineEdit>

#include <memory>
#include <string>
#include <vector>

#include "app/patch/PatchCommentCellView.h"
#include "app/patch/PatchNameCellView.h"
#include "library/undo/ChangeTextAction.h"
#include "support/app/PatchScreenRig.h"

namespace {

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
        return at < undo.actionStack().size() ? dynamic_cast<const ChangeTextAction*>(undo.actionStack()[at].get())
                                              : nullptr;
    }
};

TEST_F(PatchCellsTest, ANameCommitsOnlyWhenTheRulesAndTheFileTakeIt)
{
    struct Case {
        const char* typed;
        bool fileWritten;
        const char* field;
        const char* name;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"Clean", true, "Clean", "Clean", {}},
        // The rule shows its own message, once, and each refusal has its own.
        {"", true, "Clean", "Clean", {"rule Patch_InvalidPatchName"}},
        {"Cl/ean", true, "Clean", "Clean", {"rule Patch_InvalidPatchName"}},
        {"Caf\xC3\xA9", true, "Clean", "Clean", {"rule Patch_NonAsciiPatchName"}},
        {"CleanCleanX", true, "Clean", "Clean", {"rule Patch_LongPatchName"}},
        {"Lead", false, "Clean", "Clean", {"editFilePatch Lead|c", "info Patch_CanNotEditPatchItem Clean"}},
        // The slot written is the cell's, whatever the patch's place elsewhere.
        {"Lead", true, "Lead", "Lead", {"editFilePatch Lead|c", "writeItem 7", "setReloadBufferDataTimer"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        log.clear();
        undo.clearUndoStack();
        coordinator.editSucceeds = c.fileWritten;
        const auto item = patch("Clean", "c");
        auto cell = cellFor<PatchNameCellView>(item, 7);
        std::string field = c.typed;
        EXPECT_TRUE(cell.textShouldEndEditing(field));
        EXPECT_EQ(field, c.field);
        EXPECT_EQ(item->patchName, c.name);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(cell.originalText(), c.name) << "the field starts from the committed name next time";
        const bool recorded = std::string(c.name) != "Clean";
        ASSERT_EQ(undo.actionStack().size(), recorded ? 1u : 0u);
        if (recorded) {
            EXPECT_EQ(record(0)->mType, 1);
            EXPECT_EQ(record(0)->mOldText, "Clean");
            EXPECT_EQ(record(0)->mNewText, "Lead");
            EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(record(0)->mItem), item);
        }
    }
}

TEST_F(PatchCellsTest, TwoEditsOfANameLeaveTwoRecords)
{
    const auto item = patch("One");
    auto cell = cellFor<PatchNameCellView>(item, 0);
    std::string first = "Two", second = "Three";
    cell.textShouldEndEditing(first);
    cell.textShouldEndEditing(second);
    ASSERT_EQ(undo.actionStack().size(), 2u);
    EXPECT_EQ(record(0)->mOldText, "Two");
    EXPECT_EQ(record(0)->mNewText, "Three");
    EXPECT_EQ(record(1)->mOldText, "One");
    EXPECT_EQ(record(1)->mNewText, "Two");
}

TEST_F(PatchCellsTest, ACommentCommitsAnyTextAndPutsTheOldOneBackWhenTheFileRefuses)
{
    struct Case {
        std::string typed;
        bool fileWritten;
        const char* comment;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"old", true, "old", {}},
        {"", true, "", {"editFilePatch Name|", "writeItem 3", "setReloadBufferDataTimer"}},
        {"two\nlines", true, "two\nlines", {"editFilePatch Name|two\nlines", "writeItem 3", "setReloadBufferDataTimer"}},
        {"new", false, "old", {"editFilePatch Name|new", "info Patch_CanNotEditPatchItem Name"}},
        // The limit holds when the edit ends too, whatever way the text came in.
        {"\xE6\xBC\xA2", true, "old", {"rule Patch_NonAsciiPatchComment"}},
        {std::string("a\0b", 3), true, "old", {"rule Patch_NulInPatchComment"}},
        {std::string(201, 'a'), true, "old", {"rule Patch_LongPatchComment"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        log.clear();
        undo.clearUndoStack();
        coordinator.editSucceeds = c.fileWritten;
        const auto item = patch("Name", "old");
        auto cell = cellFor<PatchCommentCellView>(item, 3);
        std::string field = c.typed;
        EXPECT_TRUE(cell.textShouldEndEditing(field));
        EXPECT_EQ(item->patchComment, c.comment);
        EXPECT_EQ(field, c.comment);
        EXPECT_EQ(log, c.log);
        const bool recorded = c.comment == c.typed && c.typed != "old";
        ASSERT_EQ(undo.actionStack().size(), recorded ? 1u : 0u);
        if (recorded) {
            EXPECT_EQ(record(0)->mType, 2);
            EXPECT_EQ(record(0)->mOldText, "old");
            EXPECT_EQ(record(0)->mNewText, c.typed);
        }
    }
}

TEST_F(PatchCellsTest, AfterTheWriteTheCellAndTheRecordShowWhatTheFileHolds)
{
    // The file's encoding stores a wave dash as a full-width tilde.
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
    EXPECT_EQ(record(0)->mOldText, "old");
    EXPECT_EQ(record(0)->mNewText, "\xEF\xBD\x9E");
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
    const auto item = patch("Name", "old");
    auto cell = cellFor<PatchCommentCellView>(item, 3);
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
