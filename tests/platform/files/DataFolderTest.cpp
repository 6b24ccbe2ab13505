#include "platform/files/FolderLock.h"
#include "platform/files/WritableFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include <filesystem>

#include "support/files/FileSizeLimit.h"
#include "support/files/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using platform::FolderLock;
using platform::WritableFolder;

TEST(WritableFolder, AMissingFolderIsMadeAndTheProbeLeavesNothingBehind)
{
    TemporaryFolder folder;
    const std::string root = folder / "data/PEXO Rigmora";
    EXPECT_EQ(WritableFolder::whyNotWritable(root), "");
    EXPECT_TRUE(fs::is_directory(root));
    EXPECT_TRUE(fs::is_empty(root));
}

TEST(WritableFolder, AFileInTheWayAndARefusedWriteAreNamed)
{
    TemporaryFolder folder;
    std::ofstream(folder / "taken") << "a file, not a folder";
    EXPECT_NE(WritableFolder::whyNotWritable(folder / "taken/PEXO Rigmora"), "");
    EXPECT_NE(WritableFolder::whyNotWritable(folder / "taken"), "");

    // The kernel refusing the probe's blocks part-way, as a full disk does.
    std::string full;
    {
        const FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.held());
        full = WritableFolder::whyNotWritable(folder.path());
    }
    EXPECT_EQ(full, std::strerror(EFBIG));
    EXPECT_FALSE(fs::exists(folder / WritableFolder::kProbeName));
}

TEST(FolderLock, OneHolderAtATimeAndTheFolderIsFreeAgainAfterIt)
{
    TemporaryFolder folder;
    {
        const FolderLock first(folder.path());
        ASSERT_EQ(first.outcome(), FolderLock::Outcome::Held);
        const FolderLock second(folder.path());
        EXPECT_EQ(second.outcome(), FolderLock::Outcome::TakenByAnother);
        EXPECT_EQ(second.error(), "");
    }
    const FolderLock again(folder.path());
    EXPECT_EQ(again.outcome(), FolderLock::Outcome::Held);
    const FolderLock missing(folder / "gone");
    EXPECT_EQ(missing.outcome(), FolderLock::Outcome::Failed);
    EXPECT_NE(missing.error(), "");
}

}  // namespace
