#pragma once

// Builds effect module files as the server and the device hold them, for tests and fuzz seeds.

#include <cstdint>
#include <cstring>

#include "device/formats/LittleEndian.h"

namespace modulefile {

inline void putText(Bytes& file, std::size_t offset, const char* text)
{
    std::memcpy(file.data() + offset, text, std::strlen(text));
}

inline void putChunk(Bytes& out, const char* id, const Bytes& content)
{
    out.insert(out.end(), id, id + 4);
    LittleEndian::append32(out, std::uint32_t(content.size()));
    out.insert(out.end(), content.begin(), content.end());
}

inline Bytes information()
{
    Bytes info;
    LittleEndian::append32(info, 0x01020304);
    info.insert(info.end(), {'D', 'L', 'Y', 'D', 'e', 'l', 'a', 'y', 0, 0xAA, 0xBB});
    float load = 12.5f;
    std::uint32_t bits;
    std::memcpy(&bits, &load, 4);
    LittleEndian::append32(info, bits);
    return info;
}

// A module file with the header fields exactly (H = 117) and the five chunks.
inline Bytes moduleFile(std::uint32_t headerSize = 117)
{
    Bytes file(8 + headerSize, 0);
    putText(file, 0, "QFX2");
    LittleEndian::write32(file.data() + 4, headerSize);
    LittleEndian::write32(file.data() + 8, 0xDEADBEEF);
    LittleEndian::write32(file.data() + 12, 0x3);
    LittleEndian::write32(file.data() + 16, 0x00000001);
    LittleEndian::write32(file.data() + 20, 0x80000000);
    for (std::size_t i = 0; i < 64; ++i)
        file[24 + i] = std::uint8_t(i);
    file[88] = 2;
    putText(file, 89, "1.02");
    file[93] = 0x11;
    file[94] = 0x22;
    file[95] = 0x0D;
    LittleEndian::write32(file.data() + 96, 0x0D000004);
    putText(file, 100, "TapeDelay");
    putText(file, 111, "DELAY");
    file[122] = 255;
    file[123] = 128;
    file[124] = 1;
    putChunk(file, "ICON", {0x89, 'P', 'N', 'G'});
    putChunk(file, "TXJ1", {});
    putChunk(file, "TXE1", {'E', 'c', 'h', 'o'});
    putChunk(file, "INFO", information());
    putChunk(file, "DATA", Bytes(40, 0x5A));
    return file;
}

}  // namespace modulefile
