#include "httpclient/serialization/ParameterValue.h"

#include <charconv>
#include <cmath>

#include "httpclient/serialization/URLRequestSerialization.h"

namespace {

constexpr int kMaxDepth = 512;

platform::Error unwritable(const std::string& what)
{
    return platform::Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnwritable,
                                 "Invalid type in the document: " + what);
}

template <typename Out, typename Convert>
std::optional<Out> convertTree(const ParameterValue& value, int depth, platform::Error* error, Convert&& leaf);

}  // namespace

std::string ParameterValue::description() const
{
    static const char kHex[] = "0123456789abcdef";
    switch (kind()) {
    case Kind::Null: return "<null>";
    case Kind::Bool: return std::get<bool>(m_storage) ? "1" : "0";
    case Kind::Integer: return std::to_string(std::get<std::int64_t>(m_storage));
    case Kind::Real: {
        char text[64];
        auto result = std::to_chars(text, text + sizeof text, std::get<double>(m_storage));
        return std::string(text, result.ptr);
    }
    case Kind::String: return std::get<std::string>(m_storage);
    case Kind::Data: {
        std::string text = "<";
        const auto& bytes = *data();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i > 0 && i % 4 == 0) text += ' ';
            text += kHex[bytes[i] >> 4];
            text += kHex[bytes[i] & 15];
        }
        return text + ">";
    }
    case Kind::Array:
    case Kind::Set: {
        const ParameterArray& members = kind() == Kind::Array ? *array() : set()->members;
        std::string text = "(";
        for (std::size_t i = 0; i < members.size(); ++i) text += (i ? ", " : "") + members[i].description();
        return text + ")";
    }
    case Kind::Dictionary: {
        std::string text = "{";
        for (const auto& [key, member] : *dictionary()) text += key + " = " + member.description() + "; ";
        return text + "}";
    }
    }
    return {};
}

namespace {

template <typename Out, typename Convert>
std::optional<Out> convertTree(const ParameterValue& value, int depth, platform::Error* error, Convert&& leaf)
{
    if (depth > kMaxDepth) {
        if (error) *error = unwritable("nesting too deep");
        return std::nullopt;
    }
    if (const ParameterArray* array = value.array()) {
        Out out = Out::array();
        for (const ParameterValue& member : *array) {
            auto converted = convertTree<Out>(member, depth + 1, error, leaf);
            if (!converted) return std::nullopt;
            out.push_back(std::move(*converted));
        }
        return out;
    }
    if (const ParameterDictionary* dictionary = value.dictionary()) {
        Out out = Out::object();
        for (const auto& [key, member] : *dictionary) {
            auto converted = convertTree<Out>(member, depth + 1, error, leaf);
            if (!converted) return std::nullopt;
            out[key] = std::move(*converted);
        }
        return out;
    }
    return leaf(value, error);
}

// Gives the property-list value the container shape the generic walk expects.
struct PlistBuilder {
    platform::PlistValue value;
    static PlistBuilder array() { return {platform::PlistArray{}}; }
    static PlistBuilder object() { return {platform::PlistDictionary{}}; }
    void push_back(PlistBuilder member) { value.append(std::move(member.value)); }
    struct Slot {
        PlistBuilder* owner;
        std::string key;
        void operator=(PlistBuilder member) { owner->value.set(key, std::move(member.value)); }
    };
    Slot operator[](const std::string& key) { return {this, key}; }
};

}  // namespace

std::optional<nlohmann::json> ParameterValue::toJSON(platform::Error* error) const
{
    return convertTree<nlohmann::json>(*this, 0, error, [](const ParameterValue& value, platform::Error* out)
                                                            -> std::optional<nlohmann::json> {
        switch (value.kind()) {
        case Kind::Null: return nlohmann::json(nullptr);
        case Kind::Bool: return nlohmann::json(std::get<bool>(value.m_storage));
        case Kind::Integer: return nlohmann::json(std::get<std::int64_t>(value.m_storage));
        case Kind::Real:
            if (std::isfinite(std::get<double>(value.m_storage))) return nlohmann::json(std::get<double>(value.m_storage));
            if (out) *out = unwritable("number that is not finite");
            return std::nullopt;
        case Kind::String: return nlohmann::json(std::get<std::string>(value.m_storage));
        default:
            if (out) *out = unwritable(value.kind() == Kind::Data ? "bytes" : "set");
            return std::nullopt;
        }
    });
}

std::optional<platform::PlistValue> ParameterValue::toPlist(platform::Error* error) const
{
    auto built = convertTree<PlistBuilder>(*this, 0, error, [](const ParameterValue& value, platform::Error* out)
                                                                -> std::optional<PlistBuilder> {
        switch (value.kind()) {
        case Kind::Bool: return PlistBuilder{std::get<bool>(value.m_storage)};
        case Kind::Integer: return PlistBuilder{std::get<std::int64_t>(value.m_storage)};
        case Kind::Real: return PlistBuilder{std::get<double>(value.m_storage)};
        case Kind::String: return PlistBuilder{std::get<std::string>(value.m_storage)};
        case Kind::Data: return PlistBuilder{*value.data()};
        default:
            if (out) *out = unwritable(value.isNull() ? "null" : "set");
            return std::nullopt;
        }
    });
    if (!built) return std::nullopt;
    return std::move(built->value);
}
