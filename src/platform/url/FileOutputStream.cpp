#include "platform/url/FileOutputStream.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/url/URLError.h"

namespace platform {

FileOutputStream::FileOutputStream(std::string path, bool append) : m_path(std::move(path)), m_append(append) {}

FileOutputStream::~FileOutputStream()
{
    close();
}

void FileOutputStream::fail(int errorNumber, const char* what)
{
    m_status = Status::Failed;
    m_error = makePOSIXError(errorNumber, std::string(what) + " " + m_path);
}

void FileOutputStream::open()
{
    std::lock_guard lock(m_mutex);
    if (m_status != Status::NotOpen) return;
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (m_append ? O_APPEND : O_TRUNC);
    m_fd = ::open(m_path.c_str(), flags, 0644);
    if (m_fd < 0) return fail(errno, "cannot open");
    m_status = Status::Open;
    if (m_append) {
        const off_t end = ::lseek(m_fd, 0, SEEK_END);
        m_offset = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
}

void FileOutputStream::close()
{
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) {
        if (::close(m_fd) != 0 && m_status == Status::Open) fail(errno, "cannot close");
        m_fd = -1;
    }
    if (m_status == Status::Open || m_status == Status::NotOpen) m_status = Status::Closed;
}

bool FileOutputStream::hasSpaceAvailable() const
{
    std::lock_guard lock(m_mutex);
    return m_status == Status::Open;
}

void FileOutputStream::setMaximumLength(std::uint64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_maximumLength = bytes;
}

std::int64_t FileOutputStream::write(const std::uint8_t* buffer, std::size_t length)
{
    std::lock_guard lock(m_mutex);
    if (m_status != Status::Open) return -1;
    if (m_maximumLength && length > *m_maximumLength - std::min(m_offset, *m_maximumLength)) {
        m_status = Status::Failed;
        m_error = makeURLError(URLErrorDataLengthExceedsMaximum, {}, "The download is larger than its size limit.");
        return -1;
    }
    ssize_t written;
    do {
        written = ::write(m_fd, buffer, length);
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        fail(errno, "cannot write");
        return -1;
    }
    m_offset += static_cast<std::uint64_t>(written);
    return written;
}

std::optional<Error> FileOutputStream::streamError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::optional<std::uint64_t> FileOutputStream::fileCurrentOffset() const
{
    std::lock_guard lock(m_mutex);
    if (m_status == Status::NotOpen) return std::nullopt;
    return m_offset;
}

}  // namespace platform
