#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "support/Locked.h"

// The simulated device's file system, reached through function 0x60: find, open, read and write in
// chunks of at most 512 bytes with their CRC, close, unlink, length, flush, disk free and the
// information read. Every query is answered the device's way: its result, then (after the host's
// acknowledgement) a code. Fault knobs change what it answers; the test sets them.
class SimulatedFileSystem : private support::Locked {
public:
    using Send = std::function<void(Bytes message)>;
    static constexpr std::int32_t kNoSuchFile = -6;

    struct Faults {
        // Sub-function -> how many more times its final code is `code` instead of 0.
        std::map<std::uint8_t, int> failCount;
        std::int32_t code = 1;
        int shortWrites = 0;         // written counts one short of the chunk
        int corruptReadCrc = 0;      // read data with a wrong CRC
        int overlongReadCount = 0;   // read counts larger than the data that follows
        int shortReadData = 0;       // read data a few bytes shorter than the count it follows
        std::optional<std::uint32_t> findFirstSize;  // the size find first announces, whatever the file
    };

    struct Information {
        std::uint16_t numOfInfo = 1;
        std::uint16_t numOfFiles = 64;  // the effect slot count
        std::uint16_t numOfSectors = 2048;
        Bytes version{0x01, 0x02};
        std::uint32_t totalSize = 4 * 1024 * 1024;
    };

    void setFile(const std::string& name, Bytes contents) { locked([&] { m_files[name] = std::move(contents); }); }
    void removeFile(const std::string& name) { locked([&] { m_files.erase(name); }); }
    std::optional<Bytes> file(const std::string& name) const
    {
        return locked([&]() -> std::optional<Bytes> {
            const auto it = m_files.find(name);
            return it == m_files.end() ? std::nullopt : std::optional<Bytes>(it->second);
        });
    }
    std::vector<std::string> fileNames() const
    {
        return locked([&] {
            std::vector<std::string> names;
            for (const auto& [name, contents] : m_files) names.push_back(name);
            return names;
        });
    }
    void setInformation(Information information) { locked([&] { m_information = std::move(information); }); }
    void changeFaults(const std::function<void(Faults&)>& change) { locked([&] { change(m_faults); }); }
    int flushCount() const { return locked([&] { return m_flushes; }); }
    std::size_t openFileCount() const { return locked([&] { return m_open.size(); }); }

    // One 0x60 message from the host (wire bytes, F0 .. F7).
    void handle(const Bytes& message, std::uint8_t deviceID, const Send& send);

private:
    struct OpenFile {
        std::string name;
        bool writing = false;
        std::int64_t position = 0;
    };
    // What the host's next acknowledgement releases.
    struct AfterAck {
        enum class Kind { None, Code, ReadData } kind = Kind::None;
        std::uint8_t sub = 0;
        std::int32_t code = 0;
        Bytes data;
    };

    std::int32_t finalCode(std::uint8_t sub);
    std::uint32_t usedBytes() const;
    static std::string nameFrom(const Bytes& message, std::size_t at);
    Bytes result(std::uint8_t deviceID, std::uint8_t sub, std::size_t filler, const Bytes& fields) const;
    static Bytes fsCode(std::uint8_t deviceID, std::int32_t code);

    std::map<std::string, Bytes> m_files;
    std::map<Bytes, OpenFile> m_open;
    std::uint8_t m_nextHandle = 1;
    AfterAck m_afterAck;
    Faults m_faults;
    Information m_information;
    int m_flushes = 0;
};
