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
    std::optional<Bytes> takeDataWrittenToMemory() override;
    void expectLength(std::uint64_t length) override;

    // A write that would hold more than this many bytes fails the stream instead.
    void setMaximumLength(std::uint64_t bytes);

private:
    enum class Status { NotOpen, Open, Closed, Failed };
    mutable std::mutex m_mutex;
    Status m_status = Status::NotOpen;
    Bytes m_data;
    std::optional<std::uint64_t> m_maximumLength;
    std::optional<Error> m_error;
};

}  // namespace platform
