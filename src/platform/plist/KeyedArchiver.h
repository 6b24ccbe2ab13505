#pragma once

#include <cstdint>
#include <optional>

#include "platform/error/Error.h"
#include "platform/plist/ArchivedValue.h"
#include "platform/plist/PlistValue.h"

namespace platform {

// Writes an object graph as a keyed archive: a binary property list that the original platform's keyed
// unarchiver reads. Scalars in an object's fields are stored inline; strings, data, dates, containers and
// objects go to the "$objects" table and are referred to by UID, each object and each class once.
class KeyedArchiver {
public:
    static constexpr const char* kArchiverName = "NSKeyedArchiver";
    static constexpr std::int64_t kVersion = 100000;
    static constexpr const char* kNullMarker = "$null";
    static constexpr const char* kRootKey = "root";

    static std::optional<Bytes> archive(const ArchivedValue& root, Error* error = nullptr);
    // The archive as a property-list value, before it is encoded.
    static std::optional<PlistValue> archiveTree(const ArchivedValue& root, Error* error = nullptr);
};

}  // namespace platform
