#pragma once

#include <string>

// Where a patch the unit changed by itself came from, as the coordinator knows it from the order of the
// unit's replies: the list binds the change to that patch, wherever it has moved since.
struct UnitPatchChange {
    // The file of the patch the unit held in the slot when it changed it; empty when not known.
    std::string heldPath;
    // A write of ours to the slot had not landed: it replaces the change on the unit, which keeps the
    // change only when the patch is written again.
    bool overwritten = false;
};
