#include <gtest/gtest.h>

#include "support/files/FileSizeLimit.h"
#include "support/server/ZipFixture.h"

using namespace support::zipfixture;

TEST_F(ZipFixture, UnpacksFoldersAndFilesWithTheirDatesAndWhatTheWriterMakes)
{
    const auto dir = dated(zipmaker::folder("Delay/"), dosDate(2015, 3, 14, 9, 26, 52));
    const auto file = dated(zipmaker::file("Delay/delay.qfx", std::string(10000, 'x') + "tail"), dosDate(2016, 7, 1, 12, 0, 30));
    make({dir, file, zipmaker::file("Reverb\\hall.qfx", "hall")});
    platform::Error error;
    ASSERT_TRUE(unzip(error)) << error.describe();
    EXPECT_EQ(zipmaker::readFile(destination / "Delay" / "delay.qfx"), std::string(10000, 'x') + "tail");
    EXPECT_EQ(zipmaker::readFile(destination / "Reverb" / "hall.qfx"), "hall");
    // The folder keeps its own date although a file was written into it afterwards.
    EXPECT_EQ(mtime(destination / "Delay"), ZipArchive::dateWithMSDOSFormat(dir.dosDate));
    EXPECT_EQ(mtime(destination / "Delay" / "delay.qfx"), ZipArchive::dateWithMSDOSFormat(file.dosDate));
    std::tm parts{};
    const auto when = ZipArchive::dateWithMSDOSFormat(static_cast<std::uint32_t>(file.dosDate));
    localtime_r(&when, &parts);
    EXPECT_EQ(std::tuple(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_sec), std::tuple(2016, 7, 30));
    EXPECT_EQ(listing(root / "out"), (Listing{"Effect", "Effect/Delay", "Effect/Delay/delay.qfx", "Effect/Reverb", "Effect/Reverb/hall.qfx"}));
    // The writer makes archives the reader unpacks.
    const auto source = root / "in" / "notes.txt";
    zipmaker::writeFile(source, std::string(40000, 'n'));
    ZipArchive writer((root / "in" / "made.zip").string());
    EXPECT_FALSE(writer.close());
    ASSERT_TRUE(writer.open());
    EXPECT_FALSE(writer.open());
    EXPECT_TRUE(writer.writeFile(source.string()));
    EXPECT_FALSE(writer.writeFile((root / "missing").string()));
    EXPECT_TRUE(writer.writeData({1, 2, 3}, "dir/data.bin"));
    EXPECT_FALSE(writer.writeData({}, "empty.bin"));
    ASSERT_TRUE(writer.close());
    ASSERT_TRUE(ZipArchive::unzipFileAtPath((root / "in" / "made.zip").string(), (destination / "made").string(), true, std::nullopt, &error));
    EXPECT_EQ(zipmaker::readFile(destination / "made" / "notes.txt"), std::string(40000, 'n'));
    EXPECT_EQ(zipmaker::readFile(destination / "made" / "dir" / "data.bin"), std::string("\1\2\3", 3));
}

TEST_F(ZipFixture, EveryDamagedOrHostileArchiveFailsWithItsCodeAndWritesNothing)
{
    const std::string payload = "PAYLOAD-0123456789-PAYLOAD";
    const auto withPayload = [&] {
        make({zipmaker::file("first.txt", "first"), zipmaker::entry("data.bin", payload, 0)});
        return zipmaker::readFile(archive);
    };
    const auto named = [&](const std::string& name) {
        return [this, name] { make({zipmaker::file("fine.txt", "fine"), zipmaker::file(name, "evil")}); };
    };
    auto secret = zipmaker::file("secret.txt", "hidden words");
    secret.password = "sesame";
    std::vector<Entry> many;
    for (int i = 0; i < 11; ++i) many.push_back(zipmaker::file("f" + std::to_string(i), "x"));
    struct Case {
        std::string name;
        std::function<void()> build;
        int code;
        ZipArchive::Limits bounds = {};
    };
    const std::vector<Case> cases{
        {"not a zip", [&] { zipmaker::writeFile(archive, "this is not a zip archive at all"); }, ZipArchive::kErrorOpenArchive},
        // An archive without entries is its end record alone, at the very start of the file where the
        // reader never looks for one; behind a stub, as self-extracting archives have it, the reader finds it.
        {"no entries", [&] { ASSERT_TRUE(zipmaker::write(archive, {})); }, ZipArchive::kErrorOpenFirstFile},
        {"no entries behind a stub",
         [&] {
             ASSERT_TRUE(zipmaker::write(archive, {}));
             zipmaker::writeFile(archive, "stub" + zipmaker::readFile(archive));
         },
         ZipArchive::kErrorOpenFirstFile},
        {"../evil", named("../evil"), ZipArchive::kErrorUnsafeName},
        {"/tmp/evil", named("/tmp/evil"), ZipArchive::kErrorUnsafeName},
        {"a/../../evil", named("a/../../evil"), ZipArchive::kErrorUnsafeName},
        {"..\\evil", named("..\\evil"), ZipArchive::kErrorUnsafeName},
        {"ok/..", named("ok/.."), ZipArchive::kErrorUnsafeName},
        {"link", [&] { make({zipmaker::file("a.txt", "a"), zipmaker::symlink("link", "/etc/passwd")}); },
         ZipArchive::kErrorLinkEntry},
        // The other way an archive marks a link: a stored entry with 0x4000 in the low attribute bits.
        {"stored link", [&] { make({zipmaker::entry("link", "../outside", 0, 0x4000)}); }, ZipArchive::kErrorLinkEntry},
        // A flipped byte in stored data, and a flipped byte of the stored checksum, both fail the checksum.
        {"flipped data", [&] { zipmaker::flipByte(archive, withPayload().find(payload) + 3); }, ZipArchive::kErrorReadEntry},
        // The checksum sits at offset 14 of data.bin's local header and 16 of its central header; the
        // reader refuses to open an entry whose two copies differ, so both change.
        {"flipped checksum",
         [&] {
             const auto bytes = withPayload();
             zipmaker::flipByte(archive, bytes.find(std::string("PK\3\4"), bytes.find("first") + 5) + 14);
             zipmaker::flipByte(archive, bytes.rfind(std::string("PK\1\2")) + 16);
         },
         ZipArchive::kErrorReadEntry},
        // Deflated data damaged in the middle fails too, by checksum or by a broken stream.
        {"damaged stream",
         [&] {
             make({zipmaker::file("big.txt", std::string(50000, 'q') + "end")});
             zipmaker::flipByte(archive, zipmaker::readFile(archive).find("big.txt") + 20);
         },
         ZipArchive::kErrorReadEntry},
        // An entry whose data runs out before its declared size.
        {"short entry", [&] { make({zipmaker::entry("short.bin", "only this", 0, 0, 9000)}); }, ZipArchive::kErrorReadEntry},
        // An end record that counts fewer entries than its directory holds: the reader would stop early.
        {"undercounted",
         [&] {
             make({zipmaker::file("a.txt", "a"), zipmaker::file("b.txt", "b")});
             auto bytes = zipmaker::readFile(archive);
             const auto end = bytes.rfind(std::string("PK\5\6"));
             bytes[end + 8] = bytes[end + 10] = 1;
             zipmaker::writeFile(archive, bytes);
         },
         ZipArchive::kErrorReadEntry},
        // An encrypted entry without a password is refused as encrypted, not as damaged.
        {"encrypted", [&] { make({zipmaker::file("a.txt", "a"), secret}); }, ZipArchive::kErrorEncryptedEntry},
        {"truncated",
         [&] {
             make({zipmaker::file("a.txt", std::string(5000, 'a')), zipmaker::file("b.txt", std::string(5000, 'b'))});
             const auto bytes = zipmaker::readFile(archive);
             zipmaker::writeFile(archive, bytes.substr(0, bytes.size() / 2));
         },
         ZipArchive::kErrorOpenArchive},
        // Declared: refused before a byte is written, under the real limits.
        {"declared too large",
         [&] { make({zipmaker::file("a.txt", "a"), zipmaker::entry("huge.bin", "tiny", 0, 0, 300ull * 1024 * 1024)}); },
         ZipArchive::kErrorTooLarge},
        // Actual bytes counted across entries.
        {"too many bytes",
         [&] { make({zipmaker::file("a.bin", std::string(600, 'a')), zipmaker::file("b.bin", std::string(600, 'b'))}); },
         ZipArchive::kErrorTooLarge, limits(1000, 10)},
        {"too many entries", [&] { make(many); }, ZipArchive::kErrorTooLarge, limits(1000, 10)},
    };
    platform::Error error;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(archive);
        c.build();
        EXPECT_FALSE(unzip(error, c.bounds));
        EXPECT_EQ(std::pair(error.domain, error.code), std::pair(std::string("ZipArchiveErrorDomain"), std::int64_t{c.code}));
        expectNothingWritten();
        // The same bytes held in memory, as a download hands them over, fail the same way.
        const Serviced held = service(true, c.bounds);
        EXPECT_FALSE(held.ok);
        EXPECT_EQ(held.error ? std::pair(held.error->domain, held.error->code) : std::pair(std::string(), std::int64_t{0}),
                  std::pair(std::string("ZipArchiveErrorDomain"), std::int64_t{c.code}));
        expectNothingWritten();
    }
    EXPECT_TRUE(unzip(error, limits(1000, 11)));
    fs::remove_all(destination);
    EXPECT_TRUE(service(true, limits(1000, 11)).ok);
}

// A refused unpack into an existing folder changes nothing there, and never writes through a link in it.
TEST_F(ZipFixture, ARefusedUnpackIntoAnExistingFolderChangesNothingAndNeverFollowsALink)
{
    const auto outside = root / "outside";
    fs::create_directories(outside);
    fs::create_directories(destination);
    fs::create_directory_symlink(outside, destination / "sub");
    zipmaker::writeFile(destination / "a.txt", "old a");
    platform::Error error;
    for (const auto& evil : {zipmaker::file("sub/file.txt", "through the link"), zipmaker::file("../evil", "x")}) {
        make({zipmaker::file("a.txt", "new a"), evil});
        EXPECT_FALSE(unzip(error));
        EXPECT_EQ(error.code, ZipArchive::kErrorUnsafeName);
        EXPECT_TRUE(fs::is_empty(outside));
        EXPECT_EQ(zipmaker::readFile(destination / "a.txt"), "old a");
        EXPECT_EQ(listing(root / "out"), (Listing{"../outside", "Effect", "Effect/a.txt"}));  // the link lists as where it leads
    }
}

TEST_F(ZipFixture, WithoutOverwriteKeepsExistingFilesAndSkipsTheirIndex)
{
    fs::create_directories(destination);
    zipmaker::writeFile(destination / "keep.txt", "mine");
    const auto theirs = dated(zipmaker::file("keep.txt", "theirs"), dosDate(2001, 2, 3, 4, 5, 6));
    make({theirs, zipmaker::file("new.txt", "new")});
    Recorder recorder;
    platform::Error error;
    ASSERT_TRUE(unzip(error, ZipArchive::Limits{}, false, &recorder)) << error.describe();
    EXPECT_EQ(zipmaker::readFile(destination / "keep.txt"), "mine");
    // The kept file's content stays; the closing pass still gives it the entry's date.
    EXPECT_EQ(mtime(destination / "keep.txt"), ZipArchive::dateWithMSDOSFormat(theirs.dosDate));
    EXPECT_EQ(zipmaker::readFile(destination / "new.txt"), "new");
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"start 2", "will 0/2", "will 0/2", "did 0/2", "end"}));

    make({zipmaker::file("keep.txt", "theirs")});
    ASSERT_TRUE(unzip(error));
    EXPECT_EQ(std::pair(zipmaker::readFile(destination / "keep.txt"), zipmaker::readFile(destination / "new.txt")),
              std::pair(std::string("theirs"), std::string("new")));

    // A folder where a file entry goes is kept like a file, and that entry alone is skipped.
    fs::create_directories(destination / "taken.qfx" / "inside");
    make({zipmaker::file("taken.qfx", "file"), zipmaker::file("after.txt", "after")});
    ASSERT_TRUE(unzip(error, ZipArchive::Limits{}, false)) << error.describe();
    EXPECT_TRUE(fs::is_directory(destination / "taken.qfx" / "inside"));
    EXPECT_EQ(zipmaker::readFile(destination / "after.txt"), "after");
    // Overwriting cannot put a file where a folder stands: that stays a failure.
    EXPECT_FALSE(unzip(error));
    EXPECT_TRUE(fs::is_directory(destination / "taken.qfx" / "inside"));
}

TEST_F(ZipFixture, AWriteThatFailsInsideAnEntryFailsTheServiceAndKeepsTheOldFolder)
{
    fs::create_directories(destination);
    zipmaker::writeFile(destination / "old.qfx", "old");
    make({zipmaker::file("small.qfx", "fits"), zipmaker::file("large.qfx", std::string(64 * 1024, 'L'))});
    // A file-size limit makes the write of the large entry fail part-way, as a full disk would; root
    // is bound by it too, where folder permissions would not stop a write.
    Serviced outcome;
    {
        const FileSizeLimit limit(16 * 1024);
        ASSERT_TRUE(limit.held());
        outcome = service(false);
    }
    EXPECT_FALSE(outcome.ok);
    ASSERT_TRUE(outcome.error && outcome.error->underlying);
    EXPECT_EQ(std::tuple(outcome.error->code, outcome.error->info("entry"), outcome.error->underlying->code),
              std::tuple(ZipArchive::kErrorWriteEntry, "large.qfx", EFBIG));
    EXPECT_EQ(listing(root / "out"), (Listing{"Effect", "Effect/old.qfx"}));
    EXPECT_TRUE(fs::exists(archive));
}

// The replace-a-folder service, from a file as from memory: the old folder stays whole on a failure and is
// replaced whole on success, every entry with its date, and nothing is left beside it either way. An archive
// file the service was given goes once unpacked; one held in memory is no file of the service's.
TEST_F(ZipFixture, ServiceSwapsTheWholeFolderInOnlyOnSuccess)
{
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "held" : "file");
        fs::remove_all(root / "out");
        fs::create_directories(destination);
        zipmaker::writeFile(destination / "old.qfx", "old");
        make({zipmaker::file("new.qfx", "new"), zipmaker::file("../../evil", "x")});
        Serviced outcome = service(held);
        EXPECT_FALSE(outcome.ok || outcome.path);
        EXPECT_EQ(outcome.error ? outcome.error->code : 0, ZipArchive::kErrorUnsafeName);
        EXPECT_EQ(listing(root / "out"), (Listing{"Effect", "Effect/old.qfx"}));
        EXPECT_TRUE(fs::exists(archive));

        const auto more = dated(zipmaker::file("sub/more.qfx", std::string(70000, 'm')), dosDate(2019, 5, 6, 7, 8, 10));
        make({zipmaker::file("new.qfx", "new"), more});
        outcome = service(held);
        EXPECT_TRUE(outcome.ok && !outcome.error) << outcome.error->describe();
        EXPECT_EQ(outcome.path, destination.string());
        EXPECT_EQ(listing(root / "out"), (Listing{"Effect", "Effect/new.qfx", "Effect/sub", "Effect/sub/more.qfx"}));
        EXPECT_EQ(zipmaker::readFile(destination / "sub" / "more.qfx"), std::string(70000, 'm'));
        EXPECT_EQ(mtime(destination / "sub" / "more.qfx"), ZipArchive::dateWithMSDOSFormat(more.dosDate));
        EXPECT_EQ(fs::exists(archive), held);
    }
}
