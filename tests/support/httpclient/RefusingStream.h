#pragma once

#include <gtest/gtest.h>
#include <fstream>
#include <iterator>

#include "support/server/HttpFixture.h"
#include "support/server/ZipMaker.h"
#include "platform/bundle/StringFormat.h"
#include "platform/url/FileOutputStream.h"
#include "platform/url/URLError.h"

// An output stream that takes so many bytes and then refuses every write, and a whole-file reader.
namespace support::refusingstream {

using namespace platform;
using support::LoopbackServer;

using zipmaker::readFile;

// Takes `room` bytes, then refuses every write with an error of its own, or with none when so made.
class RefusingStream final : public OutputStream {
public:
    explicit RefusingStream(std::size_t room, bool withError = true) : m_room(room), m_withError(withError) {}
    void open() override {}
    void close() override { ++closes; }
    bool hasSpaceAvailable() const override { return true; }
    std::int64_t write(const std::uint8_t*, std::size_t length) override
    {
        ++writes;
        if (m_room == 0) {
            m_error = makePOSIXError(ENOSPC, "disk full");
            return m_withError ? -1 : 0;
        }
        const std::size_t taken = std::min(length, m_room);
        m_room -= taken;
        return static_cast<std::int64_t>(taken);
    }
    std::optional<Error> streamError() const override { return m_withError ? m_error : std::nullopt; }
    int writes = 0;
    int closes = 0;

private:
    std::size_t m_room;
    bool m_withError;
    std::optional<Error> m_error;
};

}  // namespace support::refusingstream
