#pragma once

#include <optional>

#include "platform/error/Error.h"
#include "platform/plist/ArchivedValue.h"
#include "platform/plist/PlistValue.h"

namespace platform {

// Reads a keyed archive back into an object graph. Containers of the platform's collection classes become
// arrays and dictionaries, its strings, data and dates plain values, every other class an ArchivedObject.
// An object referenced twice comes back as one shared object. A reference out of range, a cycle, or a
// table that is not an archive gives an error.
class KeyedUnarchiver {
public:
    static std::optional<ArchivedValue> unarchive(const Bytes& data, Error* error = nullptr);
    static std::optional<ArchivedValue> unarchive(const PlistValue& archive, Error* error = nullptr);
};

}  // namespace platform
