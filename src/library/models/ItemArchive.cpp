#include "library/models/ItemArchive.h"

#include "platform/plist/KeyedUnarchiver.h"

namespace {

const platform::PlistValue* plainField(const platform::ArchivedObject& object, const std::string& key)
{
    return object.field(key).plain();
}

}  // namespace

std::shared_ptr<const platform::ArchivedObject> ItemArchive::rootObject(const Bytes& data, const std::string& className)
{
    auto root = platform::KeyedUnarchiver::unarchive(data);
    if (!root || root->object() == nullptr) return nullptr;
    const auto& object = *root->object();
    return object->className == className ? object : nullptr;
}

std::string ItemArchive::string(const platform::ArchivedObject& object, const std::string& key)
{
    const auto* value = plainField(object, key);
    return value != nullptr ? value->asString().value_or("") : "";
}

bool ItemArchive::boolean(const platform::ArchivedObject& object, const std::string& key)
{
    const auto* value = plainField(object, key);
    if (value == nullptr) return false;
    if (auto flag = value->asBool()) return *flag;
    return value->asInteger().value_or(0) != 0;
}

std::int64_t ItemArchive::integer(const platform::ArchivedObject& object, const std::string& key)
{
    const auto* value = plainField(object, key);
    return value != nullptr ? value->asInteger().value_or(0) : 0;
}

platform::PlistDictionary ItemArchive::dictionary(const platform::ArchivedObject& object, const std::string& key)
{
    auto plain = object.field(key).toPlain();
    if (!plain || plain->dictionary() == nullptr) return {};
    return *plain->dictionary();
}

std::optional<Bytes> ItemArchive::data(const platform::ArchivedObject& object, const std::string& key)
{
    const auto* value = plainField(object, key);
    if (value == nullptr || value->bytes() == nullptr) return std::nullopt;
    return *value->bytes();
}
