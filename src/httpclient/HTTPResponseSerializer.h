#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "httpclient/URLResponseSerialization.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/Localizer.h"
#include "platform/plist/ArchivedValue.h"

inline constexpr const char* URLResponseSerializationErrorDomain = "org.pexo.rigmora.httpclient.response";
inline constexpr const char* URLResponseSerializationFailingResponseErrorKey = "org.pexo.rigmora.httpclient.response.failing-response";
inline constexpr const char* URLResponseSerializationFailingDataErrorKey = "org.pexo.rigmora.httpclient.response.failing-data";

// The HTTP layer's own strings table in the main bundle. Its keys are the English formats themselves, so
// a text without a translation shows as written.
inline constexpr const char* kHTTPClientStringsTable = "HTTPClient";
platform::Localizer loadHTTPClientTexts(const platform::Bundle& bundle, const std::string& language);
// The HTTP layer's texts in the interface language, loaded once per process.
const platform::Localizer& HTTPClientTexts();

// Accepts an HTTP response whose status is acceptable (200-299 by default) and, when a set of MIME types
// is given, whose type is in it; passes the body through unchanged.
class HTTPResponseSerializer : public URLResponseSerialization {
public:
    HTTPResponseSerializer();
    static std::shared_ptr<HTTPResponseSerializer> serializer();
    virtual std::shared_ptr<HTTPResponseSerializer> copy() const;

    // Keyed archiving: the fields go under their names after the base class's; decoding makes a fresh
    // serializer of the class the archive names (one of this program's response serializers), which then
    // reads its fields over its defaults. An archive of another class, or with a field of the wrong kind,
    // is refused.
    static bool supportsSecureCoding() { return true; }
    virtual const char* archivedClassName() const { return "HTTPResponseSerializer"; }
    virtual void encodeWithCoder(platform::ArchivedObject& coder) const;
    virtual bool initWithCoder(const platform::ArchivedObject& coder);
    std::shared_ptr<platform::ArchivedObject> archivedObject() const;
    static std::shared_ptr<HTTPResponseSerializer> decodeObject(const platform::ArchivedValue& value,
                                                                std::optional<platform::Error>* error = nullptr);

    std::string stringEncoding = "UTF-8";
    // Nothing disables the check.
    std::optional<std::set<std::int64_t>> acceptableStatusCodes;
    std::optional<std::set<std::string>> acceptableContentTypes;

    // True when acceptable; otherwise the reason goes to the out-parameter.
    virtual bool validateResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                  std::optional<platform::Error>* error);
    // The body (empty when there is none), whether or not the response was acceptable.
    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};

// The error with the underlying one beneath it, unless either is missing or the error already has one.
std::optional<platform::Error> ErrorWithUnderlyingError(const std::optional<platform::Error>& error,
                                                        const std::optional<platform::Error>& underlyingError);
