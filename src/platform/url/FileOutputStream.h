#pragma once

#include <mutex>
#include <string>

#include "platform/url/OutputStream.h"

namespace platform {

// Writes to a file, replacing it (or appending to it) when opened.
class FileOutputStream final : public OutputStream {
public:
    FileOutputStream(std::string path, bool append);
    ~FileOutputStream() override;

    void open() override;
    void close() override;
    bool hasSpaceAvailable() const override;
    std::int64_t write(const std::uint8_t* buffer, std::size_t length) override;
    std::optional<Error> streamError() const override;
    std::optional<std::uint64_t> fileCurrentOffset() const override;

    const std::string& path() const { return m_path; }
    // A write that would take the file beyond this many bytes fails the stream instead.
    void setMaximumLength(std::uint64_t bytes);

private:
    enum class Status { NotOpen, Open, Closed, Failed };
    void fail(int errorNumber, const char* what);

    std::string m_path;
    bool m_append;
    mutable std::mutex m_mutex;
    Status m_status = Status::NotOpen;
    int m_fd = -1;
    std::uint64_t m_offset = 0;
    std::optional<std::uint64_t> m_maximumLength;
    std::optional<Error> m_error;
};

}  // namespace platform
