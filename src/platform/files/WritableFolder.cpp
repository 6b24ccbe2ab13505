#include "platform/files/WritableFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

std::string WritableFolder::whyNotWritable(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return error.message();
    if (!std::filesystem::is_directory(folder, error)) return std::strerror(ENOTDIR);
    const std::string probe = (std::filesystem::path(folder) / kProbeName).string();
    const int descriptor = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) return std::strerror(errno);
    const std::vector<char> block(kProbeBytes, '\0');
    int cause = 0;
    std::size_t written = 0;
    while (written < block.size() && cause == 0) {
        const ssize_t step = ::write(descriptor, block.data() + written, block.size() - written);
        if (step < 0 && errno != EINTR) cause = errno;
        if (step > 0) written += std::size_t(step);
    }
    // A full disk may only tell when the blocks are really given.
    if (cause == 0 && ::fsync(descriptor) != 0) cause = errno;
    if (::close(descriptor) != 0 && cause == 0) cause = errno;
    ::unlink(probe.c_str());
    return cause == 0 ? std::string() : std::string(std::strerror(cause));
}

}  // namespace platform
