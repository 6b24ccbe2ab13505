#pragma once

#include <optional>
#include <string>
#include <vector>

#include "httpclient/serialization/ParameterValue.h"

// Characters that are legal in a URL and still escaped inside a query string's names and values.
inline constexpr const char* kCharactersToBeEscapedInQueryString = ":/?&=;+!@#$()',*";

// One name and value of a query string; the name is the text a walk over nested parameters built.
class QueryStringPair {
public:
    QueryStringPair(std::string field, ParameterValue value) : field(std::move(field)), value(std::move(value)) {}

    // "name=value" escaped in the character set, or the name alone for the null marker; nothing when a
    // text cannot be written in that character set.
    std::optional<std::string> URLEncodedStringValueWithEncoding(const std::string& stringEncoding) const;

    std::string field;
    ParameterValue value;
};

// The pairs of nested parameters, depth first: dictionary keys and set members sorted by their text,
// array elements in order, named "outer[inner]" and "outer[]".
std::vector<QueryStringPair> QueryStringPairsFromKeyAndValue(const std::optional<std::string>& key, const ParameterValue& value);
std::vector<QueryStringPair> QueryStringPairsFromDictionary(const ParameterValue& dictionary);
// The pairs joined by "&"; nothing when a text cannot be written in the character set.
std::optional<std::string> QueryStringFromParametersWithEncoding(const ParameterValue& parameters,
                                                                 const std::string& stringEncoding);

// Percent escapes of the text's bytes in the character set: a value keeps only letters, digits and "-._~",
// a name also "[" and "]". Nothing when the text cannot be written in the character set.
std::optional<std::string> PercentEscapedQueryStringKeyFromStringWithEncoding(const std::string& text,
                                                                              const std::string& stringEncoding);
std::optional<std::string> PercentEscapedQueryStringValueFromStringWithEncoding(const std::string& text,
                                                                                const std::string& stringEncoding);

std::string Base64EncodedStringFromString(const std::string& text);
