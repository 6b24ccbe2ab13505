#pragma once

#include <vector>

#include "platform/url/InputStream.h"

namespace platform {

// Reads bytes held in memory.
class DataInputStream final : public InputStream {
public:
    explicit DataInputStream(std::vector<std::uint8_t> data) : m_data(std::move(data)) {}

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t* buffer, std::size_t length) override;
    bool hasBytesAvailable() const override;
    StreamStatus streamStatus() const override { return m_status; }
    std::optional<Error> streamError() const override { return std::nullopt; }
    std::shared_ptr<InputStream> copyInputStream() const override { return std::make_shared<DataInputStream>(m_data); }

private:
    std::vector<std::uint8_t> m_data;
    std::size_t m_offset = 0;
    StreamStatus m_status = StreamStatus::NotOpen;
};

}  // namespace platform
