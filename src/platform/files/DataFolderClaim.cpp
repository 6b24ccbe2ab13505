#include "platform/files/DataFolderClaim.h"

#include <cerrno>
#include <cstring>

#include "platform/files/WritableFolder.h"

namespace platform {

DataFolderClaim::DataFolderClaim(const std::string& folder)
{
    // A folder this deep passes its own probe and lock yet fails the first file the program makes inside.
    if (folder.size() > kLongestFolder) {
        refusal_ = Refusal::PathTooLong;
        why_ = std::strerror(ENAMETOOLONG);
        return;
    }
    if (std::string why = WritableFolder::whyNotWritable(folder); !why.empty()) {
        refusal_ = Refusal::NotWritable;
        why_ = std::move(why);
        return;
    }
    lock_ = std::make_unique<FolderLock>(folder);
    switch (lock_->outcome()) {
    case FolderLock::Outcome::Held:
        return;
    case FolderLock::Outcome::TakenByAnother:
        refusal_ = Refusal::TakenByAnother;
        break;
    case FolderLock::Outcome::Failed:
        refusal_ = Refusal::CannotLock;
        why_ = lock_->error();
        break;
    }
    lock_.reset();
}

}  // namespace platform
