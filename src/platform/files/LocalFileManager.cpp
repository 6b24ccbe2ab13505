#include "platform/files/LocalFileManager.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <algorithm>
#include <string_view>
#include <csignal>
#include <mutex>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

bool fail(Error* error, int code, const std::string& action, const std::string& path)
{
    if (error != nullptr)
        *error = Error::make("files", code, "cannot " + action + " \"" + path + "\": " + std::strerror(code),
                             {{"path", path}});
    return false;
}

// A name beside `path` that no other writer picks: hidden, with the process id and a counter. Only the
// start of the target's name is kept (cut before a UTF-8 continuation byte), so a target whose name fills
// the file system's limit still gets a temporary name within it.
std::string temporarySibling(const std::string& path)
{
    static std::atomic<unsigned> counter{0};
    constexpr std::size_t kKeptBytes = 64;
    fs::path target(path);
    std::string kept = target.filename().string();
    if (kept.size() > kKeptBytes) {
        std::size_t cut = kKeptBytes;
        while (cut > 0 && (static_cast<unsigned char>(kept[cut]) & 0xC0) == 0x80) --cut;
        kept.resize(cut);
    }
    std::string name = "." + kept + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    return (target.parent_path() / name).string();
}

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int openExclusive(const std::string& path)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes everything, then flushes to disk (unless told not to) and closes; returns 0 or the errno of the
// first failure.
int writeAllAndClose(int fd, const std::uint8_t* data, std::size_t size, bool flush = true)
{
    int result = 0;
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            result = errno;
            break;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    if (result == 0 && flush && ::fsync(fd) != 0)
        result = errno;
    if (::close(fd) != 0 && result == 0)
        result = errno;
    return result;
}

void syncParentFolder(const std::string& path)
{
    std::string parent = fs::path(path).parent_path().string();
    int fd = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool pathExists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// Renames without ever replacing `to`; returns 0 or an errno (EEXIST when `to` is taken). Where the file
// system cannot do an exclusive rename, a hard link claims the name atomically for files; folders fall
// back to a check before the rename.
int renameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    struct stat info;
    if (::lstat(from.c_str(), &info) != 0)
        return errno;
    if (!S_ISDIR(info.st_mode)) {
        if (::link(from.c_str(), to.c_str()) != 0)
            return errno;
        if (::unlink(from.c_str()) != 0) {
            int code = errno;
            ::unlink(to.c_str());
            return code;
        }
        return 0;
    }
    if (pathExists(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Opens a regular file for reading without following a link at its end and without waiting on a FIFO;
// returns the descriptor and its size, or -1 with errno set (EINVAL for anything but a regular file).
int openRegular(const std::string& path, std::uint64_t& size)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int code = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = code;
        return -1;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

// Copies one regular file's bytes, as many as it held when opened, into a new file at `to`, flushed to
// disk; returns 0 or an errno.
int copyFileContents(const std::string& from, const std::string& to, bool flush)
{
    std::uint64_t size = 0;
    int in = openRegular(from, size);
    if (in < 0)
        return errno;
    int out = openExclusive(to);
    if (out < 0) {
        int code = errno;
        ::close(in);
        return code;
    }
    std::vector<std::uint8_t> buffer(1 << 16);
    int result = 0;
    while (size > 0) {
        ssize_t got = ::read(in, buffer.data(), std::min<std::uint64_t>(buffer.size(), size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result = errno;
            break;
        }
        if (got == 0)
            break;
        size -= static_cast<std::uint64_t>(got);
        const std::uint8_t* data = buffer.data();
        std::size_t left = static_cast<std::size_t>(got);
        while (left > 0) {
            ssize_t written = ::write(out, data, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0) {
                result = errno;
                break;
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        if (result != 0)
            break;
    }
    ::close(in);
    int closing = writeAllAndClose(out, nullptr, 0, flush);
    return result != 0 ? result : closing;
}

}  // namespace

LocalFileManager::LocalFileManager()
{
    static std::once_flag ignored;
    std::call_once(ignored, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

bool LocalFileManager::isTemporaryName(const std::string& name)
{
    const std::size_t tag = name.rfind(".tmp-");
    if (name.size() < 2 || name.front() != '.' || tag == std::string::npos || tag == 0) return false;
    const std::string_view numbers = std::string_view(name).substr(tag + 5);
    const std::size_t dash = numbers.find('-');
    return dash != std::string_view::npos && allDigits(numbers.substr(0, dash)) && allDigits(numbers.substr(dash + 1));
}

bool LocalFileManager::writeAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, Error* error,
                                       Durability durability)
{
    const bool durable = durability == Durability::Durable;
    std::string temporary = temporarySibling(path);
    int fd = openExclusive(temporary);
    if (fd < 0)
        return fail(error, errno, "write", path);
    int code = writeAllAndClose(fd, bytes.data(), bytes.size(), durable);
    if (code == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        code = errno;
    if (code != 0) {
        ::unlink(temporary.c_str());
        return fail(error, code, "write", path);
    }
    if (durable)
        syncParentFolder(path);
    return true;
}

namespace {

FileStamp stampOf(const struct stat& info)
{
    return FileStamp{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                     static_cast<std::uint64_t>(info.st_size),
                     static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

}  // namespace

std::optional<std::vector<std::uint8_t>> LocalFileManager::readFile(const std::string& path, Error* error,
                                                                    std::uint64_t limit)
{
    std::optional<FileStamp> stamp;
    return LocalFileManager::readFileStamped(path, stamp, error, limit);
}

std::optional<std::vector<std::uint8_t>> LocalFileManager::readFileStamped(const std::string& path,
                                                                           std::optional<FileStamp>& stamp,
                                                                           Error* error, std::uint64_t limit)
{
    stamp.reset();
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    struct stat info;
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        const int code = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = code;
        fd = -1;
    }
    if (fd < 0) {
        fail(error, errno, "read", path);
        return std::nullopt;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > limit) {
        ::close(fd);
        fail(error, EFBIG, "read", path);
        return std::nullopt;
    }
    // One byte more than the file's size is asked for: a read that brings the whole size and stops short
    // of that byte met the end, so the file is read in one call; a file that grows is read on, and still
    // held to the bound.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(size, limit) + 1));
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > limit)
                break;
            bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() * 2, limit + 1)));
        }
        const std::size_t asked = bytes.size() - filled;
        const ssize_t got = ::read(fd, bytes.data() + filled, asked);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int code = errno;
            ::close(fd);
            fail(error, code, "read", path);
            return std::nullopt;
        }
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
        if (filled == size && static_cast<std::size_t>(got) < asked)
            break;
    }
    ::close(fd);
    if (filled > limit) {
        fail(error, EFBIG, "read", path);
        return std::nullopt;
    }
    bytes.resize(filled);
    stamp = stampOf(info);
    return bytes;
}

std::optional<FileStamp> LocalFileManager::fileStamp(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return stampOf(info);
}

std::optional<FileStamp> LocalFileManager::folderStamp(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return stampOf(info);
}

bool LocalFileManager::copyItem(const std::string& from, const std::string& to, Error* error, Durability durability)
{
    struct stat info;
    if (::lstat(from.c_str(), &info) != 0)
        return fail(error, errno, "copy", from);
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
        return fail(error, S_ISLNK(info.st_mode) ? ELOOP : EINVAL, "copy", from);
    if (pathExists(to))
        return fail(error, EEXIST, "copy onto", to);
    std::string temporary = temporarySibling(to);
    int code = 0;
    if (S_ISDIR(info.st_mode)) {
        std::error_code failure;
        fs::copy(from, temporary, fs::copy_options::recursive | fs::copy_options::copy_symlinks, failure);
        code = failure ? failure.value() : 0;
        // A folder's files are flushed together, before the folder takes its name.
        Error flushing;
        if (code == 0 && durability != Durability::WorkingCopy && !flushFolder(temporary, &flushing))
            code = static_cast<int>(flushing.code);
    } else {
        code = copyFileContents(from, temporary, durability == Durability::Durable);
    }
    if (code == 0)
        code = renameNoReplace(temporary, to);
    if (code != 0) {
        std::error_code ignored;
        fs::remove_all(temporary, ignored);
        return fail(error, code, "copy to", to);
    }
    if (durability == Durability::Staged && S_ISREG(info.st_mode)) stagedFresh(to);
    return true;
}

namespace {

// One file linked from a folder handle to another: linkItem's rule, with the link count the file had.
int linkAt(int fromFolder, const char* from, int toFolder, const char* to, struct stat& info)
{
    if (::fstatat(fromFolder, from, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    // A link at `from` is linked as itself: the call does not follow it.
    return ::linkat(fromFolder, from, toFolder, to, 0) == 0 ? 0 : errno;
}

bool cannotLink(int code) { return code == EXDEV || code == EPERM || code == EMLINK || code == ENOTSUP || code == EOPNOTSUPP; }

// A regular file no other name held until now was written since it was last saved, and may not be on
// disk yet; one the saved library shares is.
bool freshFile(const struct stat& info) { return S_ISREG(info.st_mode) && info.st_nlink <= 1; }

}  // namespace

bool LocalFileManager::linkItem(const std::string& from, const std::string& to, Error* error, Durability durability)
{
    struct stat info;
    int code = 0;
    if (durability == Durability::Staged) {
        // A staged link needs to know whether another name held the file: one only this name held was written
        // since it was last saved, and the staged folder's flush must write it out.
        code = linkAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), info);
        if (code == 0) {
            if (freshFile(info)) stagedFresh(to);
            return true;
        }
    } else {
        // A link at `from` is linked as itself: the call does not follow it. A folder is never linked (the
        // call refuses it), so what `from` is matters only when the link failed.
        if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0)
            return true;
        code = errno;
    }
    if (::lstat(from.c_str(), &info) != 0)
        return fail(error, errno, "link", from);
    if (S_ISDIR(info.st_mode))
        return fail(error, EISDIR, "link", from);
    if (!cannotLink(code) || !S_ISREG(info.st_mode))
        return fail(error, code, "link to", to);
    return copyItem(from, to, error, durability);
}

bool LocalFileManager::linkItemsInto(const std::string& fromFolder, const std::vector<LinkName>& names,
                                     const std::string& toFolder, Error* error)
{
    const int from = ::open(fromFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (from < 0) return fail(error, errno, "link from", fromFolder);
    const int to = ::open(toFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (to < 0) {
        const int code = errno;
        ::close(from);
        return fail(error, code, "link into", toFolder);
    }
    bool linked = true;
    for (const LinkName& name : names) {
        struct stat info;
        const int code = linkAt(from, name.from.c_str(), to, name.to.c_str(), info);
        const std::string target = (fs::path(toFolder) / name.to).string();
        if (code == 0) {
            if (freshFile(info)) stagedFresh(target);
            continue;
        }
        const std::string source = (fs::path(fromFolder) / name.from).string();
        if (cannotLink(code) && S_ISREG(info.st_mode) && copyItem(source, target, error, Durability::Staged)) continue;
        if (!cannotLink(code)) fail(error, code, code == EISDIR || code == ENOENT ? "link" : "link to", code == EISDIR || code == ENOENT ? source : target);
        linked = false;
        break;
    }
    ::close(to);
    ::close(from);
    return linked;
}

void LocalFileManager::stagedFresh(const std::string& path)
{
    std::lock_guard lock(m_stagedMutex);
    m_stagedFresh.push_back(path);
}

void LocalFileManager::forgetStaged(const std::string& folder)
{
    const std::string prefix = folder + "/";
    std::lock_guard lock(m_stagedMutex);
    m_stagedFresh.erase(std::remove_if(m_stagedFresh.begin(), m_stagedFresh.end(),
                                       [&](const std::string& path) { return path == folder || path.rfind(prefix, 0) == 0; }),
                        m_stagedFresh.end());
}

namespace {

// A staged file's bytes and what reading them needs; its link count, which every link changes, is the
// folders' to write: flushing a linked file whole would commit the file system's journal once a file.
int flushDescriptor(int fd, bool dataOnly = false)
{
    int code = 0;
    while ((dataOnly ? ::fdatasync(fd) : ::fsync(fd)) != 0) {
        if (errno == EINTR) continue;
        code = errno;
        break;
    }
    return code;
}

// Flushes every folder under the one open at `fd`, then the folder itself; the first failure's code.
int flushFolders(int fd, int depth)
{
    int code = 0;
    if (depth < 64) {
        const int listing = ::dup(fd);
        DIR* folder = listing < 0 ? nullptr : ::fdopendir(listing);
        if (folder == nullptr) {
            if (listing >= 0) ::close(listing);
            return errno;
        }
        while (const dirent* entry = ::readdir(folder)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            bool inner = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info;
                inner = ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
            }
            if (!inner) continue;
            const int child = ::openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int childCode = child < 0 ? errno : flushFolders(child, depth + 1);
            if (child >= 0) ::close(child);
            if (code == 0) code = childCode;
        }
        ::closedir(folder);
    }
    const int own = flushDescriptor(fd);
    return code != 0 ? code : own;
}

// syncfs on a FUSE file system may answer without writing anything out (the daemon decides, and older
// kernels do not pass it on at all): there each file is flushed itself, as a failed look is too.
bool syncfsWritesOut(int fd)
{
    constexpr decltype(statfs::f_type) kFuseMagic = 0x65735546;
    struct statfs info;
    return ::fstatfs(fd, &info) == 0 && info.f_type != kFuseMagic;
}

}  // namespace

bool LocalFileManager::flushStaged(const std::string& path, Error* error)
{
    std::vector<std::string> fresh;
    {
        const std::string prefix = path + "/";
        std::lock_guard lock(m_stagedMutex);
        for (const std::string& file : m_stagedFresh)
            if (file.rfind(prefix, 0) == 0) fresh.push_back(file);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail(error, errno, "flush", path);
    if (fresh.size() <= m_flushedOneByOneUpTo || !syncfsWritesOut(fd)) {
        for (const std::string& file : fresh) {
            const int each = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (each < 0) {
                const int code = errno;
                ::close(fd);
                return fail(error, code, "flush", file);
            }
            const int code = flushDescriptor(each, true);
            ::close(each);
            if (code != 0) {
                ::close(fd);
                return fail(error, code, "flush", file);
            }
        }
    } else {
        // Thousands of new files (a large drop since the last save) are written out by one flush of their
        // file system rather than one each, which costs seconds; each must still be there.
        for (const std::string& file : fresh) {
            struct stat info;
            if (::lstat(file.c_str(), &info) != 0) {
                const int code = errno;
                ::close(fd);
                return fail(error, code, "flush", file);
            }
        }
        if (::syncfs(fd) != 0) {
            const int code = errno;
            ::close(fd);
            return fail(error, code, "flush", path);
        }
    }
    const int code = flushFolders(fd, 0);
    ::close(fd);
    if (code != 0) return fail(error, code, "flush", path);
    forgetStaged(path);
    return true;
}

bool LocalFileManager::flushFolder(const std::string& path, Error* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno, "flush", path);
    // syncfs reports a write-back failure of any file on the file system since the descriptor was
    // opened only on newer kernels, so a failed fsync of the folder counts too.
    int code = ::syncfs(fd) == 0 ? 0 : errno;
    if (code == 0 && ::fsync(fd) != 0)
        code = errno;
    ::close(fd);
    if (code != 0)
        return fail(error, code, "flush", path);
    return true;
}

bool LocalFileManager::moveItem(const std::string& from, const std::string& to, Error* error)
{
    int code = renameNoReplace(from, to);
    if (code == EXDEV)
        return copyItem(from, to, error) && removeItem(from, error);
    if (code != 0)
        return fail(error, code, "move to", to);
    return true;
}

bool LocalFileManager::removeItem(const std::string& path, Error* error)
{
    forgetStaged(path);
    if (!pathExists(path))
        return fail(error, errno, "remove", path);
    std::error_code failure;
    fs::remove_all(path, failure);
    if (failure)
        return fail(error, failure.value(), "remove", path);
    return true;
}

bool LocalFileManager::createDirectory(const std::string& path, bool intermediates, Error* error)
{
    std::error_code failure;
    if (intermediates)
        fs::create_directories(path, failure);
    else if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        return fail(error, errno, "create folder", path);
    if (failure)
        return fail(error, failure.value(), "create folder", path);
    if (!isDirectory(path))
        return fail(error, EEXIST, "create folder", path);
    return true;
}

std::optional<std::vector<std::string>> LocalFileManager::contentsOfDirectory(const std::string& path, Error* error)
{
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) {
        fail(error, errno, "list", path);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(folder)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::vector<FolderEntry>> LocalFileManager::contentsOfDirectoryWithKinds(const std::string& path,
                                                                                       Error* error)
{
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) {
        fail(error, errno, "list", path);
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    while (const dirent* entry = ::readdir(folder)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        ItemKind kind = ItemKind::Missing;
        switch (entry->d_type) {
        case DT_REG: kind = ItemKind::File; break;
        case DT_DIR: kind = ItemKind::Folder; break;
        case DT_LNK: kind = ItemKind::Link; break;
        case DT_UNKNOWN: {
            // Not every file system tells the kind in its listing.
            struct stat info;
            if (::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                kind = ItemKind::Missing;
            else if (S_ISREG(info.st_mode))
                kind = ItemKind::File;
            else if (S_ISDIR(info.st_mode))
                kind = ItemKind::Folder;
            else
                kind = S_ISLNK(info.st_mode) ? ItemKind::Link : ItemKind::Special;
            break;
        }
        default: kind = ItemKind::Special; break;
        }
        entries.push_back({std::move(name), kind});
    }
    ::closedir(folder);
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

bool LocalFileManager::exists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool LocalFileManager::isDirectory(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

ItemKind LocalFileManager::itemKind(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0)
        return ItemKind::Missing;
    if (S_ISREG(info.st_mode))
        return ItemKind::File;
    if (S_ISDIR(info.st_mode))
        return ItemKind::Folder;
    return S_ISLNK(info.st_mode) ? ItemKind::Link : ItemKind::Special;
}

std::optional<std::uint64_t> LocalFileManager::fileSize(const std::string& path, Error* error)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        fail(error, errno, "read the size of", path);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace platform
