#pragma once

#include <cstdint>

// What the device list's option menu tells its owner, the list. A method the owner leaves alone is not
// implemented: the button does nothing, and an unanswered question counts as "no".
class OptionMenuForPatchViewControllerDelegate {
public:
    virtual ~OptionMenuForPatchViewControllerDelegate() = default;

    virtual void optionMenuDidClickOnSavingInPatchPoolButtonAtIndex(std::uint64_t /*row*/) {}
    virtual void optionMenuDidClickOnReadingFromPatchPoolButtonAtIndex(std::uint64_t /*row*/) {}
    virtual void optionMenuDidClickOnPropertyButtonAtIndex(std::uint64_t /*row*/) {}
    virtual void optionMenuDidClickOnUndoButtonAtIndex(std::uint64_t /*row*/) {}
    virtual bool optionMenuCanReadFromPatchPool() { return false; }
    virtual bool optionMenuCanSaveToPatchPool() { return false; }
};
