#include "platform/url/FileInputStream.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/url/URLError.h"

namespace platform {

FileInputStream::~FileInputStream()
{
    close();
}

void FileInputStream::fail(int errorNumber, const char* what)
{
    m_error = makePOSIXError(errorNumber, std::string(what) + " " + m_path);
    m_status = StreamStatus::Error;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void FileInputStream::open()
{
    if (m_status != StreamStatus::NotOpen)
        return;
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return fail(errno, "cannot open");
    m_status = StreamStatus::Open;
}

void FileInputStream::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_status != StreamStatus::Error)
        m_status = StreamStatus::Closed;
}

std::int64_t FileInputStream::read(std::uint8_t* buffer, std::size_t length)
{
    if (m_status == StreamStatus::Error)
        return -1;
    if (m_status != StreamStatus::Open)
        return 0;
    ssize_t count;
    do
        count = ::read(m_fd, buffer, length);
    while (count < 0 && errno == EINTR);
    if (count < 0) {
        fail(errno, "cannot read");
        return -1;
    }
    if (count == 0 && length > 0)
        m_status = StreamStatus::AtEnd;
    return count;
}

bool FileInputStream::hasBytesAvailable() const
{
    return m_status == StreamStatus::Open;
}

}  // namespace platform
