#include "platform/files/ApplicationSupport.h"
#include "platform/files/LocalFileManager.h"
#include "platform/files/SafeName.h"
#include "platform/files/WorkFolderName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>

#include "support/files/FileSizeLimit.h"
#include "support/files/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using platform::Error;
using platform::ItemKind;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

class LocalFileManagerTest : public ::testing::Test {
protected:
    TemporaryFolder folder;
    platform::LocalFileManager files;

    void write(const std::string& name, const std::string& text) { ASSERT_TRUE(files.writeAtomically(folder / name, Bytes(text.begin(), text.end()))); }
    std::string read(const std::string& name)
    {
        auto bytes = files.readFile(folder / name);
        return bytes ? std::string(bytes->begin(), bytes->end()) : "<unreadable>";
    }
    Names listing() { return files.contentsOfDirectory(folder.path()).value(); }
    // A plain file, a folder, a FIFO and a link to /dev/zero.
    void specials()
    {
        write("plain", "12345678");
        ASSERT_TRUE(files.createDirectory(folder / "outside", false));
        ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
        fs::create_symlink("/dev/zero", folder / "zero");
    }
};

// A write replaces the whole file and leaves no temporary; one the kernel refuses part-way, as a full disk
// would, names the file and keeps the old content.
TEST_F(LocalFileManagerTest, WriteReplacesWholeFileOrKeepsTheOldContentUnderANameAtTheLengthLimitToo)
{
    write("patch.qptc", "old content that is longer");
    write("patch.qptc", "new");
    EXPECT_EQ(read("patch.qptc"), "new");
    EXPECT_EQ(files.fileSize(folder / "patch.qptc"), 3u);
    Error error;
    bool written = false;
    {
        const FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.held());
        written = files.writeAtomically(folder / "patch.qptc", Bytes(8192, 'x'), &error);
    }
    EXPECT_EQ(std::tuple(written, error.domain, error.code), std::tuple(false, "files", EFBIG));
    EXPECT_NE(error.description.find("patch.qptc"), std::string::npos);
    EXPECT_EQ(read("patch.qptc"), "new");
    EXPECT_EQ(listing(), Names{"patch.qptc"});
    // A name at the file system's limit (255 bytes, multi-byte characters at the cut) is written, copied and
    // linked whole: the temporary names beside it stay within the limit.
    std::string name;
    while (name.size() + 3 <= 250) name += "\xE3\x81\x82";  // U+3042, three bytes each
    name += "x.qptc";
    ASSERT_LE(name.size(), 255u);
    write(name, "long");
    EXPECT_EQ(read(name), "long");
    ASSERT_TRUE(files.createDirectory(folder / "copies", false));
    ASSERT_TRUE(files.copyItem(folder / name, folder / ("copies/" + name)));
    EXPECT_EQ(read("copies/" + name), "long");
    ASSERT_TRUE(files.createDirectory(folder / "linked", false));
    ASSERT_TRUE(files.linkItem(folder / name, folder / ("linked/" + name)));
    EXPECT_EQ(listing(), (Names{"copies", "linked", "patch.qptc", name}));
}

// Every refusal names its cause and leaves what was there. Links, FIFOs and devices are never read or
// copied through, and every read has a bound: each refusal comes at once, whatever the item would give.
TEST_F(LocalFileManagerTest, RefusalsGiveTheirErrnoAndChangeNothing)
{
    ASSERT_TRUE(files.createDirectory(folder / "Effects/EQ", true));
    write("Effects/EQ/keep", "kept");
    write("a", "first");
    write("b", "second");
    specials();
    write("outside/secret", "secret");
    fs::create_symlink(folder / "outside/secret", folder / "out");
    const Names before = listing();
    const Bytes x{'x'};
    auto at = [&](const char* name) { return folder / name; };
    const struct { const char* what; std::function<bool(Error*)> attempt; int code; } cases[] = {
        {"write onto a folder", [&](Error* e) { return files.writeAtomically(at("Effects"), x, e); }, EISDIR},
        {"write into a missing folder", [&](Error* e) { return files.writeAtomically(at("missing/f"), x, e); }, ENOENT},
        {"read a missing file", [&](Error* e) { return files.readFile(at("missing/f"), e).has_value(); }, ENOENT},
        {"read a folder", [&](Error* e) { return files.readFile(at("Effects"), e).has_value(); }, EISDIR},
        {"move onto a file", [&](Error* e) { return files.moveItem(at("a"), at("b"), e); }, EEXIST},
        {"move onto a folder", [&](Error* e) { return files.moveItem(at("a"), at("Effects"), e); }, EEXIST},
        {"copy onto a file", [&](Error* e) { return files.copyItem(at("Effects"), at("a"), e); }, EEXIST},
        {"copy a missing item", [&](Error* e) { return files.copyItem(at("absent"), at("new"), e); }, ENOENT},
        {"remove a missing item", [&](Error* e) { return files.removeItem(at("absent"), e); }, ENOENT},
        {"list a missing folder", [&](Error* e) { return files.contentsOfDirectory(at("absent"), e).has_value(); }, ENOENT},
        {"list a missing folder with kinds", [&](Error* e) { return files.contentsOfDirectoryWithKinds(at("absent"), e).has_value(); }, ENOENT},
        {"flush a missing folder", [&](Error* e) { return files.flushFolder(at("absent"), e); }, ENOENT},
        {"flush a file as a folder", [&](Error* e) { return files.flushFolder(at("a"), e); }, ENOTDIR},
        {"folder without its parent", [&](Error* e) { return files.createDirectory(at("x/y"), false, e); }, ENOENT},
        {"folder over a file", [&](Error* e) { return files.createDirectory(at("a"), false, e); }, EEXIST},
        {"folders over a file", [&](Error* e) { return files.createDirectory(at("a"), true, e); }, ENOTDIR},
        {"read a link to /dev/zero", [&](Error* e) { return files.readFile(at("zero"), e).has_value(); }, ELOOP},
        {"read a FIFO", [&](Error* e) { return files.readFile(at("pipe"), e).has_value(); }, EINVAL},
        {"read /dev/zero", [&](Error* e) { return files.readFile("/dev/zero", e).has_value(); }, EINVAL},
        {"read a link out of the folder", [&](Error* e) { return files.readFile(at("out"), e).has_value(); }, ELOOP},
        {"read past a bound", [&](Error* e) { return files.readFile(at("plain"), e, 7).has_value(); }, EFBIG},
        {"copy a link to /dev/zero", [&](Error* e) { return files.copyItem(at("zero"), at("copy"), e); }, ELOOP},
        {"copy a FIFO", [&](Error* e) { return files.copyItem(at("pipe"), at("copy"), e); }, EINVAL},
        {"copy a link out of the folder", [&](Error* e) { return files.copyItem(at("out"), at("copy"), e); }, ELOOP},
        {"link onto a file", [&](Error* e) { return files.linkItem(at("plain"), at("out"), e); }, EEXIST},
        {"link a folder", [&](Error* e) { return files.linkItem(at("outside"), at("copy"), e); }, EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Error error;
        EXPECT_FALSE(c.attempt(&error));
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ((Names{read("a"), read("b"), read("Effects/EQ/keep")}), (Names{"first", "second", "kept"}));
        EXPECT_EQ(listing(), before);
    }
    EXPECT_EQ(files.readFile(at("plain"), nullptr, 8)->size(), 8U);
}

// Each item tells its kind, and the listing tells the same kinds in its own order without a look-up per name
// (a file manager that cannot tell them from its listing looks each name up); only a regular file has a stamp.
TEST_F(LocalFileManagerTest, ItemsTellTheirKindAndOnlyAFileHasAStamp)
{
    specials();
    const struct { const char* name; ItemKind kind; } kinds[] = {
        {"plain", ItemKind::File}, {"outside", ItemKind::Folder}, {"zero", ItemKind::Link}, {"pipe", ItemKind::Special}, {"none", ItemKind::Missing}};
    for (const auto& k : kinds) {
        EXPECT_EQ(files.itemKind(folder / k.name), k.kind) << k.name;
        EXPECT_EQ(files.fileStamp(folder / k.name).has_value(), k.kind == ItemKind::File) << k.name;
    }
    struct NameByName : platform::LocalFileManager {
        using platform::FileManager::contentsOfDirectoryWithKinds;
    } slow;
    const auto listed = files.contentsOfDirectoryWithKinds(folder.path());
    const auto lookedUp = slow.platform::FileManager::contentsOfDirectoryWithKinds(folder.path());
    ASSERT_TRUE(listed && lookedUp);
    Names names;
    for (const auto& entry : *listed) {
        names.push_back(entry.name);
        EXPECT_EQ(entry.kind, files.itemKind(folder / entry.name)) << entry.name;
    }
    EXPECT_EQ(names, listing());
    ASSERT_EQ(lookedUp->size(), listed->size());
    for (std::size_t i = 0; i < listed->size(); ++i) {
        EXPECT_EQ((*lookedUp)[i].name, (*listed)[i].name);
        EXPECT_EQ((*lookedUp)[i].kind, (*listed)[i].kind);
    }
}

// A read brings every byte whatever the file's size, and tells the stamp of the file it read. A linked file
// is the same file (and stamp) under a second name, until a write replaces one of them whole.
TEST_F(LocalFileManagerTest, ReadsAreWholeAndStampedByTheFileTheyRead)
{
    for (const std::size_t size : {0UL, 1UL, 16383UL, 16384UL, 16385UL, 200000UL}) {
        SCOPED_TRACE(size);
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
        ASSERT_TRUE(files.writeAtomically(folder / "sized", bytes));
        std::optional<platform::FileStamp> stamp;
        EXPECT_EQ(files.readFileStamped(folder / "sized", stamp), bytes);
        ASSERT_TRUE(stamp.has_value());
        EXPECT_EQ(stamp->size, size);
        EXPECT_EQ(files.readFile(folder / "sized", nullptr, size), bytes);
        EXPECT_TRUE(size == 0 || !files.readFile(folder / "sized", nullptr, size - 1));
    }
    write("saved", "saved");
    std::optional<platform::FileStamp> seen;
    ASSERT_TRUE(files.readFileStamped(folder / "saved", seen).has_value());
    EXPECT_EQ(seen, files.fileStamp(folder / "saved"));
    ASSERT_TRUE(files.linkItem(folder / "saved", folder / "working"));
    EXPECT_EQ(files.fileStamp(folder / "working"), seen);
    EXPECT_EQ(read("working"), "saved");
    write("working", "saved");  // the same bytes, and yet another file
    EXPECT_NE(files.fileStamp(folder / "working"), seen);
    EXPECT_EQ(files.fileStamp(folder / "saved"), seen);
    write("working", "edited");
    EXPECT_EQ(read("saved"), "saved");
    Error error;
    EXPECT_FALSE(files.readFileStamped(folder / "none", seen, &error).has_value() || seen.has_value());
    EXPECT_EQ(error.code, ENOENT);
}

// Many files of one folder linked into another: each as linkItem links it (links and FIFOs as themselves),
// stopping at the first refusal (a folder, an existing name, a missing file or folder); what came before
// stays linked.
TEST_F(LocalFileManagerTest, FilesLinkedAFolderAtATimeKeepTheRulesOfOne)
{
    fs::create_directories(folder / "from/inner");
    fs::create_directories(folder / "to");
    for (const char* name : {"a", "b", "c"}) write(std::string("from/") + name, name);
    fs::create_symlink("/dev/zero", folder / "from/zero");
    ASSERT_EQ(::mkfifo((folder / "from/pipe").c_str(), 0600), 0);
    ASSERT_TRUE(files.linkItemsInto(folder / "from", {{"a", "[0] a"}, {"zero", "[1] zero"}, {"b", "[2] b"}}, folder / "to"));
    EXPECT_EQ(std::pair(read("to/[0] a"), read("to/[2] b")), std::pair(std::string("a"), std::string("b")));
    EXPECT_EQ(fs::read_symlink(folder / "to/[1] zero"), "/dev/zero");
    ASSERT_TRUE(files.linkItem(folder / "from/pipe", folder / "to/pipe"));
    ASSERT_TRUE(files.linkItem(folder / "from/zero", folder / "to/zero"));
    EXPECT_EQ(files.itemKind(folder / "to/pipe"), ItemKind::Special);
    EXPECT_EQ(fs::read_symlink(folder / "to/zero"), "/dev/zero");
    const struct { const char* from; std::vector<platform::FileManager::LinkName> names; int code; } refused[] = {
        {"from", {{"c", "c"}, {"inner", "inner"}}, EISDIR}, {"from", {{"a", "[0] a"}}, EEXIST}, {"from", {{"gone", "gone"}}, ENOENT},
        {"missing", {{"a", "a"}}, ENOENT}};
    for (const auto& c : refused) {
        Error error;
        EXPECT_FALSE(files.linkItemsInto(folder / c.from, c.names, folder / "to", &error));
        EXPECT_EQ(error.code, c.code) << error.description;
    }
    EXPECT_EQ(read("to/c"), "c");
    EXPECT_EQ(read("to/[0] a"), "a");
}

// A staged folder's flush writes out the files that may not be on disk yet (one no other name held, a
// copy) and not those another name already held: one of the former gone before the flush fails it,
// one of the latter does not. A folder removed takes its records with it.
TEST_F(LocalFileManagerTest, AStagedFlushWritesOutOnlyWhatMayNotBeOnDisk)
{
    using platform::Durability;
    fs::create_directories(folder / "working");
    fs::create_directories(folder / "staged/group");
    write("saved", "saved");
    ASSERT_TRUE(files.linkItem(folder / "saved", folder / "working/kept", nullptr, Durability::WorkingCopy));
    write("working/edited", "edited");
    ASSERT_TRUE(files.linkItemsInto(folder / "working", {{"kept", "kept"}, {"edited", "edited"}}, folder / "staged/group"));
    ASSERT_TRUE(files.flushStaged(folder / "staged"));
    ASSERT_TRUE(files.linkItemsInto(folder / "working", {{"kept", "kept2"}, {"edited", "edited2"}}, folder / "staged/group"));
    fs::remove(folder / "staged/group/kept2");
    ASSERT_TRUE(files.flushStaged(folder / "staged"));
    write("working/new", "new");
    ASSERT_TRUE(files.linkItem(folder / "working/new", folder / "staged/new", nullptr, Durability::Staged));
    fs::remove(folder / "staged/new");
    Error error;
    EXPECT_FALSE(files.flushStaged(folder / "staged", &error));
    EXPECT_EQ(error.code, ENOENT);
    ASSERT_TRUE(files.removeItem(folder / "staged"));
    fs::create_directories(folder / "staged");
    EXPECT_TRUE(files.flushStaged(folder / "staged"));

    // Past the count flushed one by one, one flush of the file system writes them out; a fresh file gone
    // still fails the flush.
    fs::create_directories(folder / "staged/many");
    std::vector<platform::FileManager::LinkName> many;
    for (std::size_t i = 0; i <= platform::LocalFileManager::kFlushedOneByOneUpTo; ++i) {
        write("working/many" + std::to_string(i), "many");
        many.push_back({"many" + std::to_string(i), "many" + std::to_string(i)});
    }
    ASSERT_TRUE(files.linkItemsInto(folder / "working", many, folder / "staged/many"));
    fs::remove(folder / "staged/many/many7");
    EXPECT_FALSE(files.flushStaged(folder / "staged", &error));
    EXPECT_EQ(error.code, ENOENT);
    ASSERT_TRUE(files.linkItem(folder / "working/many7", folder / "staged/many/many7", nullptr, Durability::Staged));
    EXPECT_TRUE(files.flushStaged(folder / "staged"));
}

// A write over the process's file-size limit fails with EFBIG, and the process lives on: the file manager
// ignores the signal the kernel sends for it.
TEST(LocalFileManagerLimits, AWriteOverTheFileSizeLimitFailsWithoutEndingTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TemporaryFolder folder;
    const auto writeTooMuch = [&] {
        std::signal(SIGXFSZ, SIG_DFL);
        platform::LocalFileManager files;
        rlimit small;
        ::getrlimit(RLIMIT_FSIZE, &small);
        small.rlim_cur = 1024;
        ::setrlimit(RLIMIT_FSIZE, &small);
        Error error;
        const bool written = files.writeAtomically(folder / "big", Bytes(8192, 'x'), &error);
        std::exit(!written && error.code == EFBIG && !files.exists(folder / "big") ? 0 : 1);
    };
    EXPECT_EXIT(writeTooMuch(), ::testing::ExitedWithCode(0), "");
}

// Folders are copied and moved with all they hold; a staged copy is the same copy, made durable later with
// its folder. A new folder is made; an existing one is accepted as made. The listing is sorted byte by byte
// and a removal takes a whole tree.
TEST_F(LocalFileManagerTest, MoveCopyListAndRemoveFilesAndFoldersRecursively)
{
    ASSERT_TRUE(files.createDirectory(folder / "src/inner", true));
    write("src/inner/file", "deep");
    write("other", "mine");
    ASSERT_TRUE(files.copyItem(folder / "src", folder / "copy"));
    EXPECT_EQ(read("copy/inner/file"), "deep");
    ASSERT_TRUE(files.copyItem(folder / "other", folder / "other2"));
    EXPECT_EQ(read("other2"), "mine");
    ASSERT_TRUE(files.copyItem(folder / "other", folder / "src/staged", nullptr, platform::Durability::Staged));
    EXPECT_TRUE(files.flushFolder(folder / "src"));
    EXPECT_EQ(read("src/staged"), "mine");
    EXPECT_TRUE(files.moveItem(folder / "other", folder / "moved") && !files.exists(folder / "other"));
    EXPECT_EQ(read("moved"), "mine");
    EXPECT_TRUE(files.moveItem(folder / "src", folder / "renamed") && files.isDirectory(folder / "renamed"));
    EXPECT_EQ(listing(), (Names{"copy", "moved", "other2", "renamed"}));
    EXPECT_EQ(read("renamed/staged"), "mine");
    EXPECT_TRUE(files.createDirectory(folder / "fresh", false) && files.isDirectory(folder / "fresh"));
    EXPECT_TRUE(files.createDirectory(folder / "copy", false) && files.createDirectory(folder / "copy", true));
    for (const char* name : {"b", "B", "a10", "a2", ".hidden", "a"}) write(std::string("fresh/") + name, "x");
    EXPECT_EQ(files.contentsOfDirectory(folder / "fresh"), (Names{".hidden", "B", "a", "a10", "a2", "b"}));
    EXPECT_TRUE(files.removeItem(folder / "renamed") && !files.exists(folder / "renamed"));
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

TEST(SafeNameTest, RefusesNamesThatCouldEscapeTheirFolderAndAnAsideNamesTheFolderItStandsFor)
{
    for (const std::string& good : {std::string("Clean Boost"), std::string("..."), std::string(255, 'n'), std::string("日本語")}) EXPECT_TRUE(platform::SafeName::check(good)) << good;
    for (const std::string& bad : {std::string(), std::string("."), std::string(".."), std::string("a/b"), std::string("..\\x"),
                                  std::string("a\0b", 3), std::string(256, 'n')}) {
        Error error;
        EXPECT_FALSE(platform::SafeName::check(bad, &error)) << bad;
        EXPECT_EQ(error.domain, "files");
        EXPECT_EQ(error.code, bad.size() > 255 ? ENAMETOOLONG : EINVAL);
    }
    // An aside says which folder it stands for, whatever that folder's name holds, and no other name reads as one.
    using platform::WorkFolderName;
    for (const std::string folder : {"Patch", "a.old-1", "x.old-00000000000000000001", ".hidden"}) {
        const std::string aside = WorkFolderName::aside(folder, "01796787748464022108");
        EXPECT_EQ(WorkFolderName::asideOf(aside), folder);
        EXPECT_TRUE(WorkFolderName::is(aside));
    }
    // An earlier version's library aside said nothing of what it stood for.
    for (const char* other : {".Patch-old-00000000000000000001", ".Patch.old-", ".Patch.old-12a", "Patch.old-123", "..old-123"})
        EXPECT_EQ(WorkFolderName::asideOf(other), std::nullopt) << other;
}

}  // namespace

