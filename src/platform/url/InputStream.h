#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/error/Error.h"

namespace platform {

// The states a readable stream passes through; the numbers are the ones callers of the loading layer know.
enum class StreamStatus : int {
    NotOpen = 0,
    Opening = 1,
    Open = 2,
    Reading = 3,
    Writing = 4,
    AtEnd = 5,
    Closed = 6,
    Error = 7,
};

// A source of bytes that is read by pulling. A stream that fails keeps its error and reads -1 from then on.
class InputStream {
public:
    virtual ~InputStream() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    // Bytes read (0 at the end), or -1 on error.
    virtual std::int64_t read(std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool hasBytesAvailable() const = 0;
    virtual StreamStatus streamStatus() const = 0;
    virtual std::optional<Error> streamError() const = 0;
    // A new, unopened stream that reads the same bytes from the start, for a body that has to be sent
    // again; nothing when this stream cannot be read twice.
    virtual std::shared_ptr<InputStream> copyInputStream() const { return nullptr; }
};

}  // namespace platform
