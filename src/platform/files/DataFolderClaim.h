#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/files/FolderLock.h"

namespace platform {

// Everything a folder must pass before the program keeps its data there, in order: a path that leaves
// room for the program's own files beneath it, a probe write (`WritableFolder`), and this process's lock
// on it (`FolderLock`), held as long as the claim lives. A lock that cannot be taken at all refuses the
// folder as firmly as one another copy holds: without it nothing keeps a second copy off the same files.
class DataFolderClaim {
public:
    enum class Refusal { None, PathTooLong, NotWritable, TakenByAnother, CannotLock };

    // The longest path the system takes, its terminating NUL included.
    static constexpr std::size_t kPathLimit = 4096;
    // What the program puts beneath the folder at the deepest: a group and a patch in it, each named up to
    // the longest file name, under the library's own folders, with the temporary names made beside them.
    static constexpr std::size_t kRoomBeneath = 1024;
    static constexpr std::size_t kLongestFolder = kPathLimit - 1 - kRoomBeneath;

    explicit DataFolderClaim(const std::string& folder);

    Refusal refusal() const { return refusal_; }
    // The system's reason for PathTooLong, NotWritable and CannotLock; empty otherwise.
    const std::string& why() const { return why_; }

private:
    Refusal refusal_ = Refusal::None;
    std::string why_;
    std::unique_ptr<FolderLock> lock_;
};

}  // namespace platform
