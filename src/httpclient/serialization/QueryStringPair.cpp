#include "httpclient/serialization/QueryStringPair.h"

#include <algorithm>
#include <cstring>

#include "platform/text/TextEncoding.h"

namespace {

bool isUnreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '~';
}

std::optional<std::string> percentEscaped(const std::string& text, const std::string& stringEncoding, bool keepBrackets)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::optional<std::vector<std::uint8_t>> bytes = platform::TextEncoding::encode(text, stringEncoding);
    if (!bytes) return std::nullopt;
    std::string escaped;
    escaped.reserve(bytes->size());
    for (unsigned char c : *bytes) {
        if (isUnreserved(c) || (keepBrackets && (c == '[' || c == ']'))) {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        }
    }
    return escaped;
}

void appendPairs(std::vector<QueryStringPair>& pairs, const std::optional<std::string>& key, const ParameterValue& value)
{
    if (const ParameterDictionary* dictionary = value.dictionary()) {
        // The map already holds its keys in plain byte order.
        for (const auto& [inner, member] : *dictionary)
            appendPairs(pairs, key ? *key + "[" + inner + "]" : inner, member);
    } else if (const ParameterArray* array = value.array()) {
        for (const ParameterValue& member : *array) appendPairs(pairs, key.value_or("") + "[]", member);
    } else if (const ParameterValue::Set* set = value.set()) {
        std::vector<const ParameterValue*> members;
        for (const ParameterValue& member : set->members) members.push_back(&member);
        std::stable_sort(members.begin(), members.end(), [](const ParameterValue* a, const ParameterValue* b) {
            return a->description() < b->description();
        });
        for (const ParameterValue* member : members) appendPairs(pairs, key, *member);
    } else {
        // A bare value at the top stands alone, as its own escaped text.
        if (key) pairs.emplace_back(*key, value);
        else pairs.emplace_back(value.description(), ParameterValue());
    }
}

}  // namespace

std::optional<std::string> QueryStringPair::URLEncodedStringValueWithEncoding(const std::string& stringEncoding) const
{
    std::optional<std::string> name = PercentEscapedQueryStringKeyFromStringWithEncoding(field, stringEncoding);
    if (!name || value.isNull()) return name;
    std::optional<std::string> text = PercentEscapedQueryStringValueFromStringWithEncoding(value.description(), stringEncoding);
    if (!text) return std::nullopt;
    return *name + "=" + *text;
}

std::vector<QueryStringPair> QueryStringPairsFromKeyAndValue(const std::optional<std::string>& key, const ParameterValue& value)
{
    std::vector<QueryStringPair> pairs;
    appendPairs(pairs, key, value);
    return pairs;
}

std::vector<QueryStringPair> QueryStringPairsFromDictionary(const ParameterValue& dictionary)
{
    return QueryStringPairsFromKeyAndValue(std::nullopt, dictionary);
}

std::optional<std::string> QueryStringFromParametersWithEncoding(const ParameterValue& parameters,
                                                                 const std::string& stringEncoding)
{
    std::string query;
    for (const QueryStringPair& pair : QueryStringPairsFromDictionary(parameters)) {
        std::optional<std::string> text = pair.URLEncodedStringValueWithEncoding(stringEncoding);
        if (!text) return std::nullopt;
        if (!query.empty()) query += '&';
        query += *text;
    }
    return query;
}

std::optional<std::string> PercentEscapedQueryStringKeyFromStringWithEncoding(const std::string& text,
                                                                              const std::string& stringEncoding)
{
    return percentEscaped(text, stringEncoding, true);
}

std::optional<std::string> PercentEscapedQueryStringValueFromStringWithEncoding(const std::string& text,
                                                                                const std::string& stringEncoding)
{
    return percentEscaped(text, stringEncoding, false);
}

std::string Base64EncodedStringFromString(const std::string& text)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        std::uint32_t group = static_cast<std::uint8_t>(text[i]) << 16;
        if (i + 1 < text.size()) group |= static_cast<std::uint8_t>(text[i + 1]) << 8;
        if (i + 2 < text.size()) group |= static_cast<std::uint8_t>(text[i + 2]);
        encoded += kAlphabet[(group >> 18) & 63];
        encoded += kAlphabet[(group >> 12) & 63];
        encoded += i + 1 < text.size() ? kAlphabet[(group >> 6) & 63] : '=';
        encoded += i + 2 < text.size() ? kAlphabet[group & 63] : '=';
    }
    return encoded;
}
