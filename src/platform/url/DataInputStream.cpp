#include "platform/url/DataInputStream.h"

#include <algorithm>
#include <cstring>

namespace platform {

void DataInputStream::open()
{
    if (m_status == StreamStatus::NotOpen)
        m_status = m_data.empty() ? StreamStatus::AtEnd : StreamStatus::Open;
}

void DataInputStream::close()
{
    m_status = StreamStatus::Closed;
}

std::int64_t DataInputStream::read(std::uint8_t* buffer, std::size_t length)
{
    if (m_status != StreamStatus::Open)
        return 0;
    const std::size_t count = std::min(length, m_data.size() - m_offset);
    if (count > 0)
        std::memcpy(buffer, m_data.data() + m_offset, count);
    m_offset += count;
    if (m_offset == m_data.size())
        m_status = StreamStatus::AtEnd;
    return static_cast<std::int64_t>(count);
}

bool DataInputStream::hasBytesAvailable() const
{
    return m_status == StreamStatus::Open;
}

}  // namespace platform
