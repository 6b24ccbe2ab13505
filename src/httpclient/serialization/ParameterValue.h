#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/error/Error.h"
#include "platform/plist/PlistValue.h"

class ParameterValue;
using ParameterArray = std::vector<ParameterValue>;
using ParameterDictionary = std::map<std::string, ParameterValue>;

// One request parameter: the null marker, a number, a text, bytes, or an array, set or dictionary of
// parameters. Dictionary keys are kept in plain byte order, which is the order the query string wants.
class ParameterValue {
public:
    struct Set {
        ParameterArray members;
    };
    enum class Kind { Null, Bool, Integer, Real, String, Data, Array, Set, Dictionary };

    ParameterValue() = default;
    ParameterValue(std::nullptr_t) {}
    ParameterValue(bool value) : m_storage(value) {}
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    ParameterValue(T value) : m_storage(static_cast<std::int64_t>(value))
    {
    }
    ParameterValue(double value) : m_storage(value) {}
    ParameterValue(const char* value) : m_storage(std::string(value)) {}
    ParameterValue(std::string value) : m_storage(std::move(value)) {}
    ParameterValue(std::vector<std::uint8_t> value) : m_storage(std::move(value)) {}
    ParameterValue(ParameterArray value) : m_storage(std::move(value)) {}
    ParameterValue(Set value) : m_storage(std::move(value)) {}
    ParameterValue(ParameterDictionary value) : m_storage(std::move(value)) {}

    Kind kind() const { return static_cast<Kind>(m_storage.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    const std::vector<std::uint8_t>* data() const { return std::get_if<std::vector<std::uint8_t>>(&m_storage); }
    const ParameterArray* array() const { return std::get_if<ParameterArray>(&m_storage); }
    const Set* set() const { return std::get_if<Set>(&m_storage); }
    const ParameterDictionary* dictionary() const { return std::get_if<ParameterDictionary>(&m_storage); }

    // The value's text as the query string and form fields carry it: a number in decimal (a truth value
    // as 1 or 0, a real in its shortest exact form), bytes as "<hex>" in groups of four bytes, a
    // container in a bracketed listing.
    std::string description() const;

    // Fails for what the document cannot hold: bytes, sets and reals that are not finite in JSON; nulls
    // and sets in a property list.
    std::optional<nlohmann::json> toJSON(platform::Error* error) const;
    std::optional<platform::PlistValue> toPlist(platform::Error* error) const;

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, std::vector<std::uint8_t>, ParameterArray,
                 Set, ParameterDictionary>
        m_storage;
};
