#include "library/undo/UndoController.h"

#include <algorithm>

#include <typeinfo>

#include "library/CommonUtils.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"

namespace {

// The notification of a record's exact kind; nothing for any other class.
const char* notificationName(const UndoAction& action)
{
    const std::type_info& kind = typeid(action);
    if (kind == typeid(ChangeTextAction)) return UndoController::kUndoChangeText;
    if (kind == typeid(ChangePositionAction)) return UndoController::kUndoChangePosition;
    if (kind == typeid(DragFromPoolToListAction)) return UndoController::kUndoDragFromPoolToList;
    if (kind == typeid(AddToPatchPoolAction)) return UndoController::kUndoAddToPatchPool;
    if (kind == typeid(SelectionAction)) return UndoController::kSelectionInPatchList;
    if (kind == typeid(DeleteAction)) return UndoController::kDeleteInPatchPool;
    return nullptr;
}

}  // namespace

UndoController::UndoController(platform::NotificationCenter& center, std::function<void()> deleteRecycleBin)
    : m_center(center), m_deleteRecycleBin(std::move(deleteRecycleBin))
{
}

UndoController& UndoController::getInstance()
{
    static UndoController instance(platform::NotificationCenter::defaultCenter(),
                                   [] { CommonUtils::getInstance().deleteRecycleBin(); });
    return instance;
}

void UndoController::addActionStack(std::shared_ptr<UndoAction> action)
{
    if (!action) return;
    m_actionStack.insert(m_actionStack.begin(), std::move(action));
    if (m_actionStack.size() > kMaxActions) m_actionStack.resize(kMaxActions);
}

void UndoController::withdrawAction(const std::shared_ptr<UndoAction>& action)
{
    m_actionStack.erase(std::remove(m_actionStack.begin(), m_actionStack.end(), action), m_actionStack.end());
}

void UndoController::doUndoAction()
{
    if (m_actionStack.empty()) return;
    // Held here so the record outlives the observers' synchronous calls.
    const std::shared_ptr<UndoAction> action = m_actionStack.front();
    m_actionStack.erase(m_actionStack.begin());
    if (const char* name = notificationName(*action)) m_center.post(name, action.get());
}

void UndoController::clearUndoStack()
{
    m_actionStack.clear();
    m_selectionActionStack.clear();
    if (m_deleteRecycleBin) m_deleteRecycleBin();
}
