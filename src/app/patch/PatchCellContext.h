#pragma once

#include <functional>

class AppDelegate;
class PatchItem;
class PatchCoordinator;
class PatchDialogs;
class UndoController;
struct TextRuleContext;

// What a name or comment cell needs to commit an edit: the patch file and the device write, the
// messages, the undo stack, the global editing state and the reload timer, the text rules, and the
// unit's changes waiting for a quiet time.
struct PatchCellContext {
    PatchCoordinator& coordinator;
    PatchDialogs& dialogs;
    UndoController& undoController;
    AppDelegate& appDelegate;
    const TextRuleContext& textRules;
    // Takes the changes the unit reported of the patch, not yet shown, into it before the user's text goes
    // over them: the commit's write then carries both.
    std::function<void(PatchItem&)> takeUnitChanges;
};
