#pragma once

// Builds zip archives for tests and benchmarks straight through minizip's writer, including archives no
// honest writer would make: link entries, names that climb out, sizes that lie.

#include <minizip/zip.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace zipmaker {

struct Entry {
    std::string name;
    std::string data;
    int method = Z_DEFLATED;  // 0 stores
    unsigned long externalFa = 0;
    unsigned long dosDate = 0;
    // Written as is, with this uncompressed size declared in place of the data's own.
    std::optional<std::uint64_t> declaredSize;
    // Enciphered with the archive format's traditional scheme under this password.
    std::optional<std::string> password;
};

inline Entry entry(std::string name, std::string data, int method = Z_DEFLATED, unsigned long externalFa = 0,
                   std::optional<std::uint64_t> declaredSize = std::nullopt)
{
    Entry e;
    e.name = std::move(name);
    e.data = std::move(data);
    e.method = method;
    e.externalFa = externalFa;
    e.declaredSize = declaredSize;
    return e;
}
inline Entry file(std::string name, std::string data) { return entry(std::move(name), std::move(data)); }
inline Entry folder(std::string name) { return entry(std::move(name), {}); }
inline Entry symlink(std::string name, std::string target)
{
    return entry(std::move(name), std::move(target), 0, 0120777ul << 16);
}

// The archive checksum (CRC-32, reflected 0xEDB88320), bit by bit: tests only checksum a few bytes.
inline unsigned long crc(const std::string& bytes)
{
    std::uint32_t value = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        value ^= c;
        for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
    }
    return ~value;
}

// Writes the archive; false when minizip refuses any step.
inline bool write(const std::filesystem::path& path, const std::vector<Entry>& entries, const char* comment = nullptr)
{
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return false;
    bool ok = true;
    for (const auto& e : entries) {
        zip_fileinfo info{};
        info.dosDate = e.dosDate;
        info.external_fa = e.externalFa;
        if (e.declaredSize) {
            // Raw: the bytes go in unchanged (stored), under the size and checksum we claim.
            ok = ok && zipOpenNewFileInZip2(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 1) ==
                           ZIP_OK;
            ok = ok && zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK;
            ok = ok && zipCloseFileInZipRaw(zip, static_cast<uLong>(*e.declaredSize), crc(e.data)) == ZIP_OK;
            continue;
        }
        ok = ok && zipOpenNewFileInZip3(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, e.method,
                                        e.method ? Z_DEFAULT_COMPRESSION : 0, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                        Z_DEFAULT_STRATEGY, e.password ? e.password->c_str() : nullptr,
                                        crc(e.data)) == ZIP_OK;
        if (!e.data.empty())
            ok = ok && zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, comment) == ZIP_OK && ok;
}

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline void flipByte(const std::filesystem::path& path, std::size_t offset)
{
    auto bytes = readFile(path);
    bytes.at(offset) = static_cast<char>(~bytes.at(offset));
    writeFile(path, bytes);
}

}  // namespace zipmaker
