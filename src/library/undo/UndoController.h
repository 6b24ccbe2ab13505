#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "library/undo/UndoAction.h"
#include "platform/notifications/NotificationCenter.h"

// The undo stack of the patch screen: the last five edits, newest first. Undoing pops the newest and
// posts the notification of its kind, with the record as sender; the patch screen undoes it. Used on
// the main thread only.
class UndoController {
public:
    static constexpr std::size_t kMaxActions = 5;
    static constexpr const char* kUndoChangeText = "NotificationNameForUndoChangeText";
    static constexpr const char* kUndoChangePosition = "NotificationNameForUndoChangePosition";
    static constexpr const char* kUndoDragFromPoolToList = "NotificationNameForUndoDragFromPoolToList";
    static constexpr const char* kUndoAddToPatchPool = "NotificationNameForUndoAddToPatchPool";
    static constexpr const char* kSelectionInPatchList = "NotificationNameForSelectionInPatchList";
    static constexpr const char* kDeleteInPatchPool = "NotificationNameForDeleteInPatchPool";

    // `deleteRecycleBin` empties the pool's recycle bin when the stack is cleared.
    UndoController(platform::NotificationCenter& center, std::function<void()> deleteRecycleBin);

    // The program's stack, on the default centre and the coordinator's recycle bin.
    static UndoController& getInstance();

    void addActionStack(std::shared_ptr<UndoAction> action);
    // Takes back a record whose change came to nothing after all, wherever it stands on the stack.
    void withdrawAction(const std::shared_ptr<UndoAction>& action);
    bool canBeUndo() const { return !m_actionStack.empty(); }
    void doUndoAction();
    void clearUndoStack();

    const std::vector<std::shared_ptr<UndoAction>>& actionStack() const { return m_actionStack; }

private:
    platform::NotificationCenter& m_center;
    std::function<void()> m_deleteRecycleBin;
    std::vector<std::shared_ptr<UndoAction>> m_actionStack;
    std::vector<std::shared_ptr<UndoAction>> m_selectionActionStack;
};
