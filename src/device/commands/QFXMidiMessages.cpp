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

std::optional<Bytes> paddedBuffer(std::int64_t maxSize, std::int64_t limit, const Bytes& data)
{
    if (maxSize < 0 || maxSize > limit || static_cast<std::int64_t>(data.size()) > maxSize) return std::nullopt;
    Bytes buffer(static_cast<std::size_t>(maxSize), 0);
    std::copy(data.begin(), data.end(), buffer.begin());
    return buffer;
}

}  // namespace

bool QFXMidiMessages::slotFits(std::int32_t group, std::int32_t bank, std::int32_t patch)
{
    const auto fits = [](std::int32_t value) { return value >= 0 && value <= kMaxSlotNumber; };
    return fits(group) && fits(bank) && fits(patch);
}

std::optional<Bytes> QFXMidiMessages::patchDumpRequest(std::uint8_t deviceID, std::int32_t group, std::int32_t bank,
                                                       std::int32_t patch)
{
    if (!slotFits(group, bank, patch)) return std::nullopt;
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
    if (!buffer || !slotFits(group, bank, patch)) return std::nullopt;
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
    // A SysEx data byte carries seven bits: a character outside them cannot reach the device unchanged
    // (its low byte would be a status byte), and one of them is one byte, so characters and bytes agree.
    if (name.size() > kFileNameField) return std::nullopt;
    for (const char c : name) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte == 0 || byte > 0x7F) return std::nullopt;
    }
    Bytes field(kFileNameField, 0);
    std::copy(name.begin(), name.end(), field.begin());
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
