#include "platform/plist/PlistValue.h"

namespace platform {

namespace {
const PlistValue& nullValue()
{
    static const PlistValue null;
    return null;
}

template <typename T, typename Storage>
std::optional<T> optionalOf(const Storage& storage)
{
    if (const T* value = std::get_if<T>(&storage))
        return *value;
    return std::nullopt;
}
}  // namespace

std::optional<bool> PlistValue::asBool() const { return optionalOf<bool>(storage_); }
std::optional<std::int64_t> PlistValue::asInteger() const { return optionalOf<std::int64_t>(storage_); }
std::optional<std::string> PlistValue::asString() const { return optionalOf<std::string>(storage_); }
std::optional<PlistDate> PlistValue::asDate() const { return optionalOf<PlistDate>(storage_); }
std::optional<PlistUid> PlistValue::asUid() const { return optionalOf<PlistUid>(storage_); }

std::optional<double> PlistValue::asReal() const
{
    if (const auto* integer = std::get_if<std::int64_t>(&storage_))
        return static_cast<double>(*integer);
    return optionalOf<double>(storage_);
}

const PlistValue& PlistValue::get(const std::string& key) const
{
    const PlistDictionary* entries = dictionary();
    if (entries == nullptr)
        return nullValue();
    auto found = entries->find(key);
    return found == entries->end() ? nullValue() : found->second;
}

const PlistValue& PlistValue::at(std::size_t index) const
{
    const PlistArray* elements = array();
    return elements != nullptr && index < elements->size() ? (*elements)[index] : nullValue();
}

bool PlistValue::set(const std::string& key, PlistValue value)
{
    if (isNull())
        storage_ = PlistDictionary();
    PlistDictionary* entries = dictionary();
    if (entries == nullptr)
        return false;
    (*entries)[key] = std::move(value);
    return true;
}

bool PlistValue::append(PlistValue value)
{
    if (isNull())
        storage_ = PlistArray();
    PlistArray* elements = array();
    if (elements == nullptr)
        return false;
    elements->push_back(std::move(value));
    return true;
}

}  // namespace platform
