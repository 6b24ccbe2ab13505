#include "device/commands/QFXMidiMessages.h"

#include <algorithm>

#include "device/formats/MIDIMessageUtil.h"

namespace {

void appendStream(Bytes& message, std::int32_t value)
{
    const std::uint8_t byte = static_cast<std::uint8_t>(value & 0xFF);
    const Bytes encoded = MIDIMessageUtil::convert87Type2(&byte, 1);
    message.insert(message.end(), encoded.begin(), encoded.end());
}

// UTF-16 code units of a UTF-8 text; a byte that starts no valid sequence stands for itself, so a
// name in a one-byte encoding keeps its bytes.
std::vector<std::uint16_t> utf16Units(const std::string& text)
{
    std::vector<std::uint16_t> units;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t extra = lead >= 0xF0 && lead < 0xF8 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : 0;
        if (lead >= 0xF8) extra = 0;
        std::uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        bool valid = i + extra < text.size() || extra == 0;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) valid = false;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid) {
            extra = 0;
            code = lead;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(code));
        }
        i += extra + 1;
    }
    return units;
}

std::optional<Bytes> paddedBuffer(std::int64_t maxSize, std::int64_t limit, const Bytes& data)
{
    if (maxSize < 0 || maxSize > limit || static_cast<std::int64_t>(data.size()) > maxSize) return std::nullopt;
    Bytes buffer(static_cast<std::size_t>(maxSize), 0);
    std::copy(data.begin(), data.end(), buffer.begin());
    return buffer;
}

}  // namespace

Bytes QFXMidiMessages::patchDumpRequest(std::uint8_t deviceID, std::int32_t group, std::int32_t bank,
                                        std::int32_t patch)
{
    Bytes message{0xF0, 0x7D, 0x00, deviceID, 0x46};
    appendStream(message, group);
    appendStream(message, bank);
    appendStream(message, patch);
    message.push_back(0xF7);
    return message;
}

std::optional<Bytes> QFXMidiMessages::patchData(std::uint8_t deviceID, std::int32_t group, std::int32_t bank,
                                                std::int32_t patch, std::int64_t maxSize, const Bytes& data)
{
    const auto buffer = paddedBuffer(maxSize, kMaxPatchDataMessageSize, data);
    if (!buffer) return std::nullopt;
    Bytes message{0xF0, 0x7D, 0x00, deviceID, 0x45};
    message.reserve(static_cast<std::size_t>(packedSize87(maxSize) + 19));
    appendStream(message, group);
    appendStream(message, bank);
    appendStream(message, patch);
    message.push_back(static_cast<std::uint8_t>(maxSize & 0x7F));
    message.push_back(static_cast<std::uint8_t>((maxSize >> 7) & 0x7F));
    Convert87(message, buffer->data(), buffer->size());
    Convert32to7(static_cast<std::uint32_t>(CalcCrc32(buffer->data(), maxSize)), message);
    message.push_back(0xF7);
    return message;
}

std::optional<Bytes> QFXMidiMessages::editBuffer(std::uint8_t deviceID, std::int64_t maxSize, const Bytes& data)
{
    const auto buffer = paddedBuffer(maxSize, kMaxEditBufferSize, data);
    if (!buffer) return std::nullopt;
    Bytes message{0xF0, 0x7D, 0x00, deviceID, 0x28};
    Convert87(message, buffer->data(), buffer->size());
    message.push_back(0xF7);
    return message;
}

std::optional<Bytes> QFXMidiMessages::fileNameField(const std::string& name)
{
    const auto units = utf16Units(name);
    if (units.size() > kFileNameField) return std::nullopt;
    Bytes field(kFileNameField, 0);
    for (std::size_t i = 0; i < units.size(); ++i) field[i] = static_cast<std::uint8_t>(units[i] & 0xFF);
    return field;
}

Bytes QFXMidiMessages::fileSystemHeader(std::uint8_t deviceID, std::uint8_t sub)
{
    return Bytes{0xF0, 0x7D, 0x00, deviceID, 0x60, sub};
}

void QFXMidiMessages::appendHandle(Bytes& message, const Bytes& handle)
{
    for (std::size_t i = 0; i < kFileHandleSize; ++i) message.push_back(i < handle.size() ? handle[i] : 0);
}

std::optional<Bytes> QFXMidiMessages::findFirst(std::uint8_t deviceID, const std::string& name)
{
    const auto field = fileNameField(name);
    if (!field) return std::nullopt;
    Bytes message = fileSystemHeader(deviceID, 0x25);
    message.push_back(0x00);
    message.push_back(0x00);
    message.insert(message.end(), field->begin(), field->end());
    message.push_back(0xF7);
    return message;
}

std::optional<Bytes> QFXMidiMessages::open(std::uint8_t deviceID, std::uint8_t mode, const std::string& name)
{
    const auto field = fileNameField(name);
    if (!field) return std::nullopt;
    Bytes message = fileSystemHeader(deviceID, 0x20);
    message.push_back(mode);
    message.insert(message.end(), 9, 0x00);
    message.insert(message.end(), field->begin(), field->end());
    message.push_back(0xF7);
    return message;
}

std::optional<Bytes> QFXMidiMessages::unlink(std::uint8_t deviceID, const std::string& name)
{
    const auto field = fileNameField(name);
    if (!field) return std::nullopt;
    Bytes message = fileSystemHeader(deviceID, 0x24);
    message.insert(message.end(), field->begin(), field->end());
    message.push_back(0xF7);
    return message;
}

std::optional<Bytes> QFXMidiMessages::fileLength(std::uint8_t deviceID, const std::string& name)
{
    const auto field = fileNameField(name);
    if (!field) return std::nullopt;
    Bytes message = fileSystemHeader(deviceID, 0x28);
    message.insert(message.end(), field->begin(), field->end());
    message.push_back(0xF7);
    return message;
}

Bytes QFXMidiMessages::read(std::uint8_t deviceID, const Bytes& handle)
{
    Bytes message = fileSystemHeader(deviceID, 0x22);
    appendHandle(message, handle);
    Convert32to7(static_cast<std::uint32_t>(kFileChunkSize), message);
    message.push_back(0xF7);
    return message;
}

std::optional<Bytes> QFXMidiMessages::write(std::uint8_t deviceID, const Bytes& handle, const std::uint8_t* chunk,
                                            std::int64_t length)
{
    if (length < 0 || length > kFileChunkSize) return std::nullopt;
    Bytes message = fileSystemHeader(deviceID, 0x23);
    appendHandle(message, handle);
    Convert32to7(static_cast<std::uint32_t>(length), message);
    Convert87(message, chunk, static_cast<std::size_t>(length));
    Convert32to7(static_cast<std::uint32_t>(CalcCrc32(chunk, length)), message);
    message.push_back(0xF7);
    return message;
}

Bytes QFXMidiMessages::close(std::uint8_t deviceID, const Bytes& handle)
{
    Bytes message = fileSystemHeader(deviceID, 0x21);
    appendHandle(message, handle);
    message.push_back(0xF7);
    return message;
}
