#pragma once

#include <optional>
#include <string>

// The download folder's bookkeeping, shared by every request of the process: each download gets a file
// of its own (the link's last component with a unique suffix before its extension), and clearing the
// folder leaves the files of downloads still running.
class DownloadTempFolder {
public:
    // A new path in `folder` for `component`, owned by the caller until released.
    static std::string claim(const std::string& folder, const std::string& component);
    static void release(const std::string& path);
    // Removes everything in the folder that no running download owns.
    static void wipe(const std::string& folder);
    // The newest file that a download of `component` left in the folder.
    static std::optional<std::string> latest(const std::string& folder, const std::string& component);
};
