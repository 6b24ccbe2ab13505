#include "platform/files/DataFolderClaim.h"
#include "platform/files/FolderLock.h"
#include "platform/files/WritableFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/files/FileSizeLimit.h"
#include "support/files/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using platform::DataFolderClaim;
using platform::FolderLock;
using platform::WritableFolder;

// A missing folder is made and the probe leaves nothing behind; a file in the way and a write the kernel
// refuses part-way, as a full disk does, are named.
TEST(WritableFolder, AMissingFolderIsMadeAndWhatStandsInTheWayIsNamed)
{
    TemporaryFolder folder;
    const std::string root = folder / "data/PEXO Rigmora";
    EXPECT_EQ(WritableFolder::whyNotWritable(root), "");
    EXPECT_TRUE(fs::is_directory(root) && fs::is_empty(root));
    std::ofstream(folder / "taken") << "a file, not a folder";
    EXPECT_NE(WritableFolder::whyNotWritable(folder / "taken/PEXO Rigmora"), "");
    EXPECT_NE(WritableFolder::whyNotWritable(folder / "taken"), "");
    std::string full;
    {
        const FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.held());
        full = WritableFolder::whyNotWritable(folder.path());
    }
    EXPECT_EQ(full, std::strerror(EFBIG));
    EXPECT_FALSE(fs::exists(folder / WritableFolder::kProbeName));
}

// A path of exactly `length` bytes: `base` followed by folders of at most 200 bytes each.
std::string pathOfLength(const std::string& base, std::size_t length)
{
    std::string path = base;
    while (path.size() < length) {
        const std::size_t step = std::min<std::size_t>(201, length - path.size());
        path += "/" + std::string(step - 1, 'd');
        if (step == 1) path.back() = 'e';
    }
    return path;
}

// The folder lock has one holder at a time and is free again after it; a claim whose lock cannot be taken
// refuses every copy and names the cause.
TEST(DataFolderClaim, ALockThatCannotBeTakenRefusesEveryCopyAndNamesTheCause)
{
    TemporaryFolder folder;
    {
        const FolderLock holder(folder.path());
        ASSERT_EQ(holder.outcome(), FolderLock::Outcome::Held);
        const FolderLock second(folder.path());
        EXPECT_EQ(std::pair(second.outcome(), second.error()), std::pair(FolderLock::Outcome::TakenByAnother, std::string()));
    }
    EXPECT_EQ(FolderLock(folder.path()).outcome(), FolderLock::Outcome::Held);
    const FolderLock missing(folder / "gone");
    EXPECT_TRUE(missing.outcome() == FolderLock::Outcome::Failed && !missing.error().empty());
    // Something other than a file where the lock belongs: no copy can hold the folder, so none may run.
    fs::remove(folder / FolderLock::kFileName);
    fs::create_directory(folder / FolderLock::kFileName);
    const DataFolderClaim first(folder.path());
    EXPECT_EQ(std::pair(first.refusal(), first.why()), std::pair(DataFolderClaim::Refusal::CannotLock, std::string(std::strerror(EISDIR))));
    EXPECT_EQ(DataFolderClaim(folder.path()).refusal(), DataFolderClaim::Refusal::CannotLock);

    fs::remove(folder / FolderLock::kFileName);
    {
        const DataFolderClaim held(folder.path());
        ASSERT_EQ(std::pair(held.refusal(), held.why()), std::pair(DataFolderClaim::Refusal::None, std::string()));
        EXPECT_EQ(DataFolderClaim(folder.path()).refusal(), DataFolderClaim::Refusal::TakenByAnother);
    }
    EXPECT_EQ(DataFolderClaim(folder.path()).refusal(), DataFolderClaim::Refusal::None);
    std::ofstream(folder / "taken") << "a file, not a folder";
    const DataFolderClaim blocked(folder / "taken");
    EXPECT_TRUE(blocked.refusal() == DataFolderClaim::Refusal::NotWritable && !blocked.why().empty());
}

TEST(DataFolderClaim, AFolderTooDeepForTheProgramsOwnFilesIsRefusedBeforeAnythingIsMade)
{
    TemporaryFolder folder;
    const std::string deepest = pathOfLength(folder.path(), DataFolderClaim::kLongestFolder);
    ASSERT_EQ(deepest.size(), DataFolderClaim::kLongestFolder);
    EXPECT_EQ(DataFolderClaim(deepest).refusal(), DataFolderClaim::Refusal::None);
    // Short enough for its own probe (a byte shorter than the lock's name) and yet far too deep.
    for (const std::size_t length : {DataFolderClaim::kLongestFolder + 1, std::size_t(4082), std::size_t(5000)}) {
        const DataFolderClaim claim(pathOfLength(folder / "other", length));
        EXPECT_EQ(claim.refusal(), DataFolderClaim::Refusal::PathTooLong) << length;
        EXPECT_EQ(claim.why(), std::strerror(ENAMETOOLONG));
    }
    EXPECT_FALSE(fs::exists(folder / "other"));
}

}  // namespace
