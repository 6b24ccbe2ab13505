#pragma once

#include <map>
#include <string>

#include "platform/error/Error.h"
#include "platform/files/FileManager.h"

// What a saved patch library is known by: the relative path, kind and size of everything it holds, with
// each file's modification time (to the second) and each link's target. A copy that keeps times (cp -a,
// rsync -a, a restore) and a remount (other device and inode numbers, a drive numbering its inodes anew)
// keep it; a file added, removed, renamed or rewritten changes it. Folder times and file-system numbers
// take no part. A "Pool" or "Backup" that is a link to a folder is read through it.
class LibraryIdentity {
public:
    // The identity of a library that is missing or could not be read whole.
    static constexpr const char* kNone = "none";
    struct Reading {
        std::string identity = kNone;
        // The folder whose listing failed, and why; empty when the library is whole or missing.
        std::string unreadFolder;
        platform::Error cause;
    };
    // `partsAt` reads a linked part ("Pool", "Backup") from another folder than its link points at (a
    // save's staged one, which takes the folder's place).
    static Reading of(platform::FileManager& files, const std::string& library,
                      const std::map<std::string, std::string>& partsAt = {});
    // Whether `a` holds what `b` holds: files byte for byte, folders name by name, links by target.
    static bool sameContent(platform::FileManager& files, const std::string& a, const std::string& b);
    // Where a chain of links at `path` ends, `path` itself when it is none.
    static std::string throughLinks(const std::string& path);
};
