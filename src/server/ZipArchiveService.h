#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/error/Error.h"
#include "server/ZipArchive.h"

// Replaces a folder with the content of an effect archive (a file, removed once it is out, or bytes held in
// memory).
class ZipArchiveService {
public:
    // (success, the destination on success, the unpacker's error on failure)
    using UnzipBlock =
        std::function<void(bool success, std::optional<std::string> path, std::optional<platform::Error> error)>;

    // Synchronous; calls the block exactly once before returning. The new content is built in
    // `stagingFolder` (beside the destination when empty), which must be on the destination's file system,
    // and swapped in whole, so a failed unpack leaves the destination and the archive as they were. A folder
    // read while unpacks run into it is given a staging folder outside it: a killed run leaves its half
    // there, where no reader takes it for content.
    static void unzipFileAtPath(const std::string& path, const std::string& destinationPath, const UnzipBlock& block,
                                const ZipArchive::Limits& limits = ZipArchive::Limits{},
                                const std::string& stagingFolder = {});
    // The same for an archive held in memory, which `name` stands for in the log.
    static void unzipData(const ZipArchive::Bytes& data, const std::string& name, const std::string& destinationPath,
                          const UnzipBlock& block, const ZipArchive::Limits& limits = ZipArchive::Limits{},
                          const std::string& stagingFolder = {});
};
