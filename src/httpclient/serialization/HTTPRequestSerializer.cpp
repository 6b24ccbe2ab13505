#include "httpclient/serialization/HTTPRequestSerializer.h"

#include <cctype>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"
#include "httpclient/serialization/QueryStringPair.h"
#include "httpclient/serialization/StreamingMultipartFormData.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/url/FileOutputStream.h"
#include "platform/url/URLError.h"
#include "platform/text/TextEncoding.h"
#include "platform/text/Transliteration.h"

using platform::Error;
using platform::URLRequest;

namespace {

std::string acceptLanguage(const std::vector<std::string>& languages)
{
    std::string value;
    for (std::size_t i = 0; i < languages.size(); ++i) {
        const float q = 1.0f - static_cast<float>(i) * 0.1f;
        char entry[160];
        std::snprintf(entry, sizeof entry, "%s;q=%0.1g", languages[i].c_str(), static_cast<double>(q));
        value += (i ? ", " : "") + std::string(entry);
        if (q <= 0.5f) break;
    }
    return value;
}

std::optional<std::string> userAgent(const platform::ProcessInfo& process)
{
    const std::string& name = process.executableName.empty() ? process.bundleIdentifier : process.executableName;
    const std::string& version = process.shortVersion.empty() ? process.bundleVersion : process.shortVersion;
    if (name.empty()) return std::nullopt;
    std::string agent = name + "/" + version + " (Linux " + process.operatingSystemVersion + ")";
    if (!platform::TextEncoding::encode(agent, "ASCII"))
        agent = platform::Transliteration::apply(agent, "Any-Latin; Latin-ASCII; [:^ASCII:] Remove").value_or(agent);
    return agent;
}

std::string upperCased(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

}  // namespace

bool URLStringParses(const std::string& text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (std::size_t i = 0; i < colon; ++i)
        if (!std::isalnum(static_cast<unsigned char>(text[i])) && text[i] != '+' && text[i] != '-' && text[i] != '.')
            return false;
    static const std::string kLegal = "-_.!~*'();/?:@&=+$,[]#";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
                return false;
        } else if (c >= 0x80 || (!std::isalnum(c) && kLegal.find(static_cast<char>(c)) == std::string::npos)) {
            return false;
        }
    }
    return true;
}

namespace {

// Adds the query before any fragment, so it never ends up inside the fragment.
std::string URLWithQuery(const std::string& url, const std::string& query)
{
    const std::size_t hash = url.find('#');
    const std::string head = url.substr(0, hash);
    const std::string tail = hash == std::string::npos ? "" : url.substr(hash);
    return head + (head.find('?') != std::string::npos ? "&" : "?") + query + tail;
}

}  // namespace

void throwInvalidParameter(const std::string& condition)
{
    throw std::invalid_argument("Invalid parameter not satisfying: " + condition);
}

HTTPRequestSerializer::HTTPRequestSerializer(const platform::ProcessInfo& process)
    : randomSource([] {
          static thread_local std::mt19937 generator{std::random_device{}()};
          return static_cast<std::uint32_t>(generator());
      })
{
    m_headers["Accept-Language"] = acceptLanguage(process.preferredLanguages);
    if (auto agent = userAgent(process)) m_headers["User-Agent"] = *agent;
}

std::shared_ptr<HTTPRequestSerializer> HTTPRequestSerializer::serializer()
{
    return std::make_shared<HTTPRequestSerializer>();
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPRequestSerializer>::add("HTTPRequestSerializer", [] { return std::make_shared<HTTPRequestSerializer>(); });
}  // namespace

void HTTPRequestSerializer::encodeWithCoder(platform::ArchivedObject& coder) const
{
    coder.set("mutableHTTPRequestHeaders", URLObjectCoding::encodeStringMap(m_headers));
    coder.set("queryStringSerializationStyle", platform::PlistValue(static_cast<std::int64_t>(m_queryStyle)));
}

bool HTTPRequestSerializer::initWithCoder(const platform::ArchivedObject& coder)
{
    const platform::ArchivedValue& archived = coder.field("mutableHTTPRequestHeaders");
    const auto headers = URLObjectCoding::decodeStringMap(archived);
    const auto style = URLObjectCoding::integer(coder, "queryStringSerializationStyle");
    if (archived.isNil() || !headers || !style) return false;
    // Fields that would add lines of their own to every request built are refused with the archive.
    for (const auto& [field, value] : *headers)
        if (!URLRequest::isSendableField(field, value)) return false;
    m_headers = *headers;
    m_queryStyle = static_cast<std::uint64_t>(*style);
    return true;
}

std::shared_ptr<platform::ArchivedObject> HTTPRequestSerializer::archivedObject() const
{
    const std::string name = archivedClassName();
    auto object = URLObjectCoding::makeObjectInFamily(name, "HTTPRequestSerializer");
    encodeWithCoder(*object);
    return object;
}

std::shared_ptr<HTTPRequestSerializer> HTTPRequestSerializer::decodeObject(const platform::ArchivedValue& value,
                                                                           std::optional<platform::Error>* error)
{
    ArchiveDecodingBudget budget;
    auto serializer = ArchivedClasses<HTTPRequestSerializer>::decode(
        value, [](HTTPRequestSerializer& made, const platform::ArchivedObject& coder) { return made.initWithCoder(coder); });
    if (!serializer && error) *error = URLObjectCoding::refusedArchive("request serializer", budget);
    return serializer;
}

std::shared_ptr<HTTPRequestSerializer> HTTPRequestSerializer::copy() const
{
    auto copied = std::make_shared<HTTPRequestSerializer>();
    copied->m_headers = m_headers;
    copied->m_queryStyle = m_queryStyle;
    copied->m_queryBlock = m_queryBlock;
    copied->randomSource = randomSource;
    return copied;
}

const std::array<std::string, 6>& HTTPRequestSerializer::HTTPRequestSerializerObservedKeyPaths()
{
    static const std::array<std::string, 6> keyPaths{"allowsCellularAccess",    "cachePolicy",
                                                     "HTTPShouldHandleCookies", "HTTPShouldUsePipelining",
                                                     "networkServiceType",      "timeoutInterval"};
    return keyPaths;
}

void HTTPRequestSerializer::setAllowsCellularAccess(bool allows)
{
    m_allowsCellularAccess = allows;
    markChanged("allowsCellularAccess");
}

void HTTPRequestSerializer::setCachePolicy(URLRequest::CachePolicy policy)
{
    m_cachePolicy = policy;
    markChanged("cachePolicy");
}

void HTTPRequestSerializer::setHTTPShouldHandleCookies(bool handles)
{
    m_HTTPShouldHandleCookies = handles;
    markChanged("HTTPShouldHandleCookies");
}

void HTTPRequestSerializer::setHTTPShouldUsePipelining(bool uses)
{
    m_HTTPShouldUsePipelining = uses;
    markChanged("HTTPShouldUsePipelining");
}

void HTTPRequestSerializer::setNetworkServiceType(std::uint64_t type)
{
    m_networkServiceType = type;
    markChanged("networkServiceType");
}

void HTTPRequestSerializer::setTimeoutInterval(double seconds)
{
    m_timeoutInterval = seconds;
    markChanged("timeoutInterval");
}

void HTTPRequestSerializer::setValue(const std::optional<std::string>& value, const std::string& field)
{
    if (!URLRequest::isSendableField(field, value.value_or(""))) throwInvalidParameter("header field without CR, LF or NUL");
    if (value) m_headers[field] = *value;
    else m_headers.erase(field);
}

std::optional<std::string> HTTPRequestSerializer::valueForHTTPHeaderField(const std::string& field) const
{
    auto found = m_headers.find(field);
    return found == m_headers.end() ? std::nullopt : std::optional<std::string>(found->second);
}

void HTTPRequestSerializer::setAuthorizationHeaderFieldWithUsername(const std::string& username, const std::string& password)
{
    m_headers["Authorization"] = "Basic " + Base64EncodedStringFromString(username + ":" + password);
}

void HTTPRequestSerializer::setAuthorizationHeaderFieldWithToken(const std::string& token)
{
    if (!URLRequest::isSendableField("Authorization", token)) throwInvalidParameter("token without CR, LF or NUL");
    m_headers["Authorization"] = "Token token=\"" + token + "\"";
}

void HTTPRequestSerializer::clearAuthorizationHeader()
{
    m_headers.erase("Authorization");
}

void HTTPRequestSerializer::setQueryStringSerializationWithStyle(std::uint64_t style)
{
    m_queryStyle = style;
    m_queryBlock = nullptr;
}

void HTTPRequestSerializer::setQueryStringSerializationWithBlock(QueryStringSerializationBlock block)
{
    m_queryBlock = std::move(block);
}

std::optional<URLRequest> HTTPRequestSerializer::requestWithMethod(const std::string& method, const std::string& URLString,
                                                                   const std::optional<ParameterValue>& parameters,
                                                                   std::optional<Error>* error)
{
    if (method.empty()) throwInvalidParameter("method");
    // The method starts the request line: a space or line break in it would end that line early.
    if (!URLRequest::isSendableMethod(method)) throwInvalidParameter("method without space, CR, LF or NUL");
    if (URLString.empty()) throwInvalidParameter("URLString");
    if (!URLStringParses(URLString)) throwInvalidParameter("url");
    URLRequest request(URLString);
    request.httpMethod = method;
    for (const std::string& keyPath : HTTPRequestSerializerObservedKeyPaths()) {
        if (!m_changedKeyPaths.contains(keyPath)) continue;
        if (keyPath == "allowsCellularAccess") request.allowsCellularAccess = m_allowsCellularAccess;
        else if (keyPath == "cachePolicy") request.cachePolicy = m_cachePolicy;
        else if (keyPath == "HTTPShouldHandleCookies") request.HTTPShouldHandleCookies = m_HTTPShouldHandleCookies;
        else if (keyPath == "HTTPShouldUsePipelining") request.HTTPShouldUsePipelining = m_HTTPShouldUsePipelining;
        else if (keyPath == "networkServiceType") request.networkServiceType = m_networkServiceType;
        else request.timeoutInterval = m_timeoutInterval;
    }
    return requestBySerializingRequest(request, parameters, error);
}

void HTTPRequestSerializer::addDefaultHeaders(URLRequest& request) const
{
    for (const auto& [field, value] : m_headers)
        if (!request.valueForHTTPHeaderField(field)) request.headerFields.emplace_back(field, value);
}

bool HTTPRequestSerializer::encodesParametersInURI(const URLRequest& request) const
{
    return HTTPMethodsEncodingParametersInURI.contains(upperCased(request.httpMethod));
}

std::optional<URLRequest> HTTPRequestSerializer::requestWithDocumentBody(const URLRequest& request,
                                                                         const std::optional<ParameterValue>& parameters,
                                                                         std::optional<Error>* error,
                                                                         const std::string& contentType,
                                                                         const DocumentWriter& write)
{
    if (encodesParametersInURI(request)) return HTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    URLRequest mutableRequest = request;
    addDefaultHeaders(mutableRequest);
    if (!parameters) return mutableRequest;
    if (!mutableRequest.valueForHTTPHeaderField("Content-Type"))
        mutableRequest.headerFields.emplace_back("Content-Type", contentType);
    Error writeError;
    if (std::optional<std::vector<std::uint8_t>> body = write(*parameters, writeError)) {
        mutableRequest.httpBody = std::move(*body);
    } else {
        // No body the request came with may go out under the new Content-Type.
        mutableRequest.httpBody.reset();
        mutableRequest.httpBodyStream.reset();
        if (error) *error = writeError;
    }
    return mutableRequest;
}

std::optional<URLRequest> HTTPRequestSerializer::requestBySerializingRequest(const URLRequest& request,
                                                                             const std::optional<ParameterValue>& parameters,
                                                                             std::optional<Error>* error)
{
    URLRequest mutableRequest = request;
    addDefaultHeaders(mutableRequest);
    if (!parameters) return mutableRequest;

    std::optional<std::string> query;
    if (m_queryBlock) {
        std::optional<Error> queryError;
        query = m_queryBlock(request, *parameters, &queryError);
        if (queryError) {
            if (error) *error = queryError;
            return std::nullopt;
        }
    } else if (m_queryStyle == 0) {
        query = QueryStringFromParametersWithEncoding(*parameters, stringEncoding);
        if (!query) {
            if (error)
                *error = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnencodable,
                                     "A parameter cannot be written in " + stringEncoding);
            return std::nullopt;
        }
    }
    // A style without an algorithm and without a callback has no query: nothing goes into the URL or body.
    if (!query) return mutableRequest;

    if (encodesParametersInURI(request)) {
        mutableRequest.url = URLWithQuery(request.url, *query);
        return mutableRequest;
    }
    if (!mutableRequest.valueForHTTPHeaderField("Content-Type"))
        mutableRequest.headerFields.emplace_back("Content-Type", "application/x-www-form-urlencoded");
    std::optional<std::vector<std::uint8_t>> body = platform::TextEncoding::encode(*query, stringEncoding);
    if (!body) {
        if (error)
            *error = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnencodable,
                                 "The query cannot be written in " + stringEncoding);
        return std::nullopt;
    }
    mutableRequest.httpBody = std::move(*body);
    return mutableRequest;
}

std::optional<URLRequest> HTTPRequestSerializer::multipartFormRequestWithMethod(
    const std::string& method, const std::string& URLString, const std::optional<ParameterValue>& parameters,
    const std::function<void(MultipartFormData& formData)>& block, std::optional<Error>* error)
{
    if (method.empty()) throwInvalidParameter("method");
    if (method == "GET" || method == "HEAD")
        throwInvalidParameter("![method isEqualToString:@\"GET\"] && ![method isEqualToString:@\"HEAD\"]");
    std::optional<URLRequest> request = requestWithMethod(method, URLString, std::nullopt, error);
    if (!request) return std::nullopt;
    StreamingMultipartFormData formData(*request, "UTF-8", randomSource);
    if (parameters) {
        for (const QueryStringPair& pair : QueryStringPairsFromDictionary(*parameters)) {
            std::optional<std::vector<std::uint8_t>> content;
            if (const std::vector<std::uint8_t>* data = pair.value.data()) content = *data;
            else if (pair.value.isNull()) content.emplace();
            else content = platform::TextEncoding::encode(pair.value.description(), stringEncoding);
            if (!content) {
                if (error)
                    *error = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnencodable,
                                         "The value of " + pair.field + " cannot be written in " + stringEncoding);
                return std::nullopt;
            }
            // The parameters may come from outside: a name no part can carry fails the request, not the caller.
            if (pair.field.empty() || !IsSendablePartName(pair.field)) {
                if (error)
                    *error = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnencodable,
                                         "A form field's name is empty or holds a line break or NUL and cannot be sent.");
                return std::nullopt;
            }
            formData.appendPartWithFormData(std::move(*content), pair.field);
        }
    }
    if (block) block(formData);
    return formData.requestByFinalizingMultipartFormData();
}

namespace {

// Copies the whole stream into the file; the first failure of either side is the outcome.
std::optional<Error> copyStream(platform::InputStream& input, platform::OutputStream& output)
{
    input.open();
    output.open();
    std::optional<Error> failure;
    std::uint8_t buffer[1024];
    while (!failure) {
        const std::int64_t count = input.read(buffer, sizeof buffer);
        if (count < 0 || input.streamStatus() == platform::StreamStatus::Error) {
            failure = input.streamError().value_or(Error::make(URLRequestSerializationErrorDomain,
                                                               URLRequestSerializationErrorIncompleteBody,
                                                               "The body stream failed"));
            break;
        }
        if (count == 0) break;
        for (std::int64_t written = 0; written < count && !failure;) {
            const std::int64_t step = output.write(buffer + written, static_cast<std::size_t>(count - written));
            if (step <= 0)
                failure = output.streamError().value_or(
                    platform::makeURLError(platform::URLErrorCannotWriteToFile, "", "The file took no more bytes"));
            else
                written += step;
        }
    }
    output.close();
    input.close();
    return failure;
}

}  // namespace

URLRequest HTTPRequestSerializer::requestWithMultipartFormRequest(platform::Dispatch& dispatch, const URLRequest& request,
                                                                  const std::string& fileURL,
                                                                  std::function<void(std::optional<Error>)> completionHandler)
{
    if (!request.httpBodyStream) throwInvalidParameter("request.HTTPBodyStream");
    const std::optional<std::string> path = FilePathFromFileURL(fileURL);
    if (!path) throwInvalidParameter("[fileURL isFileURL]");
    // Writing blocks on the disk, so it runs on a queue of its own rather than on a shared pool.
    std::shared_ptr<platform::SerialQueue> queue = dispatch.makeSerial("org.pexo.rigmora.httpclient.multipart-file");
    queue->async([&dispatch, input = request.httpBodyStream, path = *path,
                  completionHandler = std::move(completionHandler)]() mutable {
        platform::FileOutputStream output(path, false);
        std::optional<Error> failure = copyStream(*input, output);
        if (completionHandler)
            dispatch.main().async([completionHandler = std::move(completionHandler), failure] { completionHandler(failure); });
    });
    URLRequest copied = request;
    copied.httpBodyStream.reset();
    return copied;
}
