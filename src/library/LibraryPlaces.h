#pragma once

#include <map>
#include <string>

#include "platform/files/FileManager.h"

// Where the patch library and each of its parts that is a link lay when the last save landed, whether each
// held anything then, and the top folder of the file system it lay on (its mount point). A drive or share
// that is not mounted leaves its mount point as an empty folder, or a link into it leading nowhere: a place
// that held the library then and is missing or empty now while its file system is no longer mounted where it
// was is away, and nothing may be written there in its stead. One emptied or deleted by the user on a file
// system still mounted where it was is theirs: the next save writes it.
class LibraryPlaces {
public:
    // The record's file, in the data folder: it must outlive a library that is away.
    static constexpr const char* kFileName = ".Patch-places";

    // The places as a landed save leaves them: the library, and where each part that is a link leads.
    static LibraryPlaces of(platform::FileManager& files, const std::string& library);
    // The record at `file`; an empty one (nothing is away) when there is none or it cannot be read.
    static LibraryPlaces read(platform::FileManager& files, const std::string& file);
    bool write(platform::FileManager& files, const std::string& file, platform::Error* error) const;

    // Whether `folder` held something at the last save and is now missing or an empty folder, its file
    // system no longer mounted where it was.
    bool away(platform::FileManager& files, const std::string& folder) const;
    // The form places are compared in: links followed, as far as the path exists.
    static std::string resolved(const std::string& path);

private:
    struct Place {
        bool held = false;
        // The mount point of the file system the place lay on; empty when it could not be told.
        std::string mountPoint;
    };
    // The top folder of the file system that holds the folder nearest `path`: the last one up from it on
    // the same device.
    static std::string mountPointOf(platform::FileManager& files, const std::string& path);
    std::map<std::string, Place> m_places;
};
