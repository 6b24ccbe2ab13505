#pragma once

#include <functional>

#include "httpclient/serialization/MultipartBodyStream.h"
#include "platform/url/URLRequest.h"

// Collects the parts of a multipart form and puts them into its request as a body stream.
class StreamingMultipartFormData final : public MultipartFormData {
public:
    StreamingMultipartFormData(const platform::URLRequest& request, std::string stringEncoding,
                               const std::function<std::uint32_t()>& random);

    const std::string& boundary() const { return m_boundary; }
    const std::shared_ptr<MultipartBodyStream>& bodyStream() const { return m_bodyStream; }

    bool appendPartWithFileURL(const std::string& fileURL, const std::string& name,
                               std::optional<platform::Error>* error) override;
    bool appendPartWithFileURL(const std::string& fileURL, const std::string& name, const std::string& fileName,
                               const std::string& mimeType, std::optional<platform::Error>* error) override;
    void appendPartWithInputStream(std::shared_ptr<platform::InputStream> inputStream, const std::string& name,
                                   const std::string& fileName, std::int64_t length, const std::string& mimeType) override;
    void appendPartWithFileData(std::vector<std::uint8_t> data, const std::string& name, const std::string& fileName,
                                const std::string& mimeType) override;
    void appendPartWithFormData(std::vector<std::uint8_t> data, const std::string& name) override;
    void appendPartWithHeaders(HeaderFields headers, std::vector<std::uint8_t> body) override;
    void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) override;

    // The request with the body stream, its Content-Type and Content-Length; untouched without parts.
    platform::URLRequest requestByFinalizingMultipartFormData();

private:
    void append(HeaderFields headers, HTTPBodyPart::Body body, std::uint64_t length);

    platform::URLRequest m_request;
    std::string m_stringEncoding;
    std::string m_boundary;
    std::shared_ptr<MultipartBodyStream> m_bodyStream;
};
