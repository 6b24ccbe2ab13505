#include "server/ZipArchiveService.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>

#include "common/Log.h"

namespace fs = std::filesystem;

namespace {

// Puts `replacement` where `destination` is, in one step where the file system allows it; `work` names
// the old content's place while it is set aside.
bool swapIn(const fs::path& replacement, const fs::path& destination, const fs::path& work, int& failure)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(destination, ec))) {
        if (::rename(replacement.c_str(), destination.c_str()) == 0) return true;
        return (failure = errno), false;
    }
    if (::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, destination.c_str(), RENAME_EXCHANGE) == 0) {
        fs::remove_all(replacement, ec);
        return true;
    }
    // File systems without an exchange: set the old content aside, move the new in, and put the old
    // back should that fail.
    const auto asideText = ZipArchive::makeFolderBeside(work.string(), "old", &failure);
    if (!asideText) return false;
    const fs::path aside(*asideText);
    if (::rename(destination.c_str(), aside.c_str()) != 0) {
        failure = errno;
        fs::remove_all(aside, ec);
        return false;
    }
    if (::rename(replacement.c_str(), destination.c_str()) != 0) {
        failure = errno;
        ::rename(aside.c_str(), destination.c_str());
        return false;
    }
    fs::remove_all(aside, ec);
    return true;
}

// Builds the new content in the staging folder with `unpackInto` and swaps it in whole.
void replaceFolder(const std::string& name, const std::string& destinationPath, const std::string& stagingFolder,
                   const std::function<bool(const std::string& staged, platform::Error* error)>& unpackInto,
                   const ZipArchiveService::UnzipBlock& block, const std::function<void()>& onSuccess)
{
    auto destination = fs::path(destinationPath).lexically_normal();
    if (!destination.empty() && destination.filename().empty()) destination = destination.parent_path();
    // The work folders are named after the destination, in the staging folder or beside the destination.
    const fs::path work = stagingFolder.empty() ? destination : fs::path(stagingFolder) / destination.filename();

    int failure = 0;
    const auto stagedText = ZipArchive::makeFolderBeside(work.string(), "new", &failure);
    if (!stagedText) {
        block(false, std::nullopt,
              ZipArchive::errorWithCode(ZipArchive::kErrorWriteEntry, "failed to create folder", {}, failure));
        return;
    }
    const fs::path staged(*stagedText);
    std::error_code ec;
    platform::Error error;
    if (!unpackInto(staged.string(), &error)) {
        fs::remove_all(staged, ec);
        RIG_LOG("unpacking %s failed: %s", name.c_str(), error.describe().c_str());
        block(false, std::nullopt, error);
        return;
    }
    if (!swapIn(staged, destination, work, failure)) {
        fs::remove_all(staged, ec);
        block(false, std::nullopt,
              ZipArchive::errorWithCode(ZipArchive::kErrorPlaceResult, "failed to move unpacked files into place", {},
                                        failure));
        return;
    }
    if (!fs::exists(destination, ec)) {
        block(false, std::nullopt, std::nullopt);
        return;
    }
    onSuccess();
    block(true, destinationPath, std::nullopt);
}

}  // namespace

void ZipArchiveService::unzipFileAtPath(const std::string& path, const std::string& destinationPath,
                                        const UnzipBlock& block, const ZipArchive::Limits& limits,
                                        const std::string& stagingFolder)
{
    replaceFolder(
        path, destinationPath, stagingFolder,
        [&](const std::string& staged, platform::Error* error) {
            return ZipArchive::unzipFileIntoEmptyFolder(path, staged, error, limits);
        },
        block,
        [&] {
            std::error_code ignored;
            fs::remove(path, ignored);
        });
}

void ZipArchiveService::unzipData(const ZipArchive::Bytes& data, const std::string& name,
                                  const std::string& destinationPath, const UnzipBlock& block,
                                  const ZipArchive::Limits& limits, const std::string& stagingFolder)
{
    replaceFolder(
        name, destinationPath, stagingFolder,
        [&](const std::string& staged, platform::Error* error) {
            return ZipArchive::unzipDataIntoEmptyFolder(data, name, staged, error, limits);
        },
        block, [] {});
}
