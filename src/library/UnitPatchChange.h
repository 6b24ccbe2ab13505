#pragma once

#include <optional>
#include <string>

// Where a patch the unit changed by itself came from, as the coordinator knows it from the order of the
// unit's replies: the list binds the change to that patch, wherever it has moved since.
struct UnitPatchChange {
    // The file of the patch the unit held in the slot when it changed it; empty when not known.
    std::string heldPath;
    // A write of ours to the slot had not landed: it replaces the change on the unit, which keeps the
    // change only when the patch is written again.
    bool overwritten = false;
    // The name and comment of the patch the unit changed, as the unit held them; none when not known. A
    // text the list's patch holds otherwise is the user's since, and goes over the unit's change.
    std::optional<std::string> heldName;
    std::optional<std::string> heldComment;
};
