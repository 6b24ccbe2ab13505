#pragma once

class AppDelegate;
class PatchCoordinator;
class PatchDialogs;
class UndoController;
struct TextRuleContext;

// What a name or comment cell needs to commit an edit: the patch file and the device write, the
// messages, the undo stack, the global editing state and the reload timer, and the text rules.
struct PatchCellContext {
    PatchCoordinator& coordinator;
    PatchDialogs& dialogs;
    UndoController& undoController;
    AppDelegate& appDelegate;
    const TextRuleContext& textRules;
};
