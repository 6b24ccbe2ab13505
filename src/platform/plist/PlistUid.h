#pragma once

namespace platform {

// A reference into a keyed archive's object table; plain property lists never hold one.
struct PlistUid {
    unsigned long long index = 0;

    bool operator==(const PlistUid&) const = default;
};

}  // namespace platform
