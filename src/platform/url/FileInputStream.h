#pragma once

#include <string>

#include "platform/url/InputStream.h"

namespace platform {

// Reads a file from its start. A file that cannot be opened or read fails the stream with the system's error.
class FileInputStream final : public InputStream {
public:
    explicit FileInputStream(std::string path) : m_path(std::move(path)) {}
    ~FileInputStream() override;

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t* buffer, std::size_t length) override;
    bool hasBytesAvailable() const override;
    StreamStatus streamStatus() const override { return m_status; }
    std::optional<Error> streamError() const override { return m_error; }
    std::shared_ptr<InputStream> copyInputStream() const override { return std::make_shared<FileInputStream>(m_path); }

private:
    void fail(int errorNumber, const char* what);

    std::string m_path;
    int m_fd = -1;
    StreamStatus m_status = StreamStatus::NotOpen;
    std::optional<Error> m_error;
};

}  // namespace platform
