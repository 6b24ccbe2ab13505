#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "httpclient/serialization/URLRequestSerialization.h"
#include "platform/plist/ArchivedValue.h"
#include "platform/bundle/ProcessInfo.h"

namespace platform {
class Dispatch;
}
class MultipartFormData;

// Builds requests from a method, a URL and parameters: default header fields on every request, the
// request properties the caller has set, and the parameters in the URL's query or in a form body.
// Configure it first, then use it; it holds no lock. Broken preconditions (a missing method or URL, a URL
// that does not parse) throw std::invalid_argument with "Invalid parameter not satisfying: ...".
class HTTPRequestSerializer : public URLRequestSerialization {
public:
    using QueryStringSerializationBlock = std::function<std::optional<std::string>(
        const platform::URLRequest& request, const ParameterValue& parameters, std::optional<platform::Error>* error)>;
    using RandomSource = std::function<std::uint32_t()>;

    // The Accept-Language and User-Agent fields come from the process described.
    explicit HTTPRequestSerializer(const platform::ProcessInfo& process = platform::ProcessInfo::current());
    static std::shared_ptr<HTTPRequestSerializer> serializer();
    // Carries the default header fields, the query style and callback, and the random source; the
    // request properties, character set and methods start as in a new serializer.
    virtual std::shared_ptr<HTTPRequestSerializer> copy() const;

    // Keyed archiving of the default header fields and the query style (and a subclass's own fields
    // after them); decoding makes a fresh serializer of the class the archive names, one of this
    // program's request serializers, and refuses any other archive.
    static bool supportsSecureCoding() { return true; }
    virtual const char* archivedClassName() const { return "HTTPRequestSerializer"; }
    virtual void encodeWithCoder(platform::ArchivedObject& coder) const;
    virtual bool initWithCoder(const platform::ArchivedObject& coder);
    std::shared_ptr<platform::ArchivedObject> archivedObject() const;
    static std::shared_ptr<HTTPRequestSerializer> decodeObject(const platform::ArchivedValue& value,
                                                               std::optional<platform::Error>* error = nullptr);

    // The six request properties copied onto a request once they were set, even back to their old value.
    static const std::array<std::string, 6>& HTTPRequestSerializerObservedKeyPaths();
    const std::set<std::string>& observedChangedKeyPaths() const { return m_changedKeyPaths; }
    bool allowsCellularAccess() const { return m_allowsCellularAccess; }
    void setAllowsCellularAccess(bool allows);
    platform::URLRequest::CachePolicy cachePolicy() const { return m_cachePolicy; }
    void setCachePolicy(platform::URLRequest::CachePolicy policy);
    bool HTTPShouldHandleCookies() const { return m_HTTPShouldHandleCookies; }
    void setHTTPShouldHandleCookies(bool handles);
    bool HTTPShouldUsePipelining() const { return m_HTTPShouldUsePipelining; }
    void setHTTPShouldUsePipelining(bool uses);
    std::uint64_t networkServiceType() const { return m_networkServiceType; }
    void setNetworkServiceType(std::uint64_t type);
    double timeoutInterval() const { return m_timeoutInterval; }
    void setTimeoutInterval(double seconds);

    // The character set of query strings and text form values (an IANA name).
    std::string stringEncoding = "UTF-8";
    // Methods, compared after upper-casing the request's, whose parameters go into the URL.
    std::set<std::string> HTTPMethodsEncodingParametersInURI{"GET", "HEAD", "DELETE"};
    // Boundaries of multipart forms are drawn from it.
    RandomSource randomSource;

    std::map<std::string, std::string> HTTPRequestHeaders() const { return m_headers; }
    // Nothing removes the field. A name or value holding CR, LF or NUL throws (see above): it would end
    // the header line early and pass the rest off as fields of its own.
    void setValue(const std::optional<std::string>& value, const std::string& field);
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    void setAuthorizationHeaderFieldWithUsername(const std::string& username, const std::string& password);
    void setAuthorizationHeaderFieldWithToken(const std::string& token);
    void clearAuthorizationHeader();

    // Only style 0 has a built-in algorithm; setting a style drops the callback.
    std::uint64_t queryStringSerializationStyle() const { return m_queryStyle; }
    void setQueryStringSerializationWithStyle(std::uint64_t style);
    void setQueryStringSerializationWithBlock(QueryStringSerializationBlock block);

    // Nothing, with the error set, when the parameters cannot be serialized.
    std::optional<platform::URLRequest> requestWithMethod(const std::string& method, const std::string& URLString,
                                                          const std::optional<ParameterValue>& parameters,
                                                          std::optional<platform::Error>* error = nullptr);
    std::optional<platform::URLRequest> requestBySerializingRequest(const platform::URLRequest& request,
                                                                    const std::optional<ParameterValue>& parameters,
                                                                    std::optional<platform::Error>* error) override;

    // A request whose body streams the parameters (as form fields) and the parts the block appends. A
    // parameter whose name is empty or holds CR, LF or NUL fails the request with the error set.
    std::optional<platform::URLRequest> multipartFormRequestWithMethod(
        const std::string& method, const std::string& URLString, const std::optional<ParameterValue>& parameters,
        const std::function<void(MultipartFormData& formData)>& block, std::optional<platform::Error>* error = nullptr);
    // Copies the request's body stream into the file on a queue of its own and returns the request
    // without the stream (its Content-Type and Content-Length kept); the handler runs on the main queue
    // with the first read or write error, or nothing when every byte was written.
    // Throws when the request has no body stream or the URL is no file URL.
    platform::URLRequest requestWithMultipartFormRequest(platform::Dispatch& dispatch, const platform::URLRequest& request,
                                                         const std::string& fileURL,
                                                         std::function<void(std::optional<platform::Error>)> completionHandler);

protected:
    // The default header fields that the request does not carry yet.
    void addDefaultHeaders(platform::URLRequest& request) const;
    bool encodesParametersInURI(const platform::URLRequest& request) const;
    using DocumentWriter = std::function<std::optional<std::vector<std::uint8_t>>(const ParameterValue&, platform::Error&)>;
    // The parameters as a document in the body, for the methods that do not put them into the URL. A
    // document that cannot be written leaves the request without body and sets the error.
    std::optional<platform::URLRequest> requestWithDocumentBody(const platform::URLRequest& request,
                                                                const std::optional<ParameterValue>& parameters,
                                                                std::optional<platform::Error>* error,
                                                                const std::string& contentType, const DocumentWriter& write);

private:
    void markChanged(const std::string& keyPath) { m_changedKeyPaths.insert(keyPath); }

    bool m_allowsCellularAccess = false;
    bool m_HTTPShouldHandleCookies = false;
    bool m_HTTPShouldUsePipelining = false;
    platform::URLRequest::CachePolicy m_cachePolicy = platform::URLRequest::UseProtocolCachePolicy;
    std::uint64_t m_networkServiceType = 0;
    double m_timeoutInterval = 0;
    std::set<std::string> m_changedKeyPaths;
    std::map<std::string, std::string> m_headers;
    std::uint64_t m_queryStyle = 0;
    QueryStringSerializationBlock m_queryBlock;
};

// Whether the text is a URL as the loading layer takes one: a scheme, and only characters legal in a URL,
// percent signs starting an escape. requestWithMethod refuses any other text.
bool URLStringParses(const std::string& text);

// "Invalid parameter not satisfying: <condition>" as std::invalid_argument.
[[noreturn]] void throwInvalidParameter(const std::string& condition);
