#include "platform/files/ApplicationSupport.h"
#include "platform/files/LocalFileManager.h"
#include "platform/files/SafeName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

#include "support/TemporaryFolder.h"

namespace {

using platform::Error;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

class LocalFileManagerTest : public ::testing::Test {
protected:
    TemporaryFolder folder;
    platform::LocalFileManager files;

    void write(const std::string& name, const std::string& text)
    {
        ASSERT_TRUE(files.writeAtomically(folder / name, bytesOf(text)));
    }
    std::string read(const std::string& name)
    {
        auto bytes = files.readFile(folder / name);
        return bytes ? std::string(bytes->begin(), bytes->end()) : "<unreadable>";
    }
    std::vector<std::string> listing() { return files.contentsOfDirectory(folder.path()).value(); }
};

TEST_F(LocalFileManagerTest, WriteReplacesWholeFileAndLeavesNoTemporary)
{
    write("patch.qptc", "old content that is longer");
    write("patch.qptc", "new");
    EXPECT_EQ(read("patch.qptc"), "new");
    EXPECT_EQ(files.fileSize(folder / "patch.qptc"), 3u);
    EXPECT_EQ(listing(), std::vector<std::string>{"patch.qptc"});
}

TEST_F(LocalFileManagerTest, WriteThatFailsMidwayKeepsOldContent)
{
    write("library.plist", "old");
    // A file-size limit makes the kernel refuse the write part-way, as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Error error;
    bool written = files.writeAtomically(folder / "library.plist", Bytes(8192, 'x'), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_FALSE(written);
    EXPECT_EQ(error.domain, "files");
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_NE(error.description.find("library.plist"), std::string::npos);
    EXPECT_EQ(read("library.plist"), "old");
    EXPECT_EQ(listing(), std::vector<std::string>{"library.plist"});
}

TEST_F(LocalFileManagerTest, WriteOntoFolderOrIntoMissingFolderFailsCleanly)
{
    ASSERT_TRUE(files.createDirectory(folder / "Effects/EQ", true));
    write("Effects/EQ/keep", "kept");
    Error error;
    EXPECT_FALSE(files.writeAtomically(folder / "Effects", bytesOf("x"), &error));
    EXPECT_EQ(error.code, EISDIR);
    EXPECT_EQ(read("Effects/EQ/keep"), "kept");
    EXPECT_EQ(listing(), std::vector<std::string>{"Effects"});

    EXPECT_FALSE(files.writeAtomically(folder / "missing/file", bytesOf("x"), &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(files.readFile(folder / "missing/file", &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(files.readFile(folder / "Effects", &error));
    EXPECT_EQ(error.code, EISDIR);
}

TEST_F(LocalFileManagerTest, MoveNeverReplacesExistingDestination)
{
    write("a", "first");
    write("b", "second");
    Error error;
    EXPECT_FALSE(files.moveItem(folder / "a", folder / "b", &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_EQ(read("a"), "first");
    EXPECT_EQ(read("b"), "second");

    ASSERT_TRUE(files.createDirectory(folder / "dir", false));
    EXPECT_FALSE(files.moveItem(folder / "a", folder / "dir", &error));
    EXPECT_EQ(error.code, EEXIST);

    EXPECT_TRUE(files.moveItem(folder / "a", folder / "c", &error));
    EXPECT_FALSE(files.exists(folder / "a"));
    EXPECT_EQ(read("c"), "first");
    EXPECT_TRUE(files.moveItem(folder / "dir", folder / "renamed"));
    EXPECT_TRUE(files.isDirectory(folder / "renamed"));
}

TEST_F(LocalFileManagerTest, CopyFolderRecursivelyButNeverOntoExisting)
{
    ASSERT_TRUE(files.createDirectory(folder / "src/inner", true));
    write("src/inner/file", "deep");
    write("other", "mine");
    ASSERT_TRUE(files.copyItem(folder / "src", folder / "copy"));
    EXPECT_EQ(read("copy/inner/file"), "deep");
    ASSERT_TRUE(files.copyItem(folder / "other", folder / "other2"));
    EXPECT_EQ(read("other2"), "mine");

    Error error;
    EXPECT_FALSE(files.copyItem(folder / "src", folder / "other", &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_EQ(read("other"), "mine");
    EXPECT_FALSE(files.copyItem(folder / "absent", folder / "new", &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(listing(), (std::vector<std::string>{"copy", "other", "other2", "src"}));
}

TEST_F(LocalFileManagerTest, ListingIsSortedAndRemoveIsRecursive)
{
    for (const char* name : {"b", "B", "a10", "a2", ".hidden", "a"})
        write(name, "x");
    EXPECT_EQ(listing(), (std::vector<std::string>{".hidden", "B", "a", "a10", "a2", "b"}));

    ASSERT_TRUE(files.createDirectory(folder / "tree/x/y", true));
    write("tree/x/y/z", "x");
    EXPECT_TRUE(files.removeItem(folder / "tree"));
    EXPECT_FALSE(files.exists(folder / "tree"));
    Error error;
    EXPECT_FALSE(files.removeItem(folder / "tree", &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(files.contentsOfDirectory(folder / "tree", &error));
    EXPECT_EQ(error.code, ENOENT);
}

TEST_F(LocalFileManagerTest, CreateDirectoryAcceptsExistingFolderOnly)
{
    EXPECT_TRUE(files.createDirectory(folder / "x", false));
    EXPECT_TRUE(files.createDirectory(folder / "x", false));
    EXPECT_TRUE(files.createDirectory(folder / "x", true));
    write("file", "x");
    Error error;
    EXPECT_FALSE(files.createDirectory(folder / "file", false, &error));
    EXPECT_FALSE(files.createDirectory(folder / "file", true, &error));
    EXPECT_FALSE(files.createDirectory(folder / "a/b", false, &error));
    EXPECT_EQ(error.code, ENOENT);
}

TEST(ApplicationSupportTest, RootFollowsXdgDataHomeElseHome)
{
    ::setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(platform::ApplicationSupport::rootFolder(), "/tmp/xdg-data/PEXO Rigmora");
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    ::setenv("HOME", "/home/player", 1);
    EXPECT_EQ(platform::ApplicationSupport::rootFolder(), "/home/player/.local/share/PEXO Rigmora");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(platform::ApplicationSupport::dataDirectory(), "/home/player/.local/share");
}

TEST(SafeNameTest, RefusesNamesThatCouldEscapeTheirFolder)
{
    EXPECT_TRUE(platform::SafeName::check("Clean Boost"));
    EXPECT_TRUE(platform::SafeName::check("..."));
    EXPECT_TRUE(platform::SafeName::check(std::string(255, 'n')));
    EXPECT_TRUE(platform::SafeName::check("日本語"));
    for (std::string bad : {std::string(), std::string("."), std::string(".."), std::string("a/b"),
                            std::string("..\\x"), std::string("a\0b", 3), std::string(256, 'n')}) {
        Error error;
        EXPECT_FALSE(platform::SafeName::check(bad, &error)) << bad;
        EXPECT_EQ(error.domain, "files");
        EXPECT_EQ(error.code, bad.size() > 255 ? ENAMETOOLONG : EINVAL);
    }
}

}  // namespace
