#include "httpclient/serialization/HTTPBodyPart.h"

#include <algorithm>
#include <cstring>

#include "httpclient/serialization/URLRequestSerialization.h"
#include "platform/text/TextEncoding.h"
#include "platform/url/DataInputStream.h"
#include "platform/url/FileInputStream.h"

using platform::Error;

HTTPBodyPart::HTTPBodyPart(std::string encoding, HeaderFields headerFields, std::string partBoundary, Body content,
                           std::uint64_t length)
    : stringEncoding(std::move(encoding)),
      headers(std::move(headerFields)),
      boundary(std::move(partBoundary)),
      body(std::move(content)),
      bodyContentLength(length)
{
}

HTTPBodyPart::~HTTPBodyPart()
{
    if (m_inputStream) m_inputStream->close();
}

std::unique_ptr<HTTPBodyPart> HTTPBodyPart::copy() const
{
    auto copied = std::make_unique<HTTPBodyPart>(stringEncoding, headers, boundary, body, bodyContentLength);
    copied->hasInitialBoundary = hasInitialBoundary;
    copied->hasFinalBoundary = hasFinalBoundary;
    return copied;
}

std::vector<std::uint8_t> HTTPBodyPart::encoded(const std::string& text) const
{
    // Boundaries and header names are ASCII; a header value the character set cannot hold goes as UTF-8.
    return platform::TextEncoding::encode(text, stringEncoding).value_or(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string HTTPBodyPart::stringForHeaders() const
{
    std::string text;
    for (const auto& [field, value] : headers) text += field + ": " + value + kMultipartFormCRLF;
    return text + kMultipartFormCRLF;
}

std::uint64_t HTTPBodyPart::contentLength() const
{
    const std::string opening = hasInitialBoundary ? MultipartFormInitialBoundary(boundary)
                                                   : MultipartFormEncapsulationBoundary(boundary);
    std::uint64_t length = encoded(opening).size() + encoded(stringForHeaders()).size() + bodyContentLength;
    if (hasFinalBoundary) length += encoded(MultipartFormFinalBoundary(boundary)).size();
    return length;
}

bool HTTPBodyPart::hasBytesAvailable() const
{
    return !m_finished && !m_error;
}

std::shared_ptr<platform::InputStream> HTTPBodyPart::inputStream()
{
    if (!m_inputStream) {
        if (const auto* data = std::get_if<std::vector<std::uint8_t>>(&body))
            m_inputStream = std::make_shared<platform::DataInputStream>(*data);
        else if (const auto* file = std::get_if<FileBody>(&body))
            m_inputStream = std::make_shared<platform::FileInputStream>(file->path);
        else if (const auto* stream = std::get_if<std::shared_ptr<platform::InputStream>>(&body); stream && *stream)
            m_inputStream = *stream;
        else
            m_inputStream = std::make_shared<platform::DataInputStream>(std::vector<std::uint8_t>());
    }
    return m_inputStream;
}

std::int64_t HTTPBodyPart::read(std::uint8_t* buffer, std::size_t length)
{
    if (!hasBytesAvailable()) return m_error ? -1 : 0;
    // Whoever made the part, a header that would add lines to it never reaches the body.
    if (m_phase == EncapsulationBoundaryPhase && m_phaseReadOffset == 0)
        for (const auto& [field, value] : headers)
            if (!platform::URLRequest::isSendableField(field, value)) {
                m_error = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnencodable,
                                      "A part's header holds a line break or NUL and cannot be sent");
                return -1;
            }
    std::size_t total = 0;
    if (m_phase == EncapsulationBoundaryPhase)
        total += readData(encoded(hasInitialBoundary ? MultipartFormInitialBoundary(boundary)
                                                     : MultipartFormEncapsulationBoundary(boundary)),
                          buffer + total, length - total);
    if (m_phase == HeaderPhase) total += readData(encoded(stringForHeaders()), buffer + total, length - total);
    if (m_phase == BodyPhase) {
        const std::int64_t count = readBody(buffer + total, length - total);
        if (count < 0) return -1;
        total += static_cast<std::size_t>(count);
    }
    if (m_phase == FinalBoundaryPhase)
        total += readData(hasFinalBoundary ? encoded(MultipartFormFinalBoundary(boundary)) : std::vector<std::uint8_t>(),
                          buffer + total, length - total);
    return static_cast<std::int64_t>(total);
}

std::int64_t HTTPBodyPart::readBody(std::uint8_t* buffer, std::size_t room)
{
    const std::uint64_t remaining = bodyContentLength - m_bodyRead;
    if (remaining == 0) {
        transitionToNextPhase();
        return 0;
    }
    if (room == 0) return 0;
    const std::shared_ptr<platform::InputStream> stream = inputStream();
    const std::int64_t count = stream->read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(room, remaining)));
    if (count <= 0) {
        m_error = count < 0 ? stream->streamError() : std::nullopt;
        if (!m_error)
            m_error = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorIncompleteBody,
                                  "A part's content ended " + std::to_string(remaining) + " bytes before its declared length");
        stream->close();
        return -1;
    }
    m_bodyRead += static_cast<std::uint64_t>(count);
    if (m_bodyRead == bodyContentLength) transitionToNextPhase();
    return count;
}

std::size_t HTTPBodyPart::readData(const std::vector<std::uint8_t>& text, std::uint8_t* buffer, std::size_t room)
{
    const std::size_t count = std::min<std::size_t>(text.size() - m_phaseReadOffset, room);
    if (count > 0) std::memcpy(buffer, text.data() + m_phaseReadOffset, count);
    m_phaseReadOffset += count;
    if (m_phaseReadOffset >= text.size()) transitionToNextPhase();
    return count;
}

void HTTPBodyPart::transitionToNextPhase()
{
    switch (m_phase) {
    case EncapsulationBoundaryPhase: m_phase = HeaderPhase; break;
    case HeaderPhase:
        m_phase = BodyPhase;
        inputStream()->open();
        break;
    case BodyPhase:
        m_phase = FinalBoundaryPhase;
        inputStream()->close();
        break;
    case FinalBoundaryPhase:
        m_phase = EncapsulationBoundaryPhase;
        m_finished = true;
        break;
    }
    m_phaseReadOffset = 0;
}
