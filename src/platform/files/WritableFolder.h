#pragma once

#include <string>

namespace platform {

// Whether the program can keep its data in a folder: the folder is made when missing, then a probe file
// of a few blocks is written, flushed to the disk and removed, so a read-only, full or foreign folder
// shows before any of the user's files is touched.
class WritableFolder {
public:
    static constexpr const char* kProbeName = ".write-probe";
    static constexpr std::size_t kProbeBytes = 16 * 1024;

    // Empty when the folder can be written, else the system's reason.
    static std::string whyNotWritable(const std::string& folder);
};

}  // namespace platform
