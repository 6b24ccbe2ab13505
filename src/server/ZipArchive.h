#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/error/Error.h"

// What the reader says about the whole archive.
struct ZipArchiveInfo {
    std::uint64_t numberEntry = 0;
    std::uint64_t sizeComment = 0;
};

// What the reader says about one entry, as it stands in the archive's central directory.
struct ZipArchiveFileInfo {
    std::uint64_t version = 0;
    std::uint64_t versionNeeded = 0;
    std::uint64_t flag = 0;
    std::uint64_t compressionMethod = 0;
    std::uint64_t dosDate = 0;
    std::uint64_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t sizeFilename = 0;
    std::uint64_t sizeFileExtra = 0;
    std::uint64_t sizeFileComment = 0;
    std::uint64_t diskNumStart = 0;
    std::uint64_t internalFa = 0;
    std::uint64_t externalFa = 0;
    std::tm date{};
};

// Progress of one unpack; every method is optional.
class ZipArchiveDelegate {
public:
    virtual ~ZipArchiveDelegate() = default;
    virtual void zipArchiveWillUnzipArchiveAtPath(const std::string& path, const ZipArchiveInfo& zipInfo)
    {
        (void)path, (void)zipInfo;
    }
    virtual void zipArchiveWillUnzipFileAtIndex(std::int64_t fileIndex, std::int64_t totalFiles,
                                                const std::string& archivePath, const ZipArchiveFileInfo& fileInfo)
    {
        (void)fileIndex, (void)totalFiles, (void)archivePath, (void)fileInfo;
    }
    virtual void zipArchiveDidUnzipFileAtIndex(std::int64_t fileIndex, std::int64_t totalFiles,
                                               const std::string& archivePath, const ZipArchiveFileInfo& fileInfo)
    {
        (void)fileIndex, (void)totalFiles, (void)archivePath, (void)fileInfo;
    }
    virtual void zipArchiveDidUnzipArchiveAtPath(const std::string& path, const ZipArchiveInfo& zipInfo,
                                                 const std::string& unzippedPath)
    {
        (void)path, (void)zipInfo, (void)unzippedPath;
    }
};

// What one unpack may put on disk at most.
struct ZipArchiveLimits {
    std::uint64_t maxTotalBytes = 256ull * 1024 * 1024;
    std::uint64_t maxEntries = 10000;
};

// Unpacks zip archives (and writes simple ones) over minizip.
//
// An unpack is all or nothing: entries are written into a staging folder beside the destination and
// moved into it only once every entry is out with its checksum verified. Entries never leave the
// destination, links are never created, and archives that would unpack beyond the size or entry
// limits are refused before they fill the disk.
class ZipArchive {
public:
    static constexpr const char* kErrorDomain = "ZipArchiveErrorDomain";
    enum ErrorCode : std::int64_t {
        kErrorOpenArchive = -1,     // the archive cannot be opened
        kErrorOpenFirstFile = -2,   // the archive has no first entry
        kErrorOpenEntry = -3,       // an entry cannot be opened or described
        kErrorReadEntry = -4,       // an entry's data is corrupt, short or fails its checksum
        kErrorWriteEntry = -5,      // an entry cannot be written to disk
        kErrorUnsafeName = -6,      // an entry's name is absolute, climbs out or is not a usable name
        kErrorLinkEntry = -7,       // an entry is a symbolic link
        kErrorTooLarge = -8,        // the archive unpacks beyond the size or entry limits
        kErrorPlaceResult = -9,     // the unpacked entries could not be moved into the destination
        kErrorEncryptedEntry = -10, // an entry is encrypted and no password was given
    };

    using Limits = ZipArchiveLimits;
    using Bytes = std::vector<std::uint8_t>;

    // Unpacking. Each returns success; on failure the destination is as it was and `error` says why.
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                const std::optional<std::string>& password, platform::Error* error,
                                ZipArchiveDelegate* delegate, const Limits& limits = Limits{});
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                const std::optional<std::string>& password, platform::Error* error);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, ZipArchiveDelegate* delegate);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination);

    // Unpacks straight into `destination`, an empty folder the caller made for it and removes should the
    // unpack fail (it then holds part of the archive). The replace-a-folder service builds on this.
    static bool unzipFileIntoEmptyFolder(const std::string& path, const std::string& destination,
                                         platform::Error* error, const Limits& limits = Limits{});
    // The same for an archive held in memory (a download never written to disk); `name` names it in
    // errors and logs.
    static bool unzipDataIntoEmptyFolder(const Bytes& data, const std::string& name, const std::string& destination,
                                         platform::Error* error, const Limits& limits = Limits{});

    // Writing.
    static bool createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths);
    explicit ZipArchive(std::string path);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    bool open();
    bool writeFile(const std::string& path);
    bool writeData(const std::vector<std::uint8_t>& data, const std::string& filename);
    bool close();

    const std::string& path() const { return m_path; }

    // An error of this class's domain; a non-zero errno value becomes the underlying error.
    static platform::Error errorWithCode(std::int64_t code, std::string description, const std::string& entry = {},
                                         int errnoValue = 0);

    // A new, empty, uniquely named hidden folder beside `destination` (its parent is created when missing),
    // named as platform::WorkFolderName tells.
    static std::optional<std::string> makeFolderBeside(const std::string& destination, const std::string& purpose,
                                                       int* errnoOut = nullptr);

    // The MS-DOS date-time of an entry as a local time.
    static std::time_t dateWithMSDOSFormat(std::uint32_t msdosDateTime);

private:
    std::string m_path;
    void* m_zip = nullptr;
};
