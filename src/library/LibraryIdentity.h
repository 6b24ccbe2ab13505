#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/error/Error.h"
#include "platform/files/FileManager.h"

// What a saved patch library is known by: what the program owns in it, and nothing else. The parts
// ("Pool", "Backup"), the groups in them, the patch files at their top and in each group, and each group's
// backup record, each by its relative path (which carries its saved position) and each file by a digest of
// its bytes. Hidden names and anything else a file manager, a sync tool or the user leaves there (".directory",
// "Thumbs.db", a note, a folder within a group, a link) take no part, nor do times or file-system numbers:
// a remount and a copy, with or without its times, keep the identity; a file replaced by another version,
// even of the same size and time, changes it. A "Pool" or "Backup" that is a link to a folder is read through it.
class LibraryIdentity {
public:
    // The identity of a library that is missing or whose folders could not be listed whole.
    static constexpr const char* kNone = "none";
    struct Reading {
        std::string identity = kNone;
        // The folder whose listing failed, and why; empty when the library is whole or missing.
        std::string unreadFolder;
        platform::Error cause;
        // The digest of each file it counted, by its path relative to the library.
        std::unordered_map<std::string, std::string> digests;
    };
    // Digests the caller already took of files it read, by their path relative to the library.
    using Known = std::unordered_map<std::string, std::string>;
    // `partsAt` reads a linked part ("Pool", "Backup") from another folder than its link points at (a
    // save's staged one, which takes the folder's place). A file `known` does not name is read here.
    static Reading of(platform::FileManager& files, const std::string& library,
                      const std::map<std::string, std::string>& partsAt = {}, const Known* known = nullptr);
    // The same, taking over the digests `known` names rather than copying them: a start's tens of thousands
    // of digests are held once, not three times over, while the identity is taken. A file `known` names that
    // the identity would count and the library no longer holds there makes the reading unread (the library
    // folder, changed since the caller read it): its identity is no longer of what the caller read.
    static Reading of(platform::FileManager& files, const std::string& library, Known&& known);
    // The library's own folder, or one of its parts that a link leads to on another drive, when it holds files
    // the identity counts and none of them is one `known` names there with its bytes: another library than the
    // one `known` was taken of (another drive mounted where a share was). Empty when there is none; a place
    // emptied or missing is none. Files are read only until one is found the same.
    static std::string anotherPlaceThan(platform::FileManager& files, const std::string& library, const Known& known);
    // What the version before the digests knew a library by, which a pool it kept is named for: sixteen hex
    // digits over the relative path and kind of everything the library holds, each file's size and time to
    // the second, and each link's target. kNone for a library missing or not listed whole.
    static std::string earlierOf(platform::FileManager& files, const std::string& library);
    // Whether `identity` is of that earlier kind.
    static bool isEarlier(const std::string& identity);
    // Whether the identity counts an entry of that name and kind at the top of a part or within a group:
    // what it does not count, a start that shows a kept pool instead of the library carries into its save.
    static bool owns(const std::string& name, platform::ItemKind kind, bool inGroup);
    // The digest the identity takes of a file holding `bytes`.
    static std::string digestOf(const std::vector<std::uint8_t>& bytes);
    // Whether `a` holds what `b` holds: files byte for byte, folders name by name, links by target.
    static bool sameContent(platform::FileManager& files, const std::string& a, const std::string& b);
    // Where a chain of links at `path` ends, `path` itself when it is none.
    static std::string throughLinks(const std::string& path);
};
