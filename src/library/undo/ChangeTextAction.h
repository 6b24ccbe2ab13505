#pragma once

#include <cstdint>
#include <string>

#include "library/models/StoredPatchTexts.h"
#include "library/undo/UndoAction.h"

// A name or comment edit.
class ChangeTextAction final : public UndoAction {
public:
    ChangeTextAction() = default;
    // The second texts and the group are set afterwards by the edits that have them.
    ChangeTextAction(Object item, std::string oldText, std::string newText, std::int64_t type)
        : mOldText(std::move(oldText)), mNewText(std::move(newText)), mItem(std::move(item)), mType(type)
    {
    }

    std::string mOldText;
    std::string mNewText;
    std::string mOldSecondText;
    std::string mNewSecondText;
    Object mItem;
    Object mGroupOfItem;
    std::int64_t mType = 0;
    // The patch's old texts as its file stored them, where the edit read them: the undo writes these
    // back, so a name or comment that did not decode comes back whole instead of empty.
    StoredPatchTexts mOldStored;
};
