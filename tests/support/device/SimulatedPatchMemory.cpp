#include "support/device/SimulatedPatchMemory.h"

#include <algorithm>
#include <cstring>

#include "device/formats/LittleEndian.h"
#include "device/formats/MIDIMessageUtil.h"
#include "support/device/ModuleFileMaker.h"

namespace {

using modulefile::putChunk;

std::int32_t streamByte(const Bytes& message, std::size_t at)
{
    if (at + 2 > message.size()) return -1;
    return MIDIMessageUtil::convert78Type2(message.data() + at, 2)[0];
}

// A record's own length: its size field when that is sane, else all of it.
std::size_t recordLength(const Bytes& record)
{
    if (record.size() < 8 || std::memcmp(record.data(), "PTCF", 4) != 0) return record.size();
    const std::uint32_t size = LittleEndian::read32(record.data() + 4);
    return size >= 8 && size <= record.size() ? size : record.size();
}

}  // namespace

Bytes SimulatedPatchMemory::makePatchRecord(const std::string& name, const std::string& comment,
                                            std::size_t parameterBytes, std::uint8_t seed)
{
    Bytes record{'P', 'T', 'C', 'F', 0, 0, 0, 0};
    LittleEndian::append32(record, 0x1);  // generation
    LittleEndian::append32(record, 2);    // two effect slots
    LittleEndian::append64(record, 0x03);  // regions
    record.resize(record.size() + 2 + 10, 0);  // reserve and the name field
    std::copy_n(name.begin(), std::min<std::size_t>(10, name.size()), record.end() - 10);
    LittleEndian::append32(record, 0x01000010u + seed);
    LittleEndian::append32(record, 0x02000020u + seed);
    putChunk(record, "TXJ1", Bytes(4, 0));
    Bytes english(comment.begin(), comment.end());
    english.resize((english.size() + 4) / 4 * 4, 0);
    putChunk(record, "TXE1", english);
    putChunk(record, "EDTB", Bytes(16, seed));
    Bytes parameters(parameterBytes);
    for (std::size_t i = 0; i < parameterBytes; ++i) parameters[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    putChunk(record, "PPRM", parameters);
    record.resize((record.size() + 3) / 4 * 4, 0);
    LittleEndian::write32(record.data() + 4, static_cast<std::uint32_t>(record.size()));
    return record;
}

SimulatedPatchMemory::SimulatedPatchMemory(Layout layout) : m_layout(layout)
{
    m_slots.resize(static_cast<std::size_t>(std::max(0, layout.groups * layout.banks * layout.patchs)));
}

void SimulatedPatchMemory::fillDefault()
{
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        const auto seed = static_cast<std::uint8_t>(i);
        const std::size_t parameters = 100 + (i * 37) % 200;
        Bytes record = makePatchRecord("Patch" + std::to_string(i), "Comment " + std::to_string(i), parameters, seed);
        if (static_cast<std::int64_t>(record.size()) > m_layout.maxPatchSize)
            record = makePatchRecord("P" + std::to_string(i), "", 0, seed);
        m_slots[i] = std::move(record);
    }
}

std::uint8_t SimulatedPatchMemory::nextCode(std::uint8_t function)
{
    auto it = m_faults.failCount.find(function);
    if (it == m_faults.failCount.end() || it->second <= 0) return 0;
    --it->second;
    return m_faults.code;
}

std::optional<Bytes> SimulatedPatchMemory::patchMessage(std::uint8_t deviceID, std::int32_t group, std::int32_t bank,
                                                       std::int32_t patch) const
{
    std::lock_guard lock(m_mutex);
    if (!validSlot(group, bank, patch)) return std::nullopt;
    return patchMessageLocked(deviceID, group, bank, patch, false);
}

Bytes SimulatedPatchMemory::patchMessageLocked(std::uint8_t deviceID, std::int32_t group, std::int32_t bank,
                                               std::int32_t patch, bool corrupt) const
{
    const Bytes& record = m_slots[index(group, bank, patch)];
    const std::size_t size = recordLength(record);
    Bytes out{0xF0, 0x7D, 0x00, deviceID, 0x45};
    for (const std::int32_t value : {group, bank, patch}) {
        const auto byte = static_cast<std::uint8_t>(value);
        const Bytes encoded = MIDIMessageUtil::convert87Type2(&byte, 1);
        out.insert(out.end(), encoded.begin(), encoded.end());
    }
    out.push_back(static_cast<std::uint8_t>(size & 0x7F));
    out.push_back(static_cast<std::uint8_t>((size >> 7) & 0x7F));
    Convert87(out, record.data(), size);
    auto crc = static_cast<std::uint32_t>(CalcCrc32(record.data(), static_cast<std::int64_t>(size)));
    if (corrupt) crc ^= 0x10;
    Convert32to7(crc, out);
    out.push_back(0xF7);
    return out;
}

void SimulatedPatchMemory::handle(const Bytes& message, std::uint8_t deviceID, const Send& send)
{
    if (message.size() < 6) return;
    const std::uint8_t function = message[4];
    const auto respond = [&](std::uint8_t code) { return Bytes{0xF0, 0x7D, 0x00, deviceID, 0x00, code, 0xF7}; };
    std::unique_lock lock(m_mutex);
    Bytes reply;
    switch (function) {
    case 0x46: {  // dump one slot, or a code when it cannot
        std::int32_t group = streamByte(message, 5), bank = streamByte(message, 7), patch = streamByte(message, 9);
        const std::uint8_t code = nextCode(function);
        if (code != 0 || !validSlot(group, bank, patch)) {
            reply = respond(code ? code : 1);
            break;
        }
        if (m_faults.wrongSlotAnswers > 0) {
            --m_faults.wrongSlotAnswers;
            const std::size_t next = (index(group, bank, patch) + 1) % m_slots.size();
            patch = static_cast<std::int32_t>(next % m_layout.patchs);
            bank = static_cast<std::int32_t>(next / m_layout.patchs % m_layout.banks);
            group = static_cast<std::int32_t>(next / m_layout.patchs / m_layout.banks);
        }
        const bool corrupt = m_faults.corruptPatchCrc > 0;
        if (corrupt) --m_faults.corruptPatchCrc;
        reply = patchMessageLocked(deviceID, group, bank, patch, corrupt);
        break;
    }
    case 0x45: {  // store a slot: the zero-padded buffer of the maximum size, checked by its CRC
        std::uint8_t code = nextCode(function);
        const std::int32_t group = streamByte(message, 5), bank = streamByte(message, 7), patch = streamByte(message, 9);
        const std::int64_t size = message.size() > 12 ? message[11] | (message[12] << 7) : -1;
        const auto packed = static_cast<std::int64_t>(message.size()) - 13 - 6;
        Bytes data = packed > 0 ? MIDIMessageUtil::convert78(message.data() + 13, packed) : Bytes{};
        const std::uint32_t crc =
            message.size() >= 6 ? Convert7to32(message.data() + message.size() - 6, 5).value_or(0) : 0;
        const bool valid = validSlot(group, bank, patch) && size == m_layout.maxPatchSize &&
                           static_cast<std::int64_t>(data.size()) >= size &&
                           static_cast<std::uint32_t>(CalcCrc32(data.data(), size)) == crc;
        if (code == 0 && !valid) code = 2;
        if (code == 0) {
            data.resize(static_cast<std::size_t>(size));
            data.resize(recordLength(data));
            m_slots[index(group, bank, patch)] = std::move(data);
        }
        reply = respond(code);
        break;
    }
    case 0x28: {  // select: the edit buffer, packed whole, no CRC
        const std::uint8_t code = nextCode(function);
        if (code == 0) {
            Bytes data = MIDIMessageUtil::convert78(message.data() + 5, static_cast<std::int64_t>(message.size()) - 6);
            data.resize(recordLength(data));
            m_selected = std::move(data);
        }
        reply = respond(code);
        break;
    }
    case 0x56:
    case 0x57: {
        const std::uint8_t code = nextCode(function);
        if (code == 0) m_audio = function == 0x57;
        reply = respond(code);
        break;
    }
    case 0x05:
    case 0x04: reply = respond(nextCode(function)); break;
    default: return;
    }
    lock.unlock();
    send(std::move(reply));
}
