#include "platform/url/MemoryOutputStream.h"

namespace platform {

void MemoryOutputStream::open()
{
    std::lock_guard lock(m_mutex);
    if (m_status == Status::NotOpen) m_status = Status::Open;
}

void MemoryOutputStream::close()
{
    std::lock_guard lock(m_mutex);
    m_status = Status::Closed;
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
    m_data.insert(m_data.end(), buffer, buffer + length);
    return static_cast<std::int64_t>(length);
}

std::optional<Error> MemoryOutputStream::streamError() const
{
    return std::nullopt;
}

std::optional<Bytes> MemoryOutputStream::dataWrittenToMemory() const
{
    std::lock_guard lock(m_mutex);
    return m_data;
}

}  // namespace platform
