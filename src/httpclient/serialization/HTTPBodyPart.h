#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "httpclient/serialization/MultipartFormData.h"

// One part of a multipart body, produced phase by phase on the thread that reads it: its opening
// boundary, its header block, exactly `bodyContentLength` bytes of content and, for the last part, the
// final boundary. Content that ends before its declared length fails the part.
class HTTPBodyPart {
public:
    struct FileBody {
        std::string path;
    };
    using Body = std::variant<std::monostate, std::vector<std::uint8_t>, FileBody, std::shared_ptr<platform::InputStream>>;
    enum Phase : std::int32_t { EncapsulationBoundaryPhase = 1, HeaderPhase = 2, BodyPhase = 3, FinalBoundaryPhase = 4 };

    HTTPBodyPart(std::string stringEncoding, HeaderFields headers, std::string boundary, Body body,
                 std::uint64_t bodyContentLength);
    ~HTTPBodyPart();
    HTTPBodyPart(const HTTPBodyPart&) = delete;
    HTTPBodyPart& operator=(const HTTPBodyPart&) = delete;
    // The same part from its first phase; a stream body is shared, not rewound.
    std::unique_ptr<HTTPBodyPart> copy() const;

    bool hasInitialBoundary = false;
    bool hasFinalBoundary = false;
    const std::string stringEncoding;
    const HeaderFields headers;
    const std::string boundary;
    const Body body;
    const std::uint64_t bodyContentLength;

    std::string stringForHeaders() const;
    std::uint64_t contentLength() const;
    // False once the part has been read through or has failed.
    bool hasBytesAvailable() const;
    // Bytes produced into the buffer, or -1 when the content failed (see error()).
    std::int64_t read(std::uint8_t* buffer, std::size_t length);
    std::optional<platform::Error> error() const { return m_error; }
    Phase phase() const { return m_phase; }

private:
    std::vector<std::uint8_t> encoded(const std::string& text) const;
    std::shared_ptr<platform::InputStream> inputStream();
    std::size_t readData(const std::vector<std::uint8_t>& text, std::uint8_t* buffer, std::size_t room);
    std::int64_t readBody(std::uint8_t* buffer, std::size_t room);
    void transitionToNextPhase();

    Phase m_phase = EncapsulationBoundaryPhase;
    std::uint64_t m_phaseReadOffset = 0;
    std::uint64_t m_bodyRead = 0;
    bool m_finished = false;
    std::shared_ptr<platform::InputStream> m_inputStream;
    std::optional<platform::Error> m_error;
};
