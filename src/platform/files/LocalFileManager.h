#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files/FileManager.h"

namespace platform {

// The file operations on the local disk, through POSIX calls so that every step's errno is kept.
// A write beyond the process's file-size limit fails with EFBIG instead of ending the process: every file
// manager ignores SIGXFSZ from its construction on.
class LocalFileManager : public FileManager {
public:
    LocalFileManager();
    // Whether `name` is one this file manager gives a file while it is written in (hidden, with a
    // process id and a counter): such a file is never the user's, whatever is left of it.
    static bool isTemporaryName(const std::string& name);

    bool writeAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, Error* error = nullptr,
                         Durability durability = Durability::Durable) override;
    std::optional<std::vector<std::uint8_t>> readFile(const std::string& path, Error* error = nullptr,
                                                      std::uint64_t limit = kReadLimit) override;
    bool copyItem(const std::string& from, const std::string& to, Error* error = nullptr,
                  Durability durability = Durability::Durable) override;
    bool linkItem(const std::string& from, const std::string& to, Error* error = nullptr,
                  Durability durability = Durability::Durable) override;
    bool flushFolder(const std::string& path, Error* error = nullptr) override;
    // Through one handle of each folder, not two whole paths a file.
    bool linkItemsInto(const std::string& fromFolder, const std::vector<LinkName>& names, const std::string& toFolder,
                       Error* error = nullptr) override;
    // Flushes the staged files that may not be on disk yet (copies, and links to a file no other name
    // held: one written since it was last saved), then every folder under `path` and the folder itself,
    // so a save of a few new files never waits for what other programs wrote to the same disk. More than
    // `flushedOneByOneUpTo` of them are written out by one flush of their file system instead.
    bool flushStaged(const std::string& path, Error* error = nullptr) override;
    static constexpr std::size_t kFlushedOneByOneUpTo = 64;
    // For measuring the two ways against each other.
    void setFlushedOneByOneUpTo(std::size_t count) { m_flushedOneByOneUpTo = count; }
    bool moveItem(const std::string& from, const std::string& to, Error* error = nullptr) override;
    bool removeItem(const std::string& path, Error* error = nullptr) override;
    bool createDirectory(const std::string& path, bool intermediates, Error* error = nullptr) override;
    std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path,
                                                                Error* error = nullptr) override;
    std::optional<std::vector<FolderEntry>> contentsOfDirectoryWithKinds(const std::string& path,
                                                                         Error* error = nullptr) override;
    std::optional<std::vector<std::uint8_t>> readFileStamped(const std::string& path, std::optional<FileStamp>& stamp,
                                                             Error* error = nullptr,
                                                             std::uint64_t limit = kReadLimit) override;
    std::optional<FileStamp> fileStamp(const std::string& path) override;
    std::optional<FileStamp> folderStamp(const std::string& path) override;
    bool exists(const std::string& path) override;
    bool isDirectory(const std::string& path) override;
    ItemKind itemKind(const std::string& path) override;
    std::optional<std::uint64_t> fileSize(const std::string& path, Error* error = nullptr) override;

private:
    // A staged file flushStaged must write out.
    void stagedFresh(const std::string& path);
    void forgetStaged(const std::string& folder);
    std::mutex m_stagedMutex;
    std::vector<std::string> m_stagedFresh;
    std::size_t m_flushedOneByOneUpTo = kFlushedOneByOneUpTo;
};

}  // namespace platform
