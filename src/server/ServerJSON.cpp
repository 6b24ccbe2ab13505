#include "server/ServerJSON.h"

#include <algorithm>
#include <cmath>
#include <limits>

using nlohmann::json;

std::optional<json> ServerJSON::objectFromData(std::string_view text)
{
    json parsed = json::parse(text.begin(), text.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        return std::nullopt;
    return parsed;
}

static const json* member(const json& dic, const char* key)
{
    if (!dic.is_object())
        return nullptr;
    auto found = dic.find(key);
    return found == dic.end() ? nullptr : &*found;
}

std::string ServerJSON::stringValue(const json& dic, const char* key)
{
    const json* value = member(dic, key);
    if (!value || !value->is_string())
        return {};
    return value->get_ref<const std::string&>();
}

int64_t ServerJSON::integerOf(const json& value)
{
    if (value.is_number_integer() && !value.is_number_unsigned())
        return value.get<int64_t>();
    if (value.is_number_unsigned()) {
        uint64_t v = value.get<uint64_t>();
        return v > uint64_t(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                    : int64_t(v);
    }
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (std::isnan(d))
            return 0;
        // 2^63 is exactly representable; anything at or beyond it saturates instead of overflowing.
        if (d >= 9223372036854775808.0)
            return std::numeric_limits<int64_t>::max();
        if (d <= -9223372036854775808.0)
            return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(d);
    }
    return 0;
}

int64_t ServerJSON::integerValue(const json& dic, const char* key)
{
    const json* value = member(dic, key);
    return value ? integerOf(*value) : 0;
}

const json* ServerJSON::arrayValue(const json& dic, const char* key)
{
    const json* value = member(dic, key);
    return value && value->is_array() ? value : nullptr;
}

std::vector<const json*> ServerJSON::objectElements(const json& dic, const char* key)
{
    std::vector<const json*> elements;
    if (const json* array = arrayValue(dic, key)) {
        for (const json& element : *array)
            if (element.is_object())
                elements.push_back(&element);
    }
    return elements;
}

bool ServerJSON::holdsWrongKind(const json& dic, const char* key, Kind kind)
{
    const json* value = member(dic, key);
    if (!value)
        return false;
    const auto every = [value](bool (json::*is)() const noexcept) {
        return std::all_of(value->begin(), value->end(), [is](const json& element) { return (element.*is)(); });
    };
    switch (kind) {
    case Kind::String:
        return !value->is_string();
    case Kind::Number:
        return !value->is_number();
    case Kind::NumberList:
        return !value->is_array() || !every(&json::is_number);
    case Kind::ObjectList:
        return !value->is_array() || !every(&json::is_object);
    }
    return true;
}

static int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

uint64_t ServerJSON::scanHex(std::string_view text, unsigned bits)
{
    const uint64_t max = bits >= 64 ? std::numeric_limits<uint64_t>::max() : (uint64_t(1) << bits) - 1;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
        && i + 2 < text.size() && hexDigit(text[i + 2]) >= 0)
        i += 2;
    uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        int digit = hexDigit(text[i]);
        if (digit < 0)
            break;
        if (value > (max >> 4))
            overflow = true;
        value = ((value << 4) | uint64_t(digit)) & max;
    }
    return overflow ? max : value;
}

int32_t ServerJSON::modelIdFromHexString(std::string_view text)
{
    const auto b = littleEndianBytes<4>(scanHex(text, 32));
    const uint32_t swapped = uint32_t(b[2]) << 24 | uint32_t(b[3]) << 16 | uint32_t(b[0]) << 8 | b[1];
    return static_cast<int32_t>(swapped);
}
