#pragma once

#include <string>

namespace platform {

// Claims a folder for this process alone through an advisory lock on a small file inside it; the claim
// ends with the object or with the process, however it ends, so a crash never leaves the folder taken.
class FolderLock {
public:
    static constexpr const char* kFileName = ".running.lock";

    enum class Outcome { Held, TakenByAnother, Failed };

    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    Outcome outcome() const { return outcome_; }
    // Why the lock could not be taken when it Failed (the system's text).
    const std::string& error() const { return error_; }

private:
    int descriptor_ = -1;
    Outcome outcome_ = Outcome::Failed;
    std::string error_;
};

}  // namespace platform
