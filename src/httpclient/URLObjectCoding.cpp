#include "httpclient/URLObjectCoding.h"

#include "httpclient/ArchiveDecodingBudget.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

using platform::ArchivedObject;
using platform::ArchivedValue;
using platform::PlistValue;
using Bytes = platform::Bytes;

namespace {

constexpr const char* kCodingErrorDomain = "org.pexo.rigmora.httpclient.coding";
// An index set is kept one member at a time: an archive may not ask for more than this.
constexpr std::int64_t kMaximumIndexes = 1 << 20;
constexpr std::size_t kMaximumMembers = 1 << 16;

void appendVarint(Bytes& out, std::uint64_t value)
{
    do {
        std::uint8_t byte = value & 0x7f;
        value >>= 7;
        if (value) byte |= 0x80;
        out.push_back(byte);
    } while (value);
}

std::optional<std::uint64_t> readVarint(const Bytes& in, std::size_t& at)
{
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64 && at < in.size(); shift += 7) {
        const std::uint8_t byte = in[at++];
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80)) return value;
    }
    return std::nullopt;
}

const PlistValue* plainField(const ArchivedObject& object, const std::string& key)
{
    return object.field(key).plain();
}

std::optional<double> real(const ArchivedObject& object, const std::string& key)
{
    const PlistValue* value = plainField(object, key);
    return value ? value->asReal() : std::nullopt;
}

// A time-out in seconds: a finite number, not negative (0 stands for the default or for none).
bool isTimeout(const std::optional<double>& seconds)
{
    return seconds && std::isfinite(*seconds) && *seconds >= 0;
}

ArchivedValue encodePairs(const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::vector<ArchivedValue> out;
    for (const auto& [name, value] : pairs)
        out.push_back(ArchivedValue::array({ArchivedValue(PlistValue(name)), ArchivedValue(PlistValue(value))}, false));
    return ArchivedValue::array(std::move(out), false);
}

// Header fields in order, duplicates kept; a missing field is an empty list.
std::optional<std::vector<std::pair<std::string, std::string>>> decodePairs(const ArchivedValue& value)
{
    ArchiveDecodingBudget budget;
    std::vector<std::pair<std::string, std::string>> pairs;
    if (value.isNil()) return pairs;
    const auto* elements = value.array();
    if (!elements || elements->size() > kMaximumMembers) return std::nullopt;
    for (const auto& element : *elements) {
        const auto* pair = element.array();
        if (!pair || pair->size() != 2) return std::nullopt;
        const PlistValue* name = (*pair)[0].plain();
        const PlistValue* text = (*pair)[1].plain();
        if (!name || !text || !name->string() || !text->string()) return std::nullopt;
        // No field we send or were sent can hold a line break or NUL: such an archive is forged.
        if (!platform::URLRequest::isSendableField(*name->string(), *text->string())) return std::nullopt;
        if (!ArchiveDecodingBudget::drawText(name->string()->size() + text->string()->size())) return std::nullopt;
        pairs.emplace_back(*name->string(), *text->string());
    }
    return pairs;
}

}  // namespace

std::shared_ptr<ArchivedObject> URLObjectCoding::makeObject(std::string className, std::vector<std::string> superclasses)
{
    auto object = std::make_shared<ArchivedObject>();
    object->className = std::move(className);
    object->superclasses = std::move(superclasses);
    return object;
}

std::shared_ptr<ArchivedObject> URLObjectCoding::makeObjectInFamily(const std::string& className, const std::string& baseClassName,
                                                                   std::vector<std::string> baseSuperclasses)
{
    if (className != baseClassName) baseSuperclasses.insert(baseSuperclasses.begin(), baseClassName);
    return makeObject(className, std::move(baseSuperclasses));
}

platform::Error URLObjectCoding::damagedArchive(const std::string& what)
{
    return platform::Error::make(kCodingErrorDomain, 4864, "The archive's " + what + " cannot be read.");
}

platform::Error URLObjectCoding::refusedArchive(const std::string& what, const ArchiveDecodingBudget& budget)
{
    if (budget.state() == ArchiveDecodingBudget::State::Open) return damagedArchive(what);
    return platform::Error::make(kCodingErrorDomain, 4864,
                                 "The archive's " + what + " asks for more memory than a decoder may give it (" +
                                     std::to_string(ArchiveDecodingBudget::kMaximumCost >> 20) + " MB).");
}

const ArchivedObject* URLObjectCoding::objectOfClass(const ArchivedValue& value, const std::string& className)
{
    const auto* object = value.object();
    return object && *object && (*object)->className == className ? object->get() : nullptr;
}

std::optional<std::int64_t> URLObjectCoding::integer(const ArchivedObject& object, const std::string& key)
{
    const PlistValue* value = plainField(object, key);
    return value ? value->asInteger() : std::nullopt;
}

std::optional<bool> URLObjectCoding::boolean(const ArchivedObject& object, const std::string& key)
{
    const PlistValue* value = plainField(object, key);
    return value ? value->asBool() : std::nullopt;
}

std::optional<std::string> URLObjectCoding::string(const ArchivedObject& object, const std::string& key)
{
    const PlistValue* value = plainField(object, key);
    if (!value || !value->string() || !ArchiveDecodingBudget::drawText(value->string()->size())) return std::nullopt;
    return *value->string();
}

ArchivedValue URLObjectCoding::encode(const platform::URLRequest& request)
{
    auto object = makeObject("NSURLRequest");
    object->set("URL", PlistValue(request.url));
    object->set("HTTPMethod", PlistValue(request.httpMethod));
    object->set("headerFields", encodePairs(request.headerFields));
    object->set("timeoutInterval", PlistValue(request.timeoutInterval));
    object->set("totalTimeoutInterval", PlistValue(request.totalTimeoutInterval));
    object->set("slowTransferBytes", PlistValue(static_cast<std::int64_t>(request.slowTransferBytes)));
    object->set("slowTransferInterval", PlistValue(request.slowTransferInterval));
    object->set("cachePolicy", PlistValue(static_cast<std::int64_t>(request.cachePolicy)));
    if (request.httpBody) object->set("HTTPBody", PlistValue(Bytes(request.httpBody->begin(), request.httpBody->end())));
    return object;
}

std::optional<platform::URLRequest> URLObjectCoding::decodeRequest(const ArchivedValue& value)
{
    ArchiveDecodingBudget budget;
    const ArchivedObject* object = objectOfClass(value, "NSURLRequest");
    if (!object || !ArchiveDecodingBudget::draw(ArchiveDecodingBudget::kValueCost)) return std::nullopt;
    const auto url = string(*object, "URL");
    const auto method = string(*object, "HTTPMethod");
    const auto headers = decodePairs(object->field("headerFields"));
    const auto timeout = real(*object, "timeoutInterval");
    const auto total = real(*object, "totalTimeoutInterval").value_or(0);
    const auto slow = real(*object, "slowTransferInterval").value_or(0);
    const auto policy = integer(*object, "cachePolicy");
    if (!url || url->empty() || !method || !platform::URLRequest::isSendableMethod(*method) || !headers || !isTimeout(timeout) || !isTimeout(total) ||
        !isTimeout(slow) || !policy || *policy < 0 || *policy > 1)
        return std::nullopt;
    platform::URLRequest request(*url, *timeout, static_cast<platform::URLRequest::CachePolicy>(*policy));
    request.httpMethod = *method;
    request.headerFields = *headers;
    request.totalTimeoutInterval = total;
    request.slowTransferBytes = static_cast<std::uint64_t>(std::max<std::int64_t>(0, integer(*object, "slowTransferBytes").value_or(0)));
    request.slowTransferInterval = slow;
    if (const PlistValue* body = plainField(*object, "HTTPBody")) {
        if (!body->bytes() || !ArchiveDecodingBudget::drawText(body->bytes()->size())) return std::nullopt;
        request.httpBody = std::vector<std::uint8_t>(body->bytes()->begin(), body->bytes()->end());
    }
    return request;
}

ArchivedValue URLObjectCoding::encode(const platform::URLResponse& response)
{
    auto object = makeObject("NSHTTPURLResponse", {"NSURLResponse", "NSObject"});
    object->set("URL", PlistValue(response.url));
    object->set("isHTTP", PlistValue(response.isHTTP));
    object->set("statusCode", PlistValue(response.statusCode));
    object->set("MIMEType", PlistValue(response.mimeType));
    if (response.textEncodingName) object->set("textEncodingName", PlistValue(*response.textEncodingName));
    object->set("expectedContentLength", PlistValue(response.expectedContentLength));
    object->set("allHeaderFields", encodePairs(response.allHeaderFields));
    return object;
}

std::optional<platform::URLResponse> URLObjectCoding::decodeResponse(const ArchivedValue& value)
{
    ArchiveDecodingBudget budget;
    const ArchivedObject* object = objectOfClass(value, "NSHTTPURLResponse");
    if (!object || !ArchiveDecodingBudget::draw(ArchiveDecodingBudget::kValueCost)) return std::nullopt;
    platform::URLResponse response;
    const auto url = string(*object, "URL");
    const auto isHTTP = boolean(*object, "isHTTP");
    const auto status = integer(*object, "statusCode");
    const auto mimeType = string(*object, "MIMEType");
    const auto length = integer(*object, "expectedContentLength");
    const auto headers = decodePairs(object->field("allHeaderFields"));
    if (!url || !isHTTP || !status || !mimeType || !length || !headers) return std::nullopt;
    response.url = *url;
    response.isHTTP = *isHTTP;
    response.statusCode = *status;
    response.mimeType = *mimeType;
    response.textEncodingName = string(*object, "textEncodingName");
    // A text passed over as missing may have been one the budget could not give.
    if (budget.state() == ArchiveDecodingBudget::State::Spent) return std::nullopt;
    response.expectedContentLength = *length;
    response.allHeaderFields = *headers;
    return response;
}

ArchivedValue URLObjectCoding::encode(const platform::Error& error)
{
    auto object = makeObject("NSError");
    object->set("domain", PlistValue(error.domain));
    object->set("code", PlistValue(error.code));
    object->set("description", PlistValue(error.description));
    object->set("userInfo", encodeStringMap(error.userInfo));
    if (error.underlying) object->set("underlying", encode(*error.underlying));
    return object;
}

std::optional<platform::Error> URLObjectCoding::decodeError(const ArchivedValue& value)
{
    ArchiveDecodingBudget budget;
    const ArchivedObject* object = objectOfClass(value, "NSError");
    if (!object || !ArchiveDecodingBudget::draw(ArchiveDecodingBudget::kValueCost)) return std::nullopt;
    const auto domain = string(*object, "domain");
    const auto code = integer(*object, "code");
    const auto description = string(*object, "description");
    const auto info = decodeStringMap(object->field("userInfo"));
    if (!domain || !code || !description || !info) return std::nullopt;
    platform::Error error = platform::Error::make(*domain, *code, *description, *info);
    if (!object->field("underlying").isNil()) {
        // The unarchiver has already refused cycles, so the chain ends.
        auto underlying = decodeError(object->field("underlying"));
        if (!underlying) return std::nullopt;
        error.underlying = std::make_shared<const platform::Error>(std::move(*underlying));
    }
    return error;
}

ArchivedValue URLObjectCoding::encode(const platform::URLSessionConfiguration& configuration)
{
    auto object = makeObject("NSURLSessionConfiguration");
    if (configuration.identifier) object->set("identifier", PlistValue(*configuration.identifier));
    object->set("timeoutIntervalForRequest", PlistValue(configuration.timeoutIntervalForRequest));
    object->set("requestCachePolicy", PlistValue(static_cast<std::int64_t>(configuration.requestCachePolicy)));
    object->set("HTTPAdditionalHeaders", encodePairs(configuration.HTTPAdditionalHeaders));
    object->set("HTTPShouldSetCookies", PlistValue(configuration.HTTPShouldSetCookies));
    return object;
}

std::optional<platform::URLSessionConfiguration> URLObjectCoding::decodeSessionConfiguration(const ArchivedValue& value)
{
    ArchiveDecodingBudget budget;
    const ArchivedObject* object = objectOfClass(value, "NSURLSessionConfiguration");
    if (!object || !ArchiveDecodingBudget::draw(ArchiveDecodingBudget::kValueCost)) return std::nullopt;
    const auto timeout = real(*object, "timeoutIntervalForRequest");
    const auto policy = integer(*object, "requestCachePolicy");
    const auto headers = decodePairs(object->field("HTTPAdditionalHeaders"));
    const auto cookies = boolean(*object, "HTTPShouldSetCookies");
    if (!isTimeout(timeout) || !policy || *policy < 0 || *policy > 1 || !headers || !cookies) return std::nullopt;
    platform::URLSessionConfiguration configuration;
    configuration.identifier = string(*object, "identifier");
    if (budget.state() == ArchiveDecodingBudget::State::Spent) return std::nullopt;
    configuration.timeoutIntervalForRequest = *timeout;
    configuration.requestCachePolicy = static_cast<platform::URLRequest::CachePolicy>(*policy);
    configuration.HTTPAdditionalHeaders = *headers;
    configuration.HTTPShouldSetCookies = *cookies;
    return configuration;
}

// The runs of consecutive indexes, as location and length.
ArchivedValue URLObjectCoding::encodeIndexSet(const std::set<std::int64_t>& indexes)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (std::int64_t index : indexes) {
        if (!ranges.empty() && ranges.back().first + ranges.back().second == index)
            ++ranges.back().second;
        else
            ranges.emplace_back(index, 1);
    }
    auto object = makeObject("NSIndexSet");
    object->set("NSRangeCount", PlistValue(static_cast<std::int64_t>(ranges.size())));
    if (ranges.size() == 1) {
        object->set("NSLocation", PlistValue(ranges.front().first));
        object->set("NSLength", PlistValue(ranges.front().second));
    } else if (ranges.size() > 1) {
        Bytes data;
        for (const auto& [location, length] : ranges) {
            appendVarint(data, static_cast<std::uint64_t>(location));
            appendVarint(data, static_cast<std::uint64_t>(length));
        }
        object->set("NSRangeData", PlistValue(std::move(data)));
    }
    return object;
}

std::optional<std::set<std::int64_t>> URLObjectCoding::decodeIndexSet(const ArchivedValue& value)
{
    ArchiveDecodingBudget budget;
    const ArchivedObject* object = objectOfClass(value, "NSIndexSet");
    if (!object || !ArchiveDecodingBudget::draw(ArchiveDecodingBudget::kValueCost)) return std::nullopt;
    const auto count = integer(*object, "NSRangeCount");
    if (!count || *count < 0) return std::nullopt;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    if (*count == 1) {
        const auto location = integer(*object, "NSLocation");
        const auto length = integer(*object, "NSLength");
        if (!location || !length || *location < 0 || *length < 0) return std::nullopt;
        ranges.emplace_back(static_cast<std::uint64_t>(*location), static_cast<std::uint64_t>(*length));
    } else if (*count > 1) {
        const PlistValue* data = plainField(*object, "NSRangeData");
        if (!data || !data->bytes() || static_cast<std::uint64_t>(*count) > data->bytes()->size()) return std::nullopt;
        std::size_t at = 0;
        for (std::int64_t i = 0; i < *count; ++i) {
            const auto location = readVarint(*data->bytes(), at);
            const auto length = readVarint(*data->bytes(), at);
            if (!location || !length) return std::nullopt;
            ranges.emplace_back(*location, *length);
        }
    }
    std::uint64_t total = 0;
    for (const auto& [location, length] : ranges) {
        total += length;
        if (length > static_cast<std::uint64_t>(kMaximumIndexes) || total > static_cast<std::uint64_t>(kMaximumIndexes) ||
            location > static_cast<std::uint64_t>(INT64_MAX) - length)
            return std::nullopt;
    }
    // Made one member at a time, wherever the set is referred to again.
    if (!ArchiveDecodingBudget::draw(total * ArchiveDecodingBudget::kIndexCost)) return std::nullopt;
    // Each range goes in at the end of the ranges before it, as a writer lays them out: a member is then
    // placed in one step, not by a search from the root, so a large set costs its allocations only.
    std::set<std::int64_t> indexes;
    for (const auto& [location, length] : ranges)
        for (std::uint64_t i = 0; i < length; ++i) indexes.emplace_hint(indexes.end(), static_cast<std::int64_t>(location + i));
    return indexes;
}

ArchivedValue URLObjectCoding::encodeStringSet(const std::set<std::string>& strings)
{
    std::vector<ArchivedValue> members;
    for (const auto& text : strings) members.emplace_back(PlistValue(text));
    auto object = makeObject("NSSet");
    object->set("NS.objects", ArchivedValue::array(std::move(members), false));
    return object;
}

std::optional<std::set<std::string>> URLObjectCoding::decodeStringSet(const ArchivedValue& value)
{
    ArchiveDecodingBudget budget;
    const ArchivedObject* object = objectOfClass(value, "NSSet");
    if (!object || !ArchiveDecodingBudget::draw(ArchiveDecodingBudget::kValueCost)) return std::nullopt;
    const auto* members = object->field("NS.objects").array();
    if (!members || members->size() > kMaximumMembers) return std::nullopt;
    std::set<std::string> strings;
    for (const auto& member : *members) {
        const PlistValue* text = member.plain();
        if (!text || !text->string() || !ArchiveDecodingBudget::drawText(text->string()->size())) return std::nullopt;
        strings.insert(*text->string());
    }
    return strings;
}

ArchivedValue URLObjectCoding::encodeStringMap(const std::map<std::string, std::string>& strings)
{
    platform::ArchivedEntries entries;
    for (const auto& [key, text] : strings) entries.emplace_back(key, ArchivedValue(PlistValue(text)));
    return ArchivedValue::dictionary(std::move(entries));
}

std::optional<std::map<std::string, std::string>> URLObjectCoding::decodeStringMap(const ArchivedValue& value)
{
    ArchiveDecodingBudget budget;
    std::map<std::string, std::string> strings;
    if (value.isNil()) return strings;
    const auto* entries = value.dictionary();
    if (!entries || entries->size() > kMaximumMembers) return std::nullopt;
    for (const auto& [key, entry] : *entries) {
        const PlistValue* text = entry.plain();
        if (!text || !text->string() || !ArchiveDecodingBudget::drawText(key.size() + text->string()->size())) return std::nullopt;
        strings[key] = *text->string();
    }
    return strings;
}
