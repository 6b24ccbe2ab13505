#include "support/device/SimulatedFileSystem.h"

#include <algorithm>
#include <utility>

#include "device/formats/MIDIMessageUtil.h"

namespace {

constexpr std::int64_t kChunk = 512;

std::uint32_t fiveAt(const Bytes& message, std::size_t at)
{
    return at + 5 <= message.size() ? Convert7to32(message.data() + at, 5).value_or(0) : 0;
}

Bytes slice(const Bytes& message, std::size_t at, std::size_t count)
{
    if (at >= message.size()) return Bytes(count, 0);
    Bytes out(message.begin() + static_cast<std::ptrdiff_t>(at),
              message.begin() + static_cast<std::ptrdiff_t>(std::min(message.size(), at + count)));
    out.resize(count, 0);
    return out;
}

Bytes five(std::uint32_t value)
{
    Bytes out;
    Convert32to7(value, out);
    return out;
}

// Uses up one of a fault's remaining turns; true when there was one left.
bool spend(int& turns)
{
    return turns > 0 && (--turns, true);
}

}  // namespace

std::int32_t SimulatedFileSystem::finalCode(std::uint8_t sub)
{
    auto it = m_faults.failCount.find(sub);
    if (it == m_faults.failCount.end() || it->second <= 0) return 0;
    --it->second;
    return m_faults.code;
}

std::uint32_t SimulatedFileSystem::usedBytes() const
{
    std::uint64_t used = 0;
    for (const auto& [name, contents] : m_files) used += contents.size();
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(used, m_information.totalSize));
}

std::string SimulatedFileSystem::nameFrom(const Bytes& message, std::size_t at)
{
    std::string name;
    for (const auto byte : slice(message, at, 13))
        if (byte != 0) name.push_back(static_cast<char>(byte));
    return name;
}

// F0 7D 00 dev 60 04 sub, filler bytes the host does not read, the fields, F7.
Bytes SimulatedFileSystem::result(std::uint8_t deviceID, std::uint8_t sub, std::size_t filler,
                                  const Bytes& fields) const
{
    Bytes out{0xF0, 0x7D, 0x00, deviceID, 0x60, 0x04, sub};
    out.insert(out.end(), filler, 0x00);
    out.insert(out.end(), fields.begin(), fields.end());
    out.push_back(0xF7);
    return out;
}

Bytes SimulatedFileSystem::fsCode(std::uint8_t deviceID, std::int32_t code)
{
    Bytes out = five(static_cast<std::uint32_t>(code));
    out.insert(out.begin(), {0xF0, 0x7D, 0x00, deviceID, 0x60, 0x03});
    out.push_back(0xF7);
    return out;
}

void SimulatedFileSystem::handle(const Bytes& message, std::uint8_t deviceID, const Send& send)
{
    if (message.size() < 7) return;
    const std::uint8_t sub = message[5];
    std::unique_lock lock(m_mutex);
    std::vector<Bytes> out;
    const auto answerAfterAck = [&](std::int32_t code) { m_afterAck = AfterAck{AfterAck::Kind::Code, sub, code, {}}; };

    switch (sub) {
    case 0x05: {  // the host's acknowledgement releases what the last result held back
        const AfterAck pending = std::exchange(m_afterAck, AfterAck{});
        if (pending.kind == AfterAck::Kind::Code) {
            out.push_back(fsCode(deviceID, pending.code));
        } else if (pending.kind == AfterAck::Kind::ReadData) {
            Bytes fields;
            Convert87(fields, pending.data.data(), pending.data.size());
            const auto crc = static_cast<std::uint32_t>(CalcCrc32(pending.data.data(), std::int64_t(pending.data.size())));
            Convert32to7(spend(m_faults.corruptReadCrc) ? crc ^ 0x1 : crc, fields);
            out.push_back(result(deviceID, 0x22, 4, fields));
            answerAfterAck(finalCode(0x22));
        }
        break;
    }
    case 0x11: {  // information read
        Bytes fields;
        for (const std::uint16_t value : {m_information.numOfInfo, m_information.numOfFiles, m_information.numOfSectors}) {
            const std::uint8_t le[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
            const Bytes encoded = MIDIMessageUtil::convert87Type2(le, 2);
            fields.insert(fields.end(), encoded.begin(), encoded.end());
        }
        const Bytes version = MIDIMessageUtil::convert87Type2(m_information.version.data(), 2);
        fields.insert(fields.end(), version.begin(), version.begin() + 3);
        out.push_back(result(deviceID, 0x11, 4, fields));
        answerAfterAck(finalCode(sub));
        break;
    }
    case 0x29: {  // disk free
        Bytes fields = five(m_information.totalSize);
        Convert32to7(m_information.totalSize - usedBytes(), fields);
        out.push_back(result(deviceID, 0x29, 4, fields));
        answerAfterAck(finalCode(sub));
        break;
    }
    case 0x25: {  // find first: a missing file is answered with its code at once
        const std::string name = nameFrom(message, 8);
        const auto it = m_files.find(name);
        if (it == m_files.end()) {
            out.push_back(fsCode(deviceID, kNoSuchFile));
            break;
        }
        Bytes fields = slice(Bytes(name.begin(), name.end()), 0, 13);
        fields.push_back(0x00);
        fields.push_back(0x00);
        Convert32to7(m_faults.findFirstSize.value_or(static_cast<std::uint32_t>(it->second.size())), fields);
        out.push_back(result(deviceID, 0x25, 8, fields));
        answerAfterAck(finalCode(sub));
        break;
    }
    case 0x27:  // find close
        out.push_back(fsCode(deviceID, finalCode(sub)));
        break;
    case 0x20: {  // open; a file opened for writing starts empty
        const bool writing = message.size() > 6 && message[6] == 0x01;
        const std::string name = nameFrom(message, 16);
        std::int32_t code = finalCode(sub);
        if (!writing && !m_files.count(name)) code = kNoSuchFile;
        const Bytes handle{0x10, 0x20, 0x30, 0x40, static_cast<std::uint8_t>(m_nextHandle++ & 0x7F)};
        if (code == 0) {
            if (writing) m_files[name].clear();
            m_open[handle] = OpenFile{name, writing, 0};
        }
        out.push_back(result(deviceID, 0x20, 4, handle));
        answerAfterAck(code);
        break;
    }
    case 0x22: {  // read: the count now, the data after the acknowledgement
        const auto it = m_open.find(slice(message, 6, 5));
        Bytes data;
        if (it != m_open.end() && !it->second.writing) {
            const Bytes& contents = m_files[it->second.name];
            const auto start = std::min<std::int64_t>(it->second.position, static_cast<std::int64_t>(contents.size()));
            const auto count = std::min<std::int64_t>({kChunk, static_cast<std::int64_t>(fiveAt(message, 11)),
                                                      static_cast<std::int64_t>(contents.size()) - start});
            data.assign(contents.begin() + start, contents.begin() + start + count);
            it->second.position = start + count;
        }
        const auto count = static_cast<std::uint32_t>(data.size()) + (spend(m_faults.overlongReadCount) ? 100 : 0);
        out.push_back(result(deviceID, 0x22, 4, five(count)));
        if (data.size() > 12 && spend(m_faults.shortReadData)) data.resize(data.size() - 12);
        m_afterAck = AfterAck{AfterAck::Kind::ReadData, sub, 0, data};
        break;
    }
    case 0x23: {  // write one chunk; a bad CRC or an unknown handle writes nothing
        const auto it = m_open.find(slice(message, 6, 5));
        const auto length = static_cast<std::int64_t>(fiveAt(message, 11));
        const auto packed = static_cast<std::int64_t>(message.size()) - 16 - 6;
        Bytes data = packed > 0 ? MIDIMessageUtil::convert78(message.data() + 16, packed) : Bytes{};
        const std::uint32_t crc = fiveAt(message, message.size() - 6);
        std::int32_t code = finalCode(sub);
        std::int64_t written = 0;
        if (it == m_open.end() || !it->second.writing || length > kChunk ||
            static_cast<std::int64_t>(data.size()) < length) {
            code = code ? code : 2;
        } else {
            data.resize(static_cast<std::size_t>(length));
            if (static_cast<std::uint32_t>(CalcCrc32(data.data(), length)) != crc) {
                code = code ? code : 3;
            } else {
                Bytes& contents = m_files[it->second.name];
                contents.resize(static_cast<std::size_t>(std::max<std::int64_t>(
                    static_cast<std::int64_t>(contents.size()), it->second.position + length)));
                std::copy(data.begin(), data.end(), contents.begin() + it->second.position);
                it->second.position += length;
                written = length;
            }
        }
        if (written > 0 && spend(m_faults.shortWrites)) {
            written -= 1;
            m_files[it->second.name].resize(static_cast<std::size_t>(it->second.position - 1));
            it->second.position -= 1;
        }
        out.push_back(result(deviceID, 0x23, 4, five(static_cast<std::uint32_t>(written))));
        answerAfterAck(code);
        break;
    }
    case 0x21: {  // close
        const std::int32_t code = finalCode(sub);
        if (code == 0) m_open.erase(slice(message, 6, 5));
        out.push_back(fsCode(deviceID, code));
        break;
    }
    case 0x24: {  // unlink
        const std::string name = nameFrom(message, 6);
        std::int32_t code = finalCode(sub);
        if (code == 0) code = m_files.erase(name) ? 0 : kNoSuchFile;
        out.push_back(fsCode(deviceID, code));
        break;
    }
    case 0x28: {  // file length
        const std::string name = nameFrom(message, 6);
        const auto it = m_files.find(name);
        out.push_back(result(deviceID, 0x28, 4, five(it == m_files.end() ? 0u : std::uint32_t(it->second.size()))));
        answerAfterAck(it == m_files.end() ? kNoSuchFile : finalCode(sub));
        break;
    }
    case 0x09: {  // flush: answered with the one-byte acknowledgement form
        const std::int32_t code = finalCode(sub);
        if (code == 0) ++m_flushes;
        out.push_back(Bytes{0xF0, 0x7D, 0x00, deviceID, 0x60, 0x05, static_cast<std::uint8_t>(code & 0x7F), 0xF7});
        break;
    }
    default: break;
    }
    lock.unlock();
    for (auto& reply : out) send(std::move(reply));
}
