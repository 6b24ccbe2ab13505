#include "platform/url/MemoryOutputStream.h"

#include <algorithm>
#include <utility>

#include "platform/url/URLError.h"

namespace platform {

void MemoryOutputStream::open()
{
    std::lock_guard lock(m_mutex);
    if (m_status == Status::NotOpen) m_status = Status::Open;
}

void MemoryOutputStream::close()
{
    std::lock_guard lock(m_mutex);
    if (m_status != Status::Failed) m_status = Status::Closed;
}

void MemoryOutputStream::setMaximumLength(std::uint64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_maximumLength = bytes;
}

void MemoryOutputStream::expectLength(std::uint64_t length)
{
    std::lock_guard lock(m_mutex);
    // Only a bounded stream makes room, and only as much as it may hold: an announced length is the
    // server's word, and one announcing more fails at the write that crosses the limit.
    if (!m_maximumLength) return;
    const std::uint64_t room = std::min<std::uint64_t>(*m_maximumLength, m_data.size() + std::min(length, *m_maximumLength));
    if (room > m_data.capacity()) m_data.reserve(static_cast<std::size_t>(room));
}

bool MemoryOutputStream::hasSpaceAvailable() const
{
    std::lock_guard lock(m_mutex);
    return m_status == Status::Open;
}

std::int64_t MemoryOutputStream::write(const std::uint8_t* buffer, std::size_t length)
{
    std::lock_guard lock(m_mutex);
    if (m_status != Status::Open) return -1;
    if (m_maximumLength && length > *m_maximumLength - std::min<std::uint64_t>(m_data.size(), *m_maximumLength)) {
        m_status = Status::Failed;
        m_error = makeURLError(URLErrorDataLengthExceedsMaximum, {}, "The download is larger than its size limit.");
        return -1;
    }
    m_data.insert(m_data.end(), buffer, buffer + length);
    return static_cast<std::int64_t>(length);
}

std::optional<Error> MemoryOutputStream::streamError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::optional<Bytes> MemoryOutputStream::dataWrittenToMemory() const
{
    std::lock_guard lock(m_mutex);
    return m_data;
}

std::optional<Bytes> MemoryOutputStream::takeDataWrittenToMemory()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_data, Bytes{});
}

}  // namespace platform
