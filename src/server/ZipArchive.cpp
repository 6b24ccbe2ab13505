#include "server/ZipArchive.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/Log.h"
#include "platform/files/SafeName.h"
#include "platform/files/WorkFolderName.h"
#include "platform/text/Utf8.h"

namespace fs = std::filesystem;
using platform::Error;

namespace {

// Unpacked bytes go to disk in blocks this large: a few writes per entry instead of hundreds.
constexpr std::size_t kUnpackBlock = 1 << 20;
constexpr std::size_t kWriteFileChunk = 16384;

Error zipError(std::int64_t code, std::string description, const std::string& entry = {}, int errnoValue = 0)
{
    return ZipArchive::errorWithCode(code, std::move(description), entry, errnoValue);
}

// The entry's name as a path below the destination, or nothing when the name is not one: absolute,
// climbing with "..", holding a NUL, not UTF-8, or with a component too long for a file name.
// Backslashes separate folders like slashes do. An empty result means the destination itself.
std::optional<fs::path> relativeEntryPath(std::string name)
{
    if (name.find('\0') != std::string::npos || !platform::Utf8::isValid(name)) return std::nullopt;
    for (auto& c : name)
        if (c == '\\') c = '/';
    if (!name.empty() && name.front() == '/') return std::nullopt;
    fs::path result;
    std::size_t start = 0;
    while (start <= name.size()) {
        auto end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const auto part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (!platform::SafeName::check(part)) return std::nullopt;
        result /= part;
    }
    return result;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const auto n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void setModificationDate(const fs::path& path, std::time_t date)
{
    struct timespec times[2];
    times[0].tv_sec = date, times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        RIG_LOG("cannot date %s: %s", path.c_str(), std::strerror(errno));
}

ZipArchiveFileInfo describe(const unz_file_info& info)
{
    ZipArchiveFileInfo out;
    out.version = info.version;
    out.versionNeeded = info.version_needed;
    out.flag = info.flag;
    out.compressionMethod = info.compression_method;
    out.dosDate = info.dosDate;
    out.crc = info.crc;
    out.compressedSize = info.compressed_size;
    out.uncompressedSize = info.uncompressed_size;
    out.sizeFilename = info.size_filename;
    out.sizeFileExtra = info.size_file_extra;
    out.sizeFileComment = info.size_file_comment;
    out.diskNumStart = info.disk_num_start;
    out.internalFa = info.internal_fa;
    out.externalFa = info.external_fa;
    out.date.tm_sec = static_cast<int>(info.tmu_date.tm_sec);
    out.date.tm_min = static_cast<int>(info.tmu_date.tm_min);
    out.date.tm_hour = static_cast<int>(info.tmu_date.tm_hour);
    out.date.tm_mday = static_cast<int>(info.tmu_date.tm_mday);
    out.date.tm_mon = static_cast<int>(info.tmu_date.tm_mon);
    out.date.tm_year = static_cast<int>(info.tmu_date.tm_year);
    return out;
}

// Both ways an archive marks a symbolic link: a Unix mode of S_IFLNK in the high half of the external
// attributes, and the stored-entry form with 0x4000 in the low half.
bool isLinkEntry(const unz_file_info& info)
{
    const bool unixLink = ((info.external_fa >> 16) & 0xF000) == 0xA000;
    const bool storedLink = info.compression_method == 0 && (info.external_fa & 0xF000) == 0x4000 &&
                            info.compressed_size > 0;
    return unixLink || storedLink;
}

std::uint64_t littleEndian(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// The archive's bytes, in a file or in memory, read at any offset.
class ArchiveBytes {
public:
    explicit ArchiveBytes(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat info {};
        if (m_fd >= 0 && ::fstat(m_fd, &info) == 0) m_size = static_cast<std::uint64_t>(info.st_size);
    }
    explicit ArchiveBytes(const ZipArchive::Bytes& data) : m_data(&data), m_size(data.size()) {}
    ~ArchiveBytes()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    ArchiveBytes(const ArchiveBytes&) = delete;
    ArchiveBytes& operator=(const ArchiveBytes&) = delete;

    bool readable() const { return m_data || m_fd >= 0; }
    std::uint64_t size() const { return m_size; }
    bool readAt(std::uint64_t offset, unsigned char* buffer, std::size_t length) const
    {
        if (m_data) {
            if (offset > m_size || length > m_size - offset) return false;
            std::memcpy(buffer, m_data->data() + offset, length);
            return true;
        }
        while (length > 0) {
            const auto n = ::pread(m_fd, buffer, length, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            buffer += n, offset += static_cast<std::uint64_t>(n), length -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int m_fd = -1;
    const ZipArchive::Bytes* m_data = nullptr;
    std::uint64_t m_size = 0;
};

// The size in bytes of the central directory as the archive's end record states it, found the way the
// reader finds it: the last end record within the final 64 KiB, and its 64-bit form when a locator
// stands before it.
std::optional<std::uint64_t> centralDirectorySize(const ArchiveBytes& bytes)
{
    constexpr std::uint64_t kEndRecord = 22, kLocator = 20, kMaximumComment = 0xFFFF;
    if (!bytes.readable() || bytes.size() < kEndRecord) return std::nullopt;
    const auto size = bytes.size();
    const std::uint64_t start = size > kEndRecord + kMaximumComment ? size - kEndRecord - kMaximumComment : 0;
    std::vector<unsigned char> tail(size - start);
    if (!bytes.readAt(start, tail.data(), tail.size())) return std::nullopt;
    for (std::size_t at = tail.size() - kEndRecord + 1; at-- > 0;) {
        if (littleEndian(&tail[at], 4) != 0x06054b50) continue;
        const std::uint64_t end = start + at;
        unsigned char locator[kLocator];
        if (end >= kLocator && bytes.readAt(end - kLocator, locator, kLocator) && littleEndian(locator, 4) == 0x07064b50) {
            unsigned char record[56];
            if (!bytes.readAt(littleEndian(locator + 8, 8), record, sizeof record) || littleEndian(record, 4) != 0x06064b50)
                return std::nullopt;
            return littleEndian(record + 40, 8);
        }
        return littleEndian(&tail[at + 12], 4);
    }
    return std::nullopt;
}

// The reader's file functions over an archive held in memory, with the stdio semantics it expects of
// them: a seek may pass the end, and a read there returns nothing.
struct MemoryFile {
    const ZipArchive::Bytes* data;
    std::uint64_t position = 0;
};

voidpf ZCALLBACK memoryOpen(voidpf opaque, const void*, int mode)
{
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    return new MemoryFile{static_cast<const ZipArchive::Bytes*>(opaque)};
}

uLong ZCALLBACK memoryRead(voidpf, voidpf stream, void* buffer, uLong size)
{
    auto* file = static_cast<MemoryFile*>(stream);
    const std::uint64_t total = file->data->size();
    if (file->position >= total) return 0;
    const auto count = static_cast<uLong>(std::min<std::uint64_t>(size, total - file->position));
    std::memcpy(buffer, file->data->data() + file->position, count);
    file->position += count;
    return count;
}

uLong ZCALLBACK memoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK memoryTell(voidpf, voidpf stream) { return static_cast<MemoryFile*>(stream)->position; }

long ZCALLBACK memorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* file = static_cast<MemoryFile*>(stream);
    std::uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = file->position;
    else if (origin == ZLIB_FILEFUNC_SEEK_END) base = file->data->size();
    else if (origin != ZLIB_FILEFUNC_SEEK_SET) return -1;
    file->position = base + offset;
    return 0;
}

int ZCALLBACK memoryClose(voidpf, voidpf stream)
{
    delete static_cast<MemoryFile*>(stream);
    return 0;
}

int ZCALLBACK memoryError(voidpf, voidpf) { return 0; }

unzFile openArchive(const std::string& path, const ZipArchive::Bytes* data)
{
    if (!data) return unzOpen(path.c_str());
    zlib_filefunc64_def functions{memoryOpen, memoryRead, memoryWrite, memoryTell, memorySeek,
                                  memoryClose, memoryError, const_cast<ZipArchive::Bytes*>(data)};
    return unzOpen2_64(path.c_str(), &functions);
}

struct ZipCloser {
    unzFile zip;
    ~ZipCloser()
    {
        if (zip) unzClose(zip);
    }
};

fs::path normalisedDestination(const std::string& destination)
{
    auto path = fs::path(destination).lexically_normal();
    if (!path.empty() && path.filename().empty()) path = path.parent_path();
    return path;
}

// One unpack: entries go into `staging`; `existing` (possibly absent) is the folder they will join,
// consulted for the overwrite rule and for links and type clashes that would break the final move.
class Unpacker {
public:
    // `data`, when given, holds the archive, and `archivePath` only names it.
    Unpacker(std::string archivePath, const ZipArchive::Bytes* data, fs::path staging, std::optional<fs::path> existing,
             bool overwrite, const std::optional<std::string>& password, ZipArchiveDelegate* delegate,
             const ZipArchive::Limits& limits)
        : m_archivePath(std::move(archivePath)), m_data(data), m_staging(std::move(staging)), m_existing(std::move(existing)),
          m_overwrite(overwrite), m_password(password), m_delegate(delegate), m_limits(limits)
    {
    }

    bool run();
    const Error& error() const { return m_error; }
    const ZipArchiveInfo& info() const { return m_info; }
    // Items of the archive, relative to the destination, with the date each is to carry once in place.
    const std::vector<std::pair<fs::path, std::time_t>>& dates() const { return m_dates; }

private:
    enum class Step { Next, Stop };
    Step entry(unzFile zip, std::int64_t& index);
    bool fail(Error error)
    {
        m_error = std::move(error);
        return false;
    }
    // Refuses entries that would write through a link or clash in type with what the destination holds;
    // sets `skip` for an existing file that must be kept.
    bool checkAgainstExisting(const fs::path& relative, bool isDirectory, const std::string& name, bool& skip);
    bool writeEntry(unzFile zip, const fs::path& target, const unz_file_info& info, const std::string& name);

    std::string m_archivePath;
    const ZipArchive::Bytes* m_data;
    fs::path m_staging;
    std::optional<fs::path> m_existing;
    bool m_overwrite;
    std::optional<std::string> m_password;
    ZipArchiveDelegate* m_delegate;
    ZipArchive::Limits m_limits;
    ZipArchiveInfo m_info;
    Error m_error;
    std::uint64_t m_declaredTotal = 0;
    std::uint64_t m_actualTotal = 0;
    // Bytes of central directory the entries visited so far take up.
    std::uint64_t m_directoryBytes = 0;
    std::vector<std::pair<fs::path, std::time_t>> m_dates;
};

bool Unpacker::run()
{
    ZipCloser zip{openArchive(m_archivePath, m_data)};
    if (!zip.zip) {
        // The reader never finds an end record at the very start of the file, which is where the whole
        // of an archive without entries stands: that one has no first entry, it is no broken archive.
        const auto bytes = m_data ? std::make_unique<ArchiveBytes>(*m_data) : std::make_unique<ArchiveBytes>(m_archivePath);
        if (centralDirectorySize(*bytes) == std::uint64_t{0})
            return fail(zipError(ZipArchive::kErrorOpenFirstFile, "failed to open first file in zip file"));
        return fail(zipError(ZipArchive::kErrorOpenArchive, "failed to open zip file"));
    }

    unz_global_info global{};
    if (unzGetGlobalInfo(zip.zip, &global) == UNZ_OK) {
        m_info.numberEntry = global.number_entry;
        m_info.sizeComment = global.size_comment;
    }
    if (m_info.numberEntry > m_limits.maxEntries)
        return fail(zipError(ZipArchive::kErrorTooLarge, "zip file holds too many entries"));
    if (unzGoToFirstFile(zip.zip) != UNZ_OK)
        return fail(zipError(ZipArchive::kErrorOpenFirstFile, "failed to open first file in zip file"));

    if (m_delegate) m_delegate->zipArchiveWillUnzipArchiveAtPath(m_archivePath, m_info);
    std::int64_t index = 0;
    std::uint64_t visited = 0;
    int answer = UNZ_OK;
    while (answer == UNZ_OK) {
        if (++visited > m_limits.maxEntries)
            return fail(zipError(ZipArchive::kErrorTooLarge, "zip file holds too many entries"));
        if (entry(zip.zip, index) == Step::Stop) return false;
        answer = unzGoToNextFile(zip.zip);
    }
    if (answer != UNZ_END_OF_LIST_OF_FILE)
        return fail(zipError(ZipArchive::kErrorReadEntry, "zip file's list of entries is damaged"));
    // The reader stops after as many entries as the end record counts; entries it never reached would
    // be lost without a word.
    const auto bytes = m_data ? std::make_unique<ArchiveBytes>(*m_data) : std::make_unique<ArchiveBytes>(m_archivePath);
    if (centralDirectorySize(*bytes) != m_directoryBytes)
        return fail(zipError(ZipArchive::kErrorReadEntry, "zip file's count of entries does not match its directory"));
    return true;
}

Unpacker::Step Unpacker::entry(unzFile zip, std::int64_t& index)
{
    unz_file_info info{};
    if (unzGetCurrentFileInfo(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        fail(zipError(ZipArchive::kErrorOpenEntry, "failed to read file information in zip file"));
        return Step::Stop;
    }
    std::string name(info.size_filename, '\0');
    if (unzGetCurrentFileInfo(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
        fail(zipError(ZipArchive::kErrorOpenEntry, "failed to read file information in zip file"));
        return Step::Stop;
    }
    const bool hasPassword = m_password && !m_password->empty();
    // Without a password the reader hands out the enciphered bytes, which then fail as corrupt data.
    constexpr uLong kEncrypted = 1;
    if ((info.flag & kEncrypted) && !hasPassword) {
        fail(zipError(ZipArchive::kErrorEncryptedEntry, "zip file entry is encrypted", name));
        return Step::Stop;
    }
    const int opened = hasPassword ? unzOpenCurrentFilePassword(zip, m_password->c_str()) : unzOpenCurrentFile(zip);
    if (opened != UNZ_OK) {
        fail(zipError(ZipArchive::kErrorOpenEntry, "failed to open file in zip file", name));
        return Step::Stop;
    }
    struct EntryCloser {
        unzFile zip;
        bool open = true;
        int close()
        {
            open = false;
            return unzCloseCurrentFile(zip);
        }
        ~EntryCloser()
        {
            if (open) unzCloseCurrentFile(zip);
        }
    } closer{zip};

    constexpr std::uint64_t kDirectoryHeader = 46;
    m_directoryBytes += kDirectoryHeader + info.size_filename + info.size_file_extra + info.size_file_comment;
    const auto fileInfo = describe(info);
    const auto total = static_cast<std::int64_t>(m_info.numberEntry);
    if (m_delegate) m_delegate->zipArchiveWillUnzipFileAtIndex(index, total, m_archivePath, fileInfo);

    if (isLinkEntry(info)) {
        fail(zipError(ZipArchive::kErrorLinkEntry, "zip file holds a symbolic link", name));
        return Step::Stop;
    }
    const bool isDirectory = !name.empty() && (name.back() == '/' || name.back() == '\\');
    const auto relative = relativeEntryPath(name);
    if (!relative || (relative->empty() && !isDirectory)) {
        fail(zipError(ZipArchive::kErrorUnsafeName, "zip file entry's name leads outside the destination", name));
        return Step::Stop;
    }
    m_declaredTotal += info.uncompressed_size;
    if (m_declaredTotal > m_limits.maxTotalBytes) {
        fail(zipError(ZipArchive::kErrorTooLarge, "zip file unpacks beyond the size limit", name));
        return Step::Stop;
    }

    bool skip = false;
    if (!checkAgainstExisting(*relative, isDirectory, name, skip)) return Step::Stop;
    const auto target = m_staging / *relative;
    std::error_code ec;
    if (!skip && !isDirectory && !m_overwrite && fs::exists(fs::symlink_status(target, ec))) skip = true;
    // Recorded before the skip: a file kept because overwriting is off still takes the entry's date.
    const auto date = ZipArchive::dateWithMSDOSFormat(static_cast<std::uint32_t>(info.dosDate));
    m_dates.emplace_back(*relative, date);
    if (skip) return Step::Next;

    const auto folder = isDirectory ? target : target.parent_path();
    fs::create_directories(folder, ec);
    if (ec) {
        fail(zipError(ZipArchive::kErrorWriteEntry, "failed to create folder", name, ec.value()));
        return Step::Stop;
    }
    if (!isDirectory) {
        if (!writeEntry(zip, target, info, name)) return Step::Stop;
        // Only a complete read lets the reader compare checksums, and only the close reports it.
        const int closed = closer.close();
        if (closed != UNZ_OK) {
            fail(zipError(ZipArchive::kErrorReadEntry,
                          closed == UNZ_CRCERROR ? "zip file entry fails its checksum" : "failed to close file in zip file",
                          name));
            return Step::Stop;
        }
        if (info.dosDate != 0) setModificationDate(target, date);
    }
    if (m_delegate) m_delegate->zipArchiveDidUnzipFileAtIndex(index, total, m_archivePath, fileInfo);
    ++index;
    return Step::Next;
}

bool Unpacker::checkAgainstExisting(const fs::path& relative, bool isDirectory, const std::string& name, bool& skip)
{
    if (!m_existing) return true;
    auto path = *m_existing;
    const auto last = std::distance(relative.begin(), relative.end());
    std::ptrdiff_t position = 0;
    for (const auto& part : relative) {
        path /= part;
        ++position;
        std::error_code ec;
        const auto status = fs::symlink_status(path, ec);
        if (!fs::exists(status)) return true;
        if (fs::is_symlink(status))
            return fail(zipError(ZipArchive::kErrorUnsafeName, "zip file entry would be written through a link", name));
        const bool isFolder = fs::is_directory(status);
        if (position < last || isDirectory) {
            if (!isFolder)
                return fail(zipError(ZipArchive::kErrorWriteEntry, "a file is in the way of a folder", name, ENOTDIR));
        } else if (!m_overwrite) {
            // Whatever stands there, file or folder, is kept.
            skip = true;
        } else if (isFolder) {
            return fail(zipError(ZipArchive::kErrorWriteEntry, "a folder is in the way of a file", name, EISDIR));
        }
    }
    return true;
}

bool Unpacker::writeEntry(unzFile zip, const fs::path& target, const unz_file_info& info, const std::string& name)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return fail(zipError(ZipArchive::kErrorWriteEntry, "failed to create file", name, errno));
    std::vector<char> block(static_cast<std::size_t>(std::min<std::uint64_t>(info.uncompressed_size + 1, kUnpackBlock)));
    char* const buffer = block.data();
    std::uint64_t written = 0;
    bool ok = true;
    while (ok) {
        const int n = unzReadCurrentFile(zip, buffer, static_cast<unsigned>(block.size()));
        if (n == 0) break;
        if (n < 0) {
            ok = fail(zipError(ZipArchive::kErrorReadEntry, "failed to read file in zip file", name));
            break;
        }
        written += static_cast<std::uint64_t>(n);
        m_actualTotal += static_cast<std::uint64_t>(n);
        if (written > info.uncompressed_size || m_actualTotal > m_limits.maxTotalBytes) {
            ok = fail(zipError(ZipArchive::kErrorTooLarge, "zip file unpacks beyond the size limit", name));
            break;
        }
        if (!writeAll(fd, buffer, static_cast<std::size_t>(n)))
            ok = fail(zipError(ZipArchive::kErrorWriteEntry, "failed to write file", name, errno));
    }
    if (::close(fd) != 0 && ok) ok = fail(zipError(ZipArchive::kErrorWriteEntry, "failed to write file", name, errno));
    if (ok && written != info.uncompressed_size)
        ok = fail(zipError(ZipArchive::kErrorReadEntry, "zip file entry is shorter than it claims", name));
    return ok;
}

// Moves everything staged into an existing folder, replacing files only when overwriting.
bool mergeInto(const fs::path& staged, const fs::path& destination, bool overwrite, int& errnoOut)
{
    std::error_code ec;
    for (fs::directory_iterator it(staged, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::directory_entry& item = *it;
        const auto target = destination / item.path().filename();
        std::error_code missing;
        const auto status = fs::symlink_status(target, missing);
        std::error_code kind;
        const bool stagedFolder = item.is_directory(kind);
        if (kind) return (errnoOut = kind.value()), false;
        if (!fs::exists(status)) {
            if (::rename(item.path().c_str(), target.c_str()) != 0) return (errnoOut = errno), false;
        } else if (stagedFolder && fs::is_directory(status)) {
            if (!mergeInto(item.path(), target, overwrite, errnoOut)) return false;
        } else if (overwrite && !stagedFolder && fs::is_regular_file(status)) {
            if (::rename(item.path().c_str(), target.c_str()) != 0) return (errnoOut = errno), false;
        }
    }
    if (ec) return (errnoOut = ec.value()), false;
    return true;
}

enum class Placement { Merge, EmptyFolder };

bool unpack(const std::string& path, const ZipArchive::Bytes* data, const std::string& destinationText, bool overwrite,
            const std::optional<std::string>& password, Error* error, ZipArchiveDelegate* delegate,
            const ZipArchive::Limits& limits, Placement placement)
{
    const auto destination = normalisedDestination(destinationText);
    auto report = [&](Error e) {
        if (error) *error = std::move(e);
        return false;
    };
    std::error_code ec;
    const auto status = fs::status(destination, ec);
    const bool exists = fs::exists(status);
    if (exists && !fs::is_directory(status))
        return report(zipError(ZipArchive::kErrorWriteEntry, "the destination is not a folder", {}, ENOTDIR));
    if (placement == Placement::EmptyFolder) {
        if (!exists) return report(zipError(ZipArchive::kErrorWriteEntry, "the destination is missing", {}, ENOENT));
        if (!fs::is_empty(destination, ec))
            return report(zipError(ZipArchive::kErrorPlaceResult, "the destination is not empty", {}, EEXIST));
        // The caller's own staging folder: written in place, with no second one to move out of.
        Unpacker unpacker(path, data, destination, std::nullopt, overwrite, password, delegate, limits);
        if (!unpacker.run()) return report(unpacker.error());
        for (const auto& [relative, date] : unpacker.dates()) setModificationDate(destination / relative, date);
        return true;
    }

    int failure = 0;
    const auto stagingText = ZipArchive::makeFolderBeside(destination.string(), "unzip", &failure);
    if (!stagingText) return report(zipError(ZipArchive::kErrorWriteEntry, "failed to create folder", {}, failure));
    const fs::path staging(*stagingText);
    struct Cleanup {
        fs::path path;
        ~Cleanup()
        {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{staging};

    std::optional<fs::path> existing;
    if (placement == Placement::Merge && exists) existing = destination;
    Unpacker unpacker(path, data, staging, existing, overwrite, password, delegate, limits);
    if (!unpacker.run()) return report(unpacker.error());

    if (existing) {
        if (!mergeInto(staging, destination, overwrite, failure))
            return report(zipError(ZipArchive::kErrorPlaceResult, "failed to move unpacked files into place", {},
                                   failure));
    } else if (::rename(staging.c_str(), destination.c_str()) != 0) {
        return report(
            zipError(ZipArchive::kErrorPlaceResult, "failed to move unpacked files into place", {}, errno));
    }
    // Last, so each folder keeps its own entry's date although files were written into it later.
    for (const auto& [relative, date] : unpacker.dates()) setModificationDate(destination / relative, date);
    if (delegate) delegate->zipArchiveDidUnzipArchiveAtPath(path, unpacker.info(), destinationText);
    return true;
}

}  // namespace

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                 const std::optional<std::string>& password, Error* error,
                                 ZipArchiveDelegate* delegate, const Limits& limits)
{
    return unpack(path, nullptr, destination, overwrite, password, error, delegate, limits, Placement::Merge);
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                 const std::optional<std::string>& password, Error* error)
{
    return unzipFileAtPath(path, destination, overwrite, password, error, nullptr);
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, ZipArchiveDelegate* delegate)
{
    return unzipFileAtPath(path, destination, true, std::nullopt, nullptr, delegate);
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination)
{
    return unzipFileAtPath(path, destination, nullptr);
}

bool ZipArchive::unzipFileIntoEmptyFolder(const std::string& path, const std::string& destination, Error* error,
                                          const Limits& limits)
{
    return unpack(path, nullptr, destination, true, std::nullopt, error, nullptr, limits, Placement::EmptyFolder);
}

bool ZipArchive::unzipDataIntoEmptyFolder(const Bytes& data, const std::string& name, const std::string& destination,
                                          Error* error, const Limits& limits)
{
    return unpack(name, &data, destination, true, std::nullopt, error, nullptr, limits, Placement::EmptyFolder);
}

Error ZipArchive::errorWithCode(std::int64_t code, std::string description, const std::string& entry, int errnoValue)
{
    std::map<std::string, std::string> info;
    if (!entry.empty()) info["entry"] = entry;
    std::shared_ptr<const Error> underlying;
    if (errnoValue != 0)
        underlying = std::make_shared<Error>(Error::make("NSPOSIXErrorDomain", errnoValue, std::strerror(errnoValue)));
    return Error::make(kErrorDomain, code, std::move(description), std::move(info), std::move(underlying));
}

std::optional<std::string> ZipArchive::makeFolderBeside(const std::string& destination, const std::string& purpose,
                                                        int* errnoOut)
{
    const fs::path path(destination);
    auto parent = path.parent_path();
    if (parent.empty()) parent = ".";
    std::error_code ec;
    fs::create_directories(parent, ec);
    std::string pattern = (parent / platform::WorkFolderName::pattern(path.filename().string(), purpose)).string();
    if (!::mkdtemp(pattern.data())) {
        if (errnoOut) *errnoOut = errno;
        return std::nullopt;
    }
    return pattern;
}

std::time_t ZipArchive::dateWithMSDOSFormat(std::uint32_t v)
{
    std::tm parts{};
    parts.tm_year = 80 + static_cast<int>(v >> 25);
    parts.tm_mon = static_cast<int>((v & 0x1E00000) >> 21) - 1;
    parts.tm_mday = static_cast<int>((v & 0x1F0000) >> 16);
    parts.tm_hour = static_cast<int>((v & 0xF800) >> 11);
    parts.tm_min = static_cast<int>((v & 0x7E0) >> 5);
    parts.tm_sec = static_cast<int>(v & 0x1F) * 2;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

// ---- writing

namespace {

void setDate(zip_fileinfo& info, std::time_t when)
{
    std::tm parts{};
    localtime_r(&when, &parts);
    info.tmz_date.tm_sec = static_cast<uInt>(parts.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(parts.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(parts.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(parts.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(parts.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(parts.tm_year + 1900);
}

}  // namespace

bool ZipArchive::createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths)
{
    ZipArchive archive(path);
    if (!archive.open()) return false;
    for (const auto& file : paths) archive.writeFile(file);
    return archive.close();
}

ZipArchive::ZipArchive(std::string path) : m_path(std::move(path)) {}

ZipArchive::~ZipArchive()
{
    if (m_zip) close();
}

bool ZipArchive::open()
{
    if (m_zip) {
        RIG_LOG("Attempting open an archive which is already open");
        return false;
    }
    m_zip = zipOpen(m_path.c_str(), APPEND_STATUS_CREATE);
    return m_zip != nullptr;
}

bool ZipArchive::writeFile(const std::string& path)
{
    if (!m_zip) {
        RIG_LOG("Attempting to write to an archive which was never opened");
        return false;
    }
    std::FILE* input = std::fopen(path.c_str(), "rb");
    if (!input) return false;
    zip_fileinfo info{};
    const auto name = fs::path(path).filename().string();
    bool ok = zipOpenNewFileInZip(m_zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION) == ZIP_OK;
    std::vector<char> buffer(kWriteFileChunk);
    while (ok) {
        const auto n = std::fread(buffer.data(), 1, buffer.size(), input);
        if (n == 0) break;
        ok = zipWriteInFileInZip(m_zip, buffer.data(), static_cast<unsigned>(n)) == ZIP_OK;
    }
    ok = !std::ferror(input) && ok;
    std::fclose(input);
    return zipCloseFileInZip(m_zip) == ZIP_OK && ok;
}

bool ZipArchive::writeData(const std::vector<std::uint8_t>& data, const std::string& filename)
{
    if (!m_zip || data.empty()) return false;
    zip_fileinfo info{};
    setDate(info, std::time(nullptr));
    if (zipOpenNewFileInZip(m_zip, filename.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                            Z_DEFAULT_COMPRESSION) != ZIP_OK)
        return false;
    const bool ok = zipWriteInFileInZip(m_zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK;
    return zipCloseFileInZip(m_zip) == ZIP_OK && ok;
}

bool ZipArchive::close()
{
    if (!m_zip) {
        RIG_LOG("[ZipArchive] Attempting to close an archive which was never opened");
        return false;
    }
    const bool ok = zipClose(m_zip, nullptr) == ZIP_OK;
    m_zip = nullptr;
    return ok;
}
