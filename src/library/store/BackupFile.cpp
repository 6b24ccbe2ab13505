#include "library/store/BackupFile.h"

#include <filesystem>

#include "common/Log.h"
#include "library/store/OKVLocalFileController.h"
#include "platform/files/LocalFileManager.h"
#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"

std::shared_ptr<BackupFile> BackupFile::initWithName(std::optional<std::string> backupName,
                                                     std::optional<std::string> modelName)
{
    auto record = std::make_shared<BackupFile>();
    record->backupName_ = std::move(backupName);
    record->modelName_ = std::move(modelName);
    return record;
}

std::optional<std::string> BackupFile::modelName() const
{
    std::lock_guard lock(mutex_);
    return modelName_;
}

void BackupFile::setModelName(std::optional<std::string> name)
{
    std::lock_guard lock(mutex_);
    modelName_ = std::move(name);
}

std::optional<std::string> BackupFile::backupName() const
{
    std::lock_guard lock(mutex_);
    return backupName_;
}

void BackupFile::setBackupName(std::optional<std::string> name)
{
    std::lock_guard lock(mutex_);
    backupName_ = std::move(name);
}

bool BackupFile::saveBackupFile(const BackupFile* record, const std::string& path, const std::string& root)
{
    platform::ArchivedEntries entries;
    if (record != nullptr) {
        if (auto name = record->backupName()) entries.emplace_back(kBackupNameKey, platform::PlistValue(*name));
        if (auto name = record->modelName()) entries.emplace_back(kModelNameKey, platform::PlistValue(*name));
    }
    platform::Error error;
    auto archive = platform::KeyedArchiver::archive(platform::ArchivedValue::dictionary(std::move(entries), false), &error);
    platform::LocalFileManager files;
    if (!archive || !files.writeAtomically(OKVLocalFileController::pathUnderRoot(path, root), *archive, &error)) {
        RIG_LOG("backup record %s not written: %s", path.c_str(), error.describe().c_str());
        return false;
    }
    return true;
}

std::shared_ptr<BackupFile> BackupFile::readBackupFileWithPath(const std::string& path, const std::string& root)
{
    platform::LocalFileManager files;
    auto data = files.readFile(OKVLocalFileController::pathUnderRoot(path, root));
    if (!data) return nullptr;
    auto archive = platform::KeyedUnarchiver::unarchive(*data);
    if (!archive || archive->dictionary() == nullptr) return nullptr;
    auto text = [&](const char* key) -> std::optional<std::string> {
        const auto* value = archive->get(key).plain();
        return value ? value->asString() : std::nullopt;
    };
    return initWithName(text(kBackupNameKey), text(kModelNameKey));
}
