#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/Bytes.h"

// The requests the editor sends to the device. Fixed requests are templates whose byte 3 takes the
// device ID when sent; requests with fields are built here. Every builder refuses (nothing) rather than
// build a message longer than the device's 1023-byte limit.

using QFXTemplate6 = std::array<std::uint8_t, 6>;
using QFXTemplate7 = std::array<std::uint8_t, 7>;

inline constexpr QFXTemplate6 OKV_MIDI_MSG_IDENTIFY_REQUEST{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_TERMINATE_PC_ASYNC_MODE{0xF0, 0x7D, 0x00, 0x00, 0x53, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_ENTER_PC_ASYNC_MODE{0xF0, 0x7D, 0x00, 0x00, 0x52, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_SUPPORT_QFX_INFORMATION_REQUEST{0xF0, 0x7D, 0x00, 0x00, 0x55, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_SUPPORT_PATCH_INFORMATION_REQUEST{0xF0, 0x7D, 0x00, 0x00, 0x48, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_ADVANCED_PATCH_DATA_INFORMATION_REQUEST{0xF0, 0x7D, 0x00, 0x00, 0x44,
                                                                                  0xF7};
inline constexpr QFXTemplate7 OKV_MIDI_MSG_INFO_READ{0xF0, 0x7D, 0x00, 0x00, 0x60, 0x11, 0xF7};
inline constexpr std::array<std::uint8_t, 8> OKV_MIDI_MSG_FFS_ACK{0xF0, 0x7D, 0x00, 0x00, 0x60, 0x05, 0x00, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_DISABLE_AUDIO{0xF0, 0x7D, 0x00, 0x00, 0x56, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_ENABLE_AUDIO{0xF0, 0x7D, 0x00, 0x00, 0x57, 0xF7};
inline constexpr std::array<std::uint8_t, 12> OKV_MIDI_MSG_PATCH_DATA_DUMP_REQUEST{0xF0, 0x7D, 0x00, 0x00, 0x46, 0x00,
                                                                                  0x00, 0x00, 0x00, 0x00, 0x00, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_ALL_PATCH_DATA_DUMP{0xF0, 0x7D, 0x00, 0x00, 0x05, 0xF7};
inline constexpr QFXTemplate6 OKV_MIDI_MSG_PACKET_PROCESSED{0xF0, 0x7D, 0x00, 0x00, 0x04, 0xF7};
inline constexpr QFXTemplate7 OKV_MIDI_MSG_F_DISKFREE{0xF0, 0x7D, 0x00, 0x00, 0x60, 0x29, 0xF7};
inline constexpr QFXTemplate7 OKV_MIDI_MSG_FIND_CLOSE{0xF0, 0x7D, 0x00, 0x00, 0x60, 0x27, 0xF7};
inline constexpr QFXTemplate7 OKV_MIDI_MSG_FFS_FILE_LIST_FLUSH{0xF0, 0x7D, 0x00, 0x00, 0x60, 0x09, 0xF7};

class QFXMidiMessages {
public:
    static constexpr std::int64_t kMaxMessageSize = 1023;
    // Largest patch buffers whose packed form still fits one message.
    static constexpr std::int64_t kMaxPatchDataMessageSize = 878;
    static constexpr std::int64_t kMaxEditBufferSize = 889;
    static constexpr std::int64_t kFileChunkSize = 512;
    static constexpr std::size_t kFileNameField = 13;
    static constexpr std::size_t kFileHandleSize = 5;

    static constexpr std::uint8_t kOpenForRead = 0x02;
    static constexpr std::uint8_t kOpenForWrite = 0x01;

    // A copy of the template with the device ID in byte 3 (the identity request is sent unchanged).
    template <std::size_t N>
    static Bytes withDeviceID(const std::array<std::uint8_t, N>& message, std::uint8_t deviceID)
    {
        Bytes bytes(message.begin(), message.end());
        if (bytes[1] == 0x7D) bytes[3] = deviceID;
        return bytes;
    }

    // The largest group, bank or patch number the wire carries (one byte each).
    static constexpr std::int32_t kMaxSlotNumber = 255;
    static bool slotFits(std::int32_t group, std::int32_t bank, std::int32_t patch);

    // Patch dump request for one slot: group, bank and patch each one byte in the 7-bit stream. Nothing
    // for a number the byte cannot hold: masking it would name another slot.
    static std::optional<Bytes> patchDumpRequest(std::uint8_t deviceID, std::int32_t group, std::int32_t bank,
                                                 std::int32_t patch);
    // The patch placed in a zeroed buffer of the maximum size, packed whole, with the CRC of that buffer.
    // Nothing when the maximum size is negative or too large for one message, the patch longer than it,
    // or the slot beyond what the wire carries.
    static std::optional<Bytes> patchData(std::uint8_t deviceID, std::int32_t group, std::int32_t bank,
                                          std::int32_t patch, std::int64_t maxSize, const Bytes& data);
    // Select a patch: the zero-padded buffer packed whole, no address and no CRC.
    static std::optional<Bytes> editBuffer(std::uint8_t deviceID, std::int64_t maxSize, const Bytes& data);

    // The 13-byte name field, zero-filled: the one rule for device file names. Nothing for a name of more
    // than 13 characters or with a character that is not one 7-bit byte; such a name is refused, never cut.
    static std::optional<Bytes> fileNameField(const std::string& name);
    static std::optional<Bytes> findFirst(std::uint8_t deviceID, const std::string& name);
    static std::optional<Bytes> open(std::uint8_t deviceID, std::uint8_t mode, const std::string& name);
    static std::optional<Bytes> unlink(std::uint8_t deviceID, const std::string& name);
    static std::optional<Bytes> fileLength(std::uint8_t deviceID, const std::string& name);
    static Bytes read(std::uint8_t deviceID, const Bytes& handle);
    // One chunk of at most 512 bytes with the CRC of its raw bytes; nothing for a longer chunk.
    static std::optional<Bytes> write(std::uint8_t deviceID, const Bytes& handle, const std::uint8_t* chunk,
                                      std::int64_t length);
    static Bytes close(std::uint8_t deviceID, const Bytes& handle);

private:
    static Bytes fileSystemHeader(std::uint8_t deviceID, std::uint8_t sub);
    static void appendHandle(Bytes& message, const Bytes& handle);
};
