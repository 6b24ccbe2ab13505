#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/plist/PlistDate.h"
#include "platform/plist/PlistUid.h"

namespace platform {

using Bytes = std::vector<std::uint8_t>;

class PlistValue;
using PlistArray = std::vector<PlistValue>;
// Keys kept sorted, so that writing the same value twice gives the same bytes.
using PlistDictionary = std::map<std::string, PlistValue>;

// One property-list value of any kind. Typed accessors answer "missing" (nullopt or nullptr) for a value of
// another kind instead of failing, so readers of stored files can treat a wrong kind like an absent key.
class PlistValue {
public:
    enum class Kind { Null, Bool, Integer, Real, String, Bytes, Date, Uid, Array, Dictionary };

    PlistValue() = default;
    PlistValue(std::nullptr_t) {}
    PlistValue(bool value) : storage_(value) {}
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    PlistValue(T value) : storage_(static_cast<std::int64_t>(value))
    {
    }
    PlistValue(double value) : storage_(value) {}
    PlistValue(const char* value) : storage_(std::string(value)) {}
    PlistValue(std::string value) : storage_(std::move(value)) {}
    PlistValue(Bytes value) : storage_(std::move(value)) {}
    PlistValue(PlistDate value) : storage_(value) {}
    PlistValue(PlistUid value) : storage_(value) {}
    PlistValue(PlistArray value) : storage_(std::move(value)) {}
    PlistValue(PlistDictionary value) : storage_(std::move(value)) {}

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool isNull() const { return kind() == Kind::Null; }

    std::optional<bool> asBool() const;
    std::optional<std::int64_t> asInteger() const;
    // A real, or an integer widened to one: writers differ in how they store whole numbers.
    std::optional<double> asReal() const;
    std::optional<std::string> asString() const;
    std::optional<PlistDate> asDate() const;
    std::optional<PlistUid> asUid() const;

    // Borrowed views of the larger kinds, valid while this value lives unchanged.
    const std::string* string() const { return std::get_if<std::string>(&storage_); }
    const Bytes* bytes() const { return std::get_if<Bytes>(&storage_); }
    const PlistArray* array() const { return std::get_if<PlistArray>(&storage_); }
    const PlistDictionary* dictionary() const { return std::get_if<PlistDictionary>(&storage_); }
    PlistArray* array() { return std::get_if<PlistArray>(&storage_); }
    PlistDictionary* dictionary() { return std::get_if<PlistDictionary>(&storage_); }

    // The entry under a key, or a null value when this is no dictionary or has no such key; chains safely.
    const PlistValue& get(const std::string& key) const;
    // The element at an index, or a null value when this is no array or the index is out of range.
    const PlistValue& at(std::size_t index) const;

    // Sets a dictionary entry; a null value first becomes an empty dictionary. False for any other kind.
    bool set(const std::string& key, PlistValue value);
    // Appends to an array; a null value first becomes an empty array. False for any other kind.
    bool append(PlistValue value);

    bool operator==(const PlistValue&) const = default;

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Bytes, PlistDate, PlistUid, PlistArray,
                 PlistDictionary>
        storage_;
};

}  // namespace platform
