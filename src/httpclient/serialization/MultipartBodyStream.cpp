#include "httpclient/serialization/MultipartBodyStream.h"

#include <algorithm>
#include <chrono>
#include <thread>

using platform::StreamStatus;

std::unique_ptr<MultipartBodyStream> MultipartBodyStream::copy() const
{
    auto copied = std::make_unique<MultipartBodyStream>(m_stringEncoding);
    for (const auto& part : m_parts) copied->appendHTTPBodyPart(part->copy());
    copied->setInitialAndFinalBoundaries();
    return copied;
}

void MultipartBodyStream::appendHTTPBodyPart(std::unique_ptr<HTTPBodyPart> part)
{
    m_parts.push_back(std::move(part));
}

void MultipartBodyStream::setInitialAndFinalBoundaries()
{
    if (m_parts.empty()) return;
    for (auto& part : m_parts) part->hasInitialBoundary = part->hasFinalBoundary = false;
    m_parts.front()->hasInitialBoundary = true;
    m_parts.back()->hasFinalBoundary = true;
}

std::uint64_t MultipartBodyStream::contentLength() const
{
    std::uint64_t length = 0;
    for (const auto& part : m_parts) length += part->contentLength();
    return length;
}

void MultipartBodyStream::open()
{
    std::lock_guard lock(m_mutex);
    if (m_status == StreamStatus::Open) return;
    m_status = StreamStatus::Open;
    setInitialAndFinalBoundaries();
    m_nextPart = 0;
    m_currentPart = nullptr;
}

void MultipartBodyStream::close()
{
    std::lock_guard lock(m_mutex);
    m_status = StreamStatus::Closed;
}

std::int64_t MultipartBodyStream::read(std::uint8_t* buffer, std::size_t length)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_status == StreamStatus::Error) return -1;
        if (m_status != StreamStatus::Open) return 0;
    }
    std::size_t total = 0;
    const std::uint64_t limit = std::min<std::uint64_t>(length, std::max<std::uint64_t>(numberOfBytesInPacket, 1));
    while (total < limit) {
        if (!m_currentPart || !m_currentPart->hasBytesAvailable()) {
            if (m_nextPart == m_parts.size()) {
                std::lock_guard lock(m_mutex);
                if (total == 0 && m_status == StreamStatus::Open) m_status = StreamStatus::AtEnd;
                break;
            }
            m_currentPart = m_parts[m_nextPart++].get();
            continue;
        }
        const std::int64_t count = m_currentPart->read(buffer + total, length - total);
        if (count < 0) {
            std::lock_guard lock(m_mutex);
            m_error = m_currentPart->error();
            m_status = StreamStatus::Error;
            return -1;
        }
        total += static_cast<std::size_t>(count);
        if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    }
    return static_cast<std::int64_t>(total);
}

bool MultipartBodyStream::hasBytesAvailable() const
{
    std::lock_guard lock(m_mutex);
    return m_status == StreamStatus::Open;
}

StreamStatus MultipartBodyStream::streamStatus() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

std::optional<platform::Error> MultipartBodyStream::streamError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}
