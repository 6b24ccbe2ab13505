#include "httpclient/HTTPResponseSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include "platform/bundle/StringFormat.h"
#include "platform/url/URLError.h"

using platform::Error;
using platform::URLResponse;

namespace {

Error validationError(std::int64_t code, std::string description, const URLResponse& response,
                      const std::optional<Bytes>& data)
{
    std::map<std::string, std::string> userInfo{
        {platform::kURLErrorFailingURLErrorKey, response.url},
        {URLResponseSerializationFailingResponseErrorKey,
         std::to_string(response.statusCode) + " " + (response.mimeType.empty() ? "(no type)" : response.mimeType)},
    };
    if (data) userInfo[URLResponseSerializationFailingDataErrorKey] = std::string(data->begin(), data->end());
    return Error::make(URLResponseSerializationErrorDomain, code, std::move(description), std::move(userInfo));
}

}  // namespace

platform::Localizer loadHTTPClientTexts(const platform::Bundle& bundle, const std::string& language)
{
    platform::StringsTable english = bundle.table(kHTTPClientStringsTable, "en").value_or(platform::StringsTable());
    platform::StringsTable own =
        language == "en" ? english : bundle.table(kHTTPClientStringsTable, language).value_or(platform::StringsTable());
    return platform::Localizer(language, std::move(own), std::move(english));
}

const platform::Localizer& HTTPClientTexts()
{
    static const platform::Localizer texts =
        loadHTTPClientTexts(platform::Bundle::main(), platform::Localizer::languageFromEnvironment());
    return texts;
}

std::optional<Error> ErrorWithUnderlyingError(const std::optional<Error>& error, const std::optional<Error>& underlyingError)
{
    if (!error) return underlyingError;
    if (!underlyingError || error->underlying) return error;
    Error chained = *error;
    chained.underlying = std::make_shared<const Error>(*underlyingError);
    return chained;
}

HTTPResponseSerializer::HTTPResponseSerializer()
{
    std::set<std::int64_t> codes;
    for (std::int64_t code = 200; code < 300; ++code) codes.insert(code);
    acceptableStatusCodes = std::move(codes);
}

std::shared_ptr<HTTPResponseSerializer> HTTPResponseSerializer::serializer()
{
    return std::make_shared<HTTPResponseSerializer>();
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPResponseSerializer>::add("HTTPResponseSerializer", [] { return std::make_shared<HTTPResponseSerializer>(); });
}  // namespace

void HTTPResponseSerializer::encodeWithCoder(platform::ArchivedObject& coder) const
{
    if (acceptableStatusCodes) coder.set("acceptableStatusCodes", URLObjectCoding::encodeIndexSet(*acceptableStatusCodes));
    if (acceptableContentTypes) coder.set("acceptableContentTypes", URLObjectCoding::encodeStringSet(*acceptableContentTypes));
}

bool HTTPResponseSerializer::initWithCoder(const platform::ArchivedObject& coder)
{
    const platform::ArchivedValue& codes = coder.field("acceptableStatusCodes");
    const platform::ArchivedValue& types = coder.field("acceptableContentTypes");
    std::optional<std::set<std::int64_t>> decodedCodes;
    std::optional<std::set<std::string>> decodedTypes;
    if (!codes.isNil() && !(decodedCodes = URLObjectCoding::decodeIndexSet(codes))) return false;
    if (!types.isNil() && !(decodedTypes = URLObjectCoding::decodeStringSet(types))) return false;
    acceptableStatusCodes = std::move(decodedCodes);
    acceptableContentTypes = std::move(decodedTypes);
    return true;
}

std::shared_ptr<platform::ArchivedObject> HTTPResponseSerializer::archivedObject() const
{
    const std::string name = archivedClassName();
    auto object = URLObjectCoding::makeObjectInFamily(name, "HTTPResponseSerializer");
    encodeWithCoder(*object);
    return object;
}

std::shared_ptr<HTTPResponseSerializer> HTTPResponseSerializer::decodeObject(const platform::ArchivedValue& value,
                                                                             std::optional<platform::Error>* error)
{
    ArchiveDecodingBudget budget;
    auto serializer = ArchivedClasses<HTTPResponseSerializer>::decode(
        value, [](HTTPResponseSerializer& made, const platform::ArchivedObject& coder) { return made.initWithCoder(coder); });
    if (!serializer && error) *error = URLObjectCoding::refusedArchive("response serializer", budget);
    return serializer;
}

std::shared_ptr<HTTPResponseSerializer> HTTPResponseSerializer::copy() const
{
    auto copied = std::make_shared<HTTPResponseSerializer>();
    copied->acceptableStatusCodes = acceptableStatusCodes;
    copied->acceptableContentTypes = acceptableContentTypes;
    return copied;
}

bool HTTPResponseSerializer::validateResponse(const URLResponse* response, const std::optional<Bytes>& data,
                                              std::optional<Error>* error)
{
    bool valid = true;
    std::optional<Error> validationFailure;
    if (response && response->isHTTP) {
        if (acceptableContentTypes && !acceptableContentTypes->contains(response->mimeType)) {
            // Built whenever the type is refused, so a refused response never travels on without a reason.
            valid = false;
            validationFailure = ErrorWithUnderlyingError(
                validationError(platform::URLErrorCannotDecodeContentData,
                                platform::StringFormat::format(
                                    HTTPClientTexts().text("Request failed: unacceptable content-type: %@"), {response->mimeType}),
                                *response, data),
                validationFailure);
        }
        if (acceptableStatusCodes && !acceptableStatusCodes->contains(response->statusCode) && !response->url.empty()) {
            validationFailure = ErrorWithUnderlyingError(
                validationError(platform::URLErrorBadServerResponse,
                                platform::StringFormat::format(HTTPClientTexts().text("Request failed: %@ (%ld)"),
                                                               {URLResponse::localizedStringForStatusCode(response->statusCode),
                                                                response->statusCode}),
                                *response, data),
                validationFailure);
            valid = false;
        }
    }
    if (!valid && error) *error = validationFailure;
    return valid;
}

std::any HTTPResponseSerializer::responseObjectForResponse(const URLResponse* response, const std::optional<Bytes>& data,
                                                           std::optional<Error>* error)
{
    validateResponse(response, data, error);
    return data ? std::any(*data) : std::any();
}
