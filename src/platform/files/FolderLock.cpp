#include "platform/files/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace platform {

FolderLock::FolderLock(const std::string& folder)
{
    const std::string path = (std::filesystem::path(folder) / kFileName).string();
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor_ < 0) {
        error_ = std::strerror(errno);
        return;
    }
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0) {
        outcome_ = Outcome::Held;
        return;
    }
    const int cause = errno;
    outcome_ = cause == EWOULDBLOCK ? Outcome::TakenByAnother : Outcome::Failed;
    if (outcome_ == Outcome::Failed) error_ = std::strerror(cause);
    ::close(descriptor_);
    descriptor_ = -1;
}

FolderLock::~FolderLock()
{
    if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace platform
