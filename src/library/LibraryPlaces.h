#pragma once

#include <map>
#include <string>

#include "platform/files/FileManager.h"

// Where the patch library and each of its parts that is a link lay when the last save landed, and whether
// each held anything then. A drive or share that is not mounted leaves its mount point as an empty folder,
// or a link into it leading nowhere: a place that held the library then and is missing or empty now is away,
// not emptied by the user, and nothing may be written there in its stead.
class LibraryPlaces {
public:
    // The record's file, in the data folder: it must outlive a library that is away.
    static constexpr const char* kFileName = ".Patch-places";

    // The places as a landed save leaves them: the library, and where each part that is a link leads.
    static LibraryPlaces of(platform::FileManager& files, const std::string& library);
    // The record at `file`; an empty one (nothing is away) when there is none or it cannot be read.
    static LibraryPlaces read(platform::FileManager& files, const std::string& file);
    bool write(platform::FileManager& files, const std::string& file, platform::Error* error) const;

    // Whether `folder` held something at the last save and is now missing or an empty folder.
    bool away(platform::FileManager& files, const std::string& folder) const;
    // The form places are compared in: links followed, as far as the path exists.
    static std::string resolved(const std::string& path);

private:
    std::map<std::string, bool> m_held;
};
