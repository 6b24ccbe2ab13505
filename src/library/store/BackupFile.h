#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

// The record every backup group folder holds as "BackupInfo.backup": the backup's name and the device
// model it was taken from, as a keyed archive of the dictionary {"BackupName", "ModelName"}.
class BackupFile {
public:
    static constexpr const char* kFileName = "BackupInfo.backup";
    static constexpr const char* kBackupNameKey = "BackupName";
    static constexpr const char* kModelNameKey = "ModelName";

    static std::shared_ptr<BackupFile> initWithName(std::optional<std::string> backupName,
                                                    std::optional<std::string> modelName);

    // Read and written from the coordinator's threads at once.
    std::optional<std::string> modelName() const;
    void setModelName(std::optional<std::string> name);
    std::optional<std::string> backupName() const;
    void setBackupName(std::optional<std::string> name);

    // Replaces the file at `path` (taken under `root` unless it already contains it) whole, or leaves the
    // old one. Without a record an empty dictionary is written; a missing name is left out, and reads back
    // as missing. False when the file could not be written.
    static bool saveBackupFile(const BackupFile* record, const std::string& path, const std::string& root);
    // Nothing when there is no file, or it is not such an archive.
    static std::shared_ptr<BackupFile> readBackupFileWithPath(const std::string& path, const std::string& root);

private:
    mutable std::mutex mutex_;
    std::optional<std::string> modelName_;
    std::optional<std::string> backupName_;
};
