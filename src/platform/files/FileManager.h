#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error/Error.h"

namespace platform {

// The file operations the layers above need, behind an interface so a test can hand in one that fails.
// Every operation that can fail returns false (or nothing) and, when `error` is given, fills it with a
// "files" error whose code is the errno value and whose description names the path.
// How far a whole-file write or copy must get before it reports success. Either way the file is replaced
// whole or not at all; a working copy (rebuilt from the device at every start) skips the flushes to disk,
// which cost milliseconds per file and dominate a dump of a hundred patches. A staged file skips them too:
// it is built in a folder that flushFolder makes durable at once before the folder is swapped in.
enum class Durability { Durable, WorkingCopy, Staged };

// What a path names, the link itself when it is one: a link or a special file (a FIFO, a device) is never
// what a data file may be, and reading through either could pull in another file or never end.
enum class ItemKind { Missing, File, Folder, Link, Special };

// One state of a regular file: a rewrite (which replaces the file whole, under a new inode) or a change of
// its bytes in place gives another. A file reached by two hard links has one stamp.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// A name in a folder with what it names, the link itself when it is one.
struct FolderEntry {
    std::string name;
    ItemKind kind = ItemKind::Missing;
};

// The largest file a read takes unless its caller knows a smaller bound from the file's format.
constexpr std::uint64_t kReadLimit = 64ULL << 20;

class FileManager {
public:
    virtual ~FileManager() = default;

    // Replaces the whole file or leaves the old one untouched: the bytes go to a temporary sibling that
    // is flushed to disk (when durable) and then renamed over the destination. A failure leaves no
    // temporary behind.
    virtual bool writeAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                 Error* error = nullptr, Durability durability = Durability::Durable) = 0;
    // Reads a regular file of at most `limit` bytes; a link at the path's end, a folder, a FIFO or a device
    // is refused without being opened for its contents, and a longer file with EFBIG.
    virtual std::optional<std::vector<std::uint8_t>> readFile(const std::string& path, Error* error = nullptr,
                                                              std::uint64_t limit = kReadLimit) = 0;

    // Copies a regular file or a whole folder; a link at the path's end or a special file is refused, and
    // a file takes no more bytes than it held when the copy began. The copy is built beside the destination and appears there only
    // when complete; an existing destination is never replaced.
    virtual bool copyItem(const std::string& from, const std::string& to, Error* error = nullptr,
                          Durability durability = Durability::Durable) = 0;
    // Gives `to` the file at `from` without copying its bytes (a hard link), or a copy where the file system
    // cannot link; a link or special file is linked as itself and never read. Never replaces `to`. A file
    // reached by two names stays safe to edit through either only because every write replaces it whole.
    virtual bool linkItem(const std::string& from, const std::string& to, Error* error = nullptr,
                          Durability durability = Durability::Durable) = 0;
    // Makes everything written so far under the folder, and the folder itself, durable on disk: one
    // flush of its whole file system, far cheaper than one per file of a large folder.
    virtual bool flushFolder(const std::string& path, Error* error = nullptr) = 0;

    // One file of `linkItemsInto`: its name in the source folder and the name it takes in the target.
    struct LinkName {
        std::string from;
        std::string to;
    };
    // `linkItem` for many files of one folder into another, staged (Durability::Staged); stops at the
    // first failure. By default one call each.
    virtual bool linkItemsInto(const std::string& fromFolder, const std::vector<LinkName>& names,
                               const std::string& toFolder, Error* error = nullptr);
    // Makes a folder built of staged links and copies durable before it is swapped in. By default the
    // whole file system's flush; a file manager that knows which of its files may not be on disk yet
    // flushes only those and the folders.
    virtual bool flushStaged(const std::string& path, Error* error = nullptr) { return flushFolder(path, error); }
    // Moves a file or folder; fails with EEXIST rather than replace an existing destination.
    virtual bool moveItem(const std::string& from, const std::string& to, Error* error = nullptr) = 0;
    // Removes a file or a folder with everything in it; a missing path is an error (ENOENT).
    virtual bool removeItem(const std::string& path, Error* error = nullptr) = 0;
    // Creates a folder, and with `intermediates` every missing folder above it; an existing folder is fine.
    virtual bool createDirectory(const std::string& path, bool intermediates, Error* error = nullptr) = 0;
    // The names in a folder (without "." and ".."), sorted byte-wise so every run sees the same order.
    virtual std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path,
                                                                        Error* error = nullptr) = 0;

    // The names with their kinds, in the same order; the kinds come with the listing where the file system
    // gives them, so a large folder is not looked up name by name.
    virtual std::optional<std::vector<FolderEntry>> contentsOfDirectoryWithKinds(const std::string& path,
                                                                                 Error* error = nullptr);
    // readFile, also telling the stamp of the file it read; nothing known of it leaves `stamp` empty.
    virtual std::optional<std::vector<std::uint8_t>> readFileStamped(const std::string& path,
                                                                     std::optional<FileStamp>& stamp,
                                                                     Error* error = nullptr,
                                                                     std::uint64_t limit = kReadLimit);
    // The stamp of the regular file at the path (never through a link); nothing for anything else, or
    // where the file manager cannot tell.
    virtual std::optional<FileStamp> fileStamp(const std::string&) { return std::nullopt; }
    // The same of a folder (never through a link): its modification time changes with every name added
    // to it, removed from it or renamed in it.
    virtual std::optional<FileStamp> folderStamp(const std::string&) { return std::nullopt; }

    virtual bool exists(const std::string& path) = 0;
    virtual ItemKind itemKind(const std::string& path) = 0;
    virtual bool isDirectory(const std::string& path) = 0;
    virtual std::optional<std::uint64_t> fileSize(const std::string& path, Error* error = nullptr) = 0;
};

}  // namespace platform
