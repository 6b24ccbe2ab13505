#pragma once

#include <mutex>

#include "platform/url/OutputStream.h"

namespace platform {

// Collects what is written in memory.
class MemoryOutputStream final : public OutputStream {
public:
    void open() override;
    void close() override;
    bool hasSpaceAvailable() const override;
    std::int64_t write(const std::uint8_t* buffer, std::size_t length) override;
    std::optional<Error> streamError() const override;
    std::optional<Bytes> dataWrittenToMemory() const override;

private:
    enum class Status { NotOpen, Open, Closed };
    mutable std::mutex m_mutex;
    Status m_status = Status::NotOpen;
    Bytes m_data;
};

}  // namespace platform
