#include <gtest/gtest.h>

#include <QItemSelectionModel>

#include "app/patch/CustomTableViewForPatch.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"
#include "support/app/PatchScreenRig.h"

namespace {

using PatchScreenUndo = testing_app::PatchScreenRig;

TEST_F(PatchScreenUndo, TheStackReachesTheScreensHandlers)
{
    load(6);
    const auto former = patch("Former");
    undo.addActionStack(std::make_shared<DragFromPoolToListAction>(std::vector<UndoAction::Object>{former}, 2));
    undo.doUndoAction();
    EXPECT_EQ(names(), (std::vector<std::string>{"P0", "P1", "Former", "P3", "P4", "P5"}));
    EXPECT_NE(std::find(log.begin(), log.end(), "writeGroup 2"), log.end());
    EXPECT_FALSE(undo.canBeUndo());
}

TEST_F(PatchScreenUndo, ASelectionRecordSelectsItsRowsAgain)
{
    load(6);
    undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{4, 1}));
    undo.doUndoAction();
    QItemSelectionModel* selection = screen->patchManagerTableView()->selectionModel();
    EXPECT_EQ(selection->selectedRows().size(), 2);
    EXPECT_TRUE(selection->isRowSelected(1));
    EXPECT_TRUE(selection->isRowSelected(4));
    EXPECT_NE(std::find(log.begin(), log.end(), "selectPatchItem P1 1"), log.end());
}

}  // namespace
