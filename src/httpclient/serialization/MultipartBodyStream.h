#pragma once

#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "httpclient/serialization/HTTPBodyPart.h"

// The body stream of a multipart request: reads its parts one after another, by pulling only. A part
// that fails fails the read (-1) and leaves its error in streamError(), so a body is never sent short of
// its Content-Length as if it were complete.
class MultipartBodyStream final : public platform::InputStream {
public:
    explicit MultipartBodyStream(std::string stringEncoding) : m_stringEncoding(std::move(stringEncoding)) {}
    // A fresh stream over copies of the parts; throttling, status and error are not carried.
    std::unique_ptr<MultipartBodyStream> copy() const;

    // One read call stops asking further parts once it holds this many bytes.
    std::uint64_t numberOfBytesInPacket = std::numeric_limits<std::int64_t>::max();
    // Seconds the reading thread pauses after each part read.
    double delay = 0;

    void appendHTTPBodyPart(std::unique_ptr<HTTPBodyPart> part);
    // Marks the first part as opening the body and the last as closing it.
    void setInitialAndFinalBoundaries();
    bool isEmpty() const { return m_parts.empty(); }
    std::uint64_t contentLength() const;

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t* buffer, std::size_t length) override;
    bool hasBytesAvailable() const override;
    platform::StreamStatus streamStatus() const override;
    std::optional<platform::Error> streamError() const override;
    // The copy above; a part read from a stream of its own shares that stream, so a copy made after it
    // was read fails as an incomplete body rather than sending a short one.
    std::shared_ptr<platform::InputStream> copyInputStream() const override { return copy(); }

private:
    std::string m_stringEncoding;
    std::vector<std::unique_ptr<HTTPBodyPart>> m_parts;
    std::size_t m_nextPart = 0;
    HTTPBodyPart* m_currentPart = nullptr;
    mutable std::mutex m_mutex;
    platform::StreamStatus m_status = platform::StreamStatus::NotOpen;
    std::optional<platform::Error> m_error;
};
