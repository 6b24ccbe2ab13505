#pragma once

#include "httpclient/HTTPResponseSerializer.h"

// Parses JSON bodies (application/json, text/json, text/javascript) into a JSON value.
class JSONResponseSerializer : public HTTPResponseSerializer {
public:
    static constexpr std::uint64_t kJSONReadingMutableContainers = 1;
    static constexpr std::uint64_t kJSONReadingAllowFragments = 4;
    // Deeper documents are refused before they are parsed, so no walk over one can exhaust the stack.
    static constexpr int kMaxDepth = 512;
    static constexpr std::size_t kMaxBodyBytes = 32u << 20;

    JSONResponseSerializer();
    static std::shared_ptr<JSONResponseSerializer> serializer() { return serializerWithReadingOptions(0); }
    static std::shared_ptr<JSONResponseSerializer> serializerWithReadingOptions(std::uint64_t readingOptions);
    std::shared_ptr<HTTPResponseSerializer> copy() const override;
    const char* archivedClassName() const override { return "JSONResponseSerializer"; }
    void encodeWithCoder(platform::ArchivedObject& coder) const override;
    bool initWithCoder(const platform::ArchivedObject& coder) override;

    bool removesKeysWithNullValues = false;
    // Without kJSONReadingAllowFragments only an object or an array is a document.
    std::uint64_t readingOptions = 0;

    // A nlohmann::json, or nothing.
    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};
