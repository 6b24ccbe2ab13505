#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/Bytes.h"
#include "platform/plist/ArchivedValue.h"

// The reading side the archived items share: a missing key, or a value of another kind, reads as absent,
// so an archive written by an older or newer program still decodes.
class ItemArchive {
public:
    // The archive's root when it is an object of the class; nothing for any other data.
    static std::shared_ptr<const platform::ArchivedObject> rootObject(const Bytes& data, const std::string& className);

    static std::string string(const platform::ArchivedObject& object, const std::string& key);
    static bool boolean(const platform::ArchivedObject& object, const std::string& key);
    static std::int64_t integer(const platform::ArchivedObject& object, const std::string& key);
    static platform::PlistDictionary dictionary(const platform::ArchivedObject& object, const std::string& key);
    static std::optional<Bytes> data(const platform::ArchivedObject& object, const std::string& key);
};
