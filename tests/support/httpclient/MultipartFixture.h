#pragma once

#include <gtest/gtest.h>
#include <fstream>
#include <unistd.h>

#include "httpclient/serialization/HTTPRequestSerializer.h"
#include "httpclient/serialization/StreamingMultipartFormData.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/MimeTypeTable.h"
#include "platform/url/DataInputStream.h"

// Multipart forms with a fixed boundary, a stream that fails part-way, and a drain of a body stream.
namespace support::multipart {

using platform::URLRequest;
using Bytes = std::vector<std::uint8_t>;

const std::string B = "Boundary+0000000A0000000B";

inline Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A stream that hands out its bytes and then fails, as a broken pipe or disk would.
class FailingStream final : public platform::InputStream {
public:
    explicit FailingStream(std::string before) : m_data(std::move(before)) {}
    void open() override { m_status = platform::StreamStatus::Open; }
    void close() override {}
    std::int64_t read(std::uint8_t* buffer, std::size_t length) override
    {
        if (m_data.empty()) {
            m_status = platform::StreamStatus::Error;
            return -1;
        }
        const std::size_t count = std::min(length, m_data.size());
        std::copy_n(m_data.begin(), count, buffer);
        m_data.erase(0, count);
        return static_cast<std::int64_t>(count);
    }
    bool hasBytesAvailable() const override { return m_status == platform::StreamStatus::Open; }
    platform::StreamStatus streamStatus() const override { return m_status; }
    std::optional<platform::Error> streamError() const override
    {
        return m_status == platform::StreamStatus::Error ? std::optional(platform::Error::make("disk", 5, "broken")) : std::nullopt;
    }

private:
    std::string m_data;
    platform::StreamStatus m_status = platform::StreamStatus::NotOpen;
};

// What a stream gave, read in pieces of `bufferSize`: the bytes, each read's count and the last read's.
struct Drained {
    std::string body;
    std::int64_t lastRead = 0;
    std::vector<std::int64_t> counts;
};

inline Drained drain(platform::InputStream& stream, std::size_t bufferSize)
{
    Drained out;
    stream.open();
    std::vector<std::uint8_t> buffer(bufferSize);
    while ((out.lastRead = stream.read(buffer.data(), buffer.size())) > 0) {
        out.counts.push_back(out.lastRead);
        out.body.append(buffer.begin(), buffer.begin() + out.lastRead);
    }
    return out;
}

struct Form {
    HTTPRequestSerializer serializer{platform::ProcessInfo{}};
    Form() { serializer.randomSource = [n = 9u]() mutable { return ++n; }; }
    URLRequest build(const std::optional<ParameterValue>& parameters, std::function<void(MultipartFormData&)> block = {})
    {
        return *serializer.multipartFormRequestWithMethod("POST", "http://h/up", parameters, block);
    }
};

struct TempFile {
    std::string path = ::testing::TempDir() + "rig-multipart-" + std::to_string(::getpid()) + ".png";
    explicit TempFile(const std::string& content) { std::ofstream(path, std::ios::binary) << content; }
    ~TempFile() { std::remove(path.c_str()); }
    std::string read() const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

}  // namespace support::multipart
