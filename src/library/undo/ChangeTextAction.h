#pragma once

#include <cstdint>
#include <string>

#include "library/undo/UndoAction.h"

// A name or comment edit.
class ChangeTextAction final : public UndoAction {
public:
    std::string mOldText;
    std::string mNewText;
    std::string mOldSecondText;
    std::string mNewSecondText;
    Object mItem;
    Object mGroupOfItem;
    std::int64_t mType = 0;
};
