#include "platform/plist/ArchivedValue.h"

namespace platform {

namespace {
const ArchivedValue& nilValue()
{
    static const ArchivedValue nil;
    return nil;
}

const ArchivedValue& lookup(const ArchivedEntries& entries, const std::string& key)
{
    for (const auto& [name, value] : entries) {
        if (name == key)
            return value;
    }
    return nilValue();
}
}  // namespace

ArchivedValue::ArchivedValue(PlistValue value)
{
    if (!value.isNull())
        storage_ = std::make_shared<const PlistValue>(std::move(value));
}

ArchivedValue::ArchivedValue(std::shared_ptr<const ArchivedObject> object)
{
    if (object)
        storage_ = std::move(object);
}

ArchivedValue ArchivedValue::array(std::vector<ArchivedValue> elements, bool mutableClass)
{
    ArchivedValue value;
    value.storage_ = std::make_shared<const ArrayBox>(ArrayBox{std::move(elements)});
    value.mutableClass_ = mutableClass;
    return value;
}

ArchivedValue ArchivedValue::dictionary(ArchivedEntries entries, bool mutableClass)
{
    ArchivedValue value;
    value.storage_ = std::make_shared<const DictionaryBox>(DictionaryBox{std::move(entries)});
    value.mutableClass_ = mutableClass;
    return value;
}

ArchivedValue::Kind ArchivedValue::kind() const { return static_cast<Kind>(storage_.index()); }

const PlistValue* ArchivedValue::plain() const
{
    const auto* value = std::get_if<std::shared_ptr<const PlistValue>>(&storage_);
    return value == nullptr ? nullptr : value->get();
}

const std::shared_ptr<const ArchivedObject>* ArchivedValue::object() const
{
    return std::get_if<std::shared_ptr<const ArchivedObject>>(&storage_);
}

const std::vector<ArchivedValue>* ArchivedValue::array() const
{
    const auto* box = std::get_if<std::shared_ptr<const ArrayBox>>(&storage_);
    return box == nullptr ? nullptr : &(*box)->elements;
}

const ArchivedEntries* ArchivedValue::dictionary() const
{
    const auto* box = std::get_if<std::shared_ptr<const DictionaryBox>>(&storage_);
    return box == nullptr ? nullptr : &(*box)->entries;
}

const ArchivedValue& ArchivedValue::get(const std::string& key) const
{
    const ArchivedEntries* entries = dictionary();
    return entries == nullptr ? nilValue() : lookup(*entries, key);
}

std::optional<PlistValue> ArchivedValue::toPlain() const
{
    switch (kind()) {
    case Kind::Nil:
        return PlistValue();
    case Kind::Plain:
        return *plain();
    case Kind::Object:
        return std::nullopt;
    case Kind::Array: {
        PlistArray elements;
        for (const ArchivedValue& element : *array()) {
            auto converted = element.toPlain();
            if (!converted)
                return std::nullopt;
            elements.push_back(std::move(*converted));
        }
        return PlistValue(std::move(elements));
    }
    case Kind::Dictionary: {
        PlistDictionary entries;
        for (const auto& [key, element] : *dictionary()) {
            auto converted = element.toPlain();
            if (!converted)
                return std::nullopt;
            entries[key] = std::move(*converted);
        }
        return PlistValue(std::move(entries));
    }
    }
    return std::nullopt;
}

const ArchivedValue& ArchivedObject::field(const std::string& key) const { return lookup(fields, key); }

void ArchivedObject::set(const std::string& key, ArchivedValue value)
{
    for (auto& [name, existing] : fields) {
        if (name == key) {
            existing = std::move(value);
            return;
        }
    }
    fields.emplace_back(key, std::move(value));
}

}  // namespace platform
