#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/error/Error.h"

namespace platform {

using Bytes = std::vector<std::uint8_t>;

// A destination for bytes as they arrive. Writes block until done; a stream that fails keeps its error.
class OutputStream {
public:
    virtual ~OutputStream() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    // False once the stream is closed or has failed.
    virtual bool hasSpaceAvailable() const = 0;
    // Bytes taken (possibly fewer than offered), or -1 on error.
    virtual std::int64_t write(const std::uint8_t* buffer, std::size_t length) = 0;
    virtual std::optional<Error> streamError() const = 0;

    // The bytes written so far, for a stream that writes to memory.
    virtual std::optional<Bytes> dataWrittenToMemory() const { return std::nullopt; }
    // The file offset reached, for a stream that writes to a file.
    virtual std::optional<std::uint64_t> fileCurrentOffset() const { return std::nullopt; }
    // What the stream holds in memory, handed over once the transfer ended; the stream keeps no copy.
    virtual std::optional<Bytes> takeDataWrittenToMemory() { return dataWrittenToMemory(); }
    // The length the body announced, told before its first byte: a bounded stream may make room at once.
    virtual void expectLength(std::uint64_t length) { (void)length; }
};

}  // namespace platform
