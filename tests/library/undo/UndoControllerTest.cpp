#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"
#include "library/undo/UndoController.h"

namespace {

// A record of a kind the stack does not know.
class OtherAction final : public UndoAction {};

struct Heard {
    std::string name;
    std::shared_ptr<UndoAction> action;
};

class Undo : public ::testing::Test {
protected:
    Undo()
    {
        token = center.addObserver("", nullptr, [this](const platform::Notification& n) {
            auto* action = static_cast<const UndoAction*>(n.sender);
            heard.push_back({n.name, std::const_pointer_cast<UndoAction>(action->shared_from_this())});
        });
    }
    platform::NotificationCenter center;
    platform::NotificationCenter::Token token;
    int binsEmptied = 0;
    UndoController stack{center, [this] { ++binsEmptied; }};
    std::vector<Heard> heard;
};

}  // namespace

TEST_F(Undo, KeepsTheFiveNewestAndUndoesNewestFirst)
{
    std::vector<std::shared_ptr<UndoAction>> pushed;
    for (int i = 0; i < 6; ++i) {
        auto action = std::make_shared<ChangeTextAction>();
        action->mNewText = std::to_string(i);
        pushed.push_back(action);
        stack.addActionStack(action);
    }
    EXPECT_EQ(stack.actionStack().size(), 5U);
    while (stack.canBeUndo()) stack.doUndoAction();
    ASSERT_EQ(heard.size(), 5U);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(heard[i].name, UndoController::kUndoChangeText);
        EXPECT_EQ(heard[i].action, pushed[5 - i]);
    }
    stack.doUndoAction();
    EXPECT_EQ(heard.size(), 5U);
}

// A record taken back leaves the others in their order, wherever it stood; one no longer there is no harm.
TEST_F(Undo, AWithdrawnRecordLeavesTheOthersInOrder)
{
    std::vector<std::shared_ptr<UndoAction>> pushed;
    for (int i = 0; i < 3; ++i) {
        pushed.push_back(std::make_shared<ChangeTextAction>());
        stack.addActionStack(pushed.back());
    }
    stack.withdrawAction(pushed[1]);
    stack.withdrawAction(pushed[1]);
    EXPECT_EQ(stack.actionStack(), (std::vector<std::shared_ptr<UndoAction>>{pushed[2], pushed[0]}));
}

TEST_F(Undo, EachKindPostsItsOwnNotification)
{
    auto group = std::make_shared<DirectoryObject>();
    auto several = std::make_shared<DeleteAction>(group, nullptr, 3, 2);
    several->deletedActions.push_back(std::make_shared<DeleteAction>(group, nullptr, 0, 0));
    const std::vector<std::pair<std::shared_ptr<UndoAction>, std::string>> kinds{
        {std::make_shared<ChangePositionAction>(), UndoController::kUndoChangePosition},
        {std::make_shared<DragFromPoolToListAction>(std::vector<UndoAction::Object>{group}, 4),
         UndoController::kUndoDragFromPoolToList},
        {std::make_shared<AddToPatchPoolAction>(std::vector<UndoAction::Object>{group}, group, 1),
         UndoController::kUndoAddToPatchPool},
        {std::make_shared<SelectionAction>(std::vector<std::int64_t>{}), UndoController::kSelectionInPatchList},
        {several, UndoController::kDeleteInPatchPool},
        {std::make_shared<OtherAction>(), ""},
    };
    for (const auto& [action, name] : kinds) {
        heard.clear();
        stack.addActionStack(action);
        stack.doUndoAction();
        EXPECT_EQ(heard.size(), name.empty() ? 0U : 1U) << name;
        if (!heard.empty()) {
            EXPECT_EQ(heard[0].name, name);
        }
    }
    EXPECT_FALSE(stack.canBeUndo());
}

TEST_F(Undo, ClearingEmptiesTheStackAndTheRecycleBinEvenWhenEmpty)
{
    stack.clearUndoStack();
    EXPECT_EQ(binsEmptied, 1);
    stack.addActionStack(std::make_shared<ChangeTextAction>());
    stack.clearUndoStack();
    EXPECT_FALSE(stack.canBeUndo());
    EXPECT_EQ(binsEmptied, 2);
}

TEST_F(Undo, PositionListsAreCopiedButTheirElementsShared)
{
    auto node = std::make_shared<DirectoryObject>();
    std::vector<UndoAction::Object> list{node};
    ChangePositionAction action;
    action.setUpOldList(list);
    list.clear();
    node->name = "moved";
    ASSERT_EQ(action.mOldList.size(), 1U);
    EXPECT_EQ(std::get<std::shared_ptr<DirectoryObject>>(action.mOldList[0])->name, "moved");
}
