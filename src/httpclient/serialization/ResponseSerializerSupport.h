#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "httpclient/HTTPResponseSerializer.h"

// True when the error, or any error beneath it, has the code in the domain.
bool ErrorOrUnderlyingErrorHasCodeInDomain(const platform::Error* error, std::int64_t code, const std::string& domain);

// The object with every dictionary entry whose value is null removed, at any depth; nulls in arrays stay.
nlohmann::json JSONObjectByRemovingKeysWithNullValues(const nlohmann::json& object, std::uint64_t readingOptions);

// The first step of every parsing serializer: validates the response into the out-parameter and answers
// whether the body is to be parsed. A refused content type, or any refusal without an out-parameter,
// stops it; a refused status code lets parsing go ahead with the error kept. A refusal never goes on
// without an error.
bool PassesValidationGate(HTTPResponseSerializer& serializer, const platform::URLResponse* response,
                          const std::optional<Bytes>& data, std::optional<platform::Error>* error);

// Puts the parsing error, if any, on top of what the out-parameter holds.
void StoreParsingError(const std::optional<platform::Error>& parsingError, std::optional<platform::Error>* error);

// The error of a body that could not be decoded, in the response serialization domain.
platform::Error CannotDecodeError(const std::string& description, const std::string& reason = {});
