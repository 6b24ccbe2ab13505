#include "httpclient/serialization/JSONResponseSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include "httpclient/serialization/ResponseSerializerSupport.h"
#include "platform/bundle/StringFormat.h"
#include "platform/text/TextEncoding.h"
#include "platform/text/Utf8.h"

using platform::Error;

namespace {

constexpr const char* kJSONErrorDomain = "org.pexo.rigmora.json";
constexpr std::int64_t kJSONReadCorrupt = 3840;

// The deepest nesting of brackets outside strings.
int nestingDepth(const std::string& text)
{
    int depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

}  // namespace

JSONResponseSerializer::JSONResponseSerializer()
{
    acceptableContentTypes = std::set<std::string>{"application/json", "text/json", "text/javascript"};
}

std::shared_ptr<JSONResponseSerializer> JSONResponseSerializer::serializerWithReadingOptions(std::uint64_t options)
{
    auto serializer = std::make_shared<JSONResponseSerializer>();
    serializer->readingOptions = options;
    return serializer;
}

std::shared_ptr<HTTPResponseSerializer> JSONResponseSerializer::copy() const
{
    auto copied = serializerWithReadingOptions(readingOptions);
    copied->removesKeysWithNullValues = removesKeysWithNullValues;
    return copied;
}

std::any JSONResponseSerializer::responseObjectForResponse(const platform::URLResponse* response,
                                                           const std::optional<Bytes>& data, std::optional<Error>* error)
{
    if (!PassesValidationGate(*this, response, data, error)) return {};
    const Bytes body = data.value_or(Bytes());
    if (body.size() > kMaxBodyBytes) {
        StoreParsingError(CannotDecodeError(HTTPClientTexts().text("The response is too large to parse")), error);
        return {};
    }
    std::string encoding = stringEncoding;
    if (response && response->textEncodingName && platform::TextEncoding::isKnown(*response->textEncodingName))
        encoding = *response->textEncodingName;
    const std::optional<std::string> text = platform::TextEncoding::decode(body, encoding);
    if (!text || *text == " " || text->empty()) return {};
    std::optional<Error> parsingError;
    std::any result;
    if (!platform::Utf8::isValid(*text)) {
        parsingError = CannotDecodeError(HTTPClientTexts().text("Data failed decoding as a UTF-8 string"),
                                         platform::StringFormat::format(HTTPClientTexts().text("Could not decode string: %@"), {*text}));
    } else if (nestingDepth(*text) > kMaxDepth) {
        parsingError = Error::make(kJSONErrorDomain, kJSONReadCorrupt, "The JSON document is nested too deeply");
    } else {
        try {
            nlohmann::json object = nlohmann::json::parse(*text);
            if (!(readingOptions & kJSONReadingAllowFragments) && !object.is_object() && !object.is_array())
                parsingError = Error::make(kJSONErrorDomain, kJSONReadCorrupt, "The JSON text is no object or array");
            else
                result = removesKeysWithNullValues ? JSONObjectByRemovingKeysWithNullValues(object, readingOptions) : object;
        } catch (const nlohmann::json::exception& failure) {
            parsingError = Error::make(kJSONErrorDomain, kJSONReadCorrupt, failure.what());
        }
    }
    StoreParsingError(parsingError, error);
    return result;
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPResponseSerializer>::add("JSONResponseSerializer", [] { return std::make_shared<JSONResponseSerializer>(); });
}  // namespace

void JSONResponseSerializer::encodeWithCoder(platform::ArchivedObject& coder) const
{
    HTTPResponseSerializer::encodeWithCoder(coder);
    coder.set("readingOptions", platform::PlistValue(static_cast<std::int64_t>(readingOptions)));
    coder.set("removesKeysWithNullValues", platform::PlistValue(removesKeysWithNullValues));
}

bool JSONResponseSerializer::initWithCoder(const platform::ArchivedObject& coder)
{
    if (!HTTPResponseSerializer::initWithCoder(coder)) return false;
    const auto options = URLObjectCoding::integer(coder, "readingOptions");
    const auto removes = URLObjectCoding::boolean(coder, "removesKeysWithNullValues");
    if (!options || !removes) return false;
    readingOptions = static_cast<std::uint64_t>(*options);
    removesKeysWithNullValues = *removes;
    return true;
}
