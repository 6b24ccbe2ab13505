#pragma once

#include <cstdint>

// What the device list's option menu tells its owner, the list.
class OptionMenuForPatchViewControllerDelegate {
public:
    virtual ~OptionMenuForPatchViewControllerDelegate() = default;

    virtual void optionMenuDidClickOnSavingInPatchPoolButtonAtIndex(std::uint64_t row) = 0;
    virtual void optionMenuDidClickOnReadingFromPatchPoolButtonAtIndex(std::uint64_t row) = 0;
    virtual void optionMenuDidClickOnPropertyButtonAtIndex(std::uint64_t row) = 0;
    virtual void optionMenuDidClickOnUndoButtonAtIndex(std::uint64_t row) = 0;
    virtual bool optionMenuCanReadFromPatchPool() = 0;
    virtual bool optionMenuCanSaveToPatchPool() = 0;
};
