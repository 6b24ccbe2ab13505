#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "library/PoolCopyLedger.h"
#include "library/UnnamedCopies.h"
#include "platform/files/LocalFileManager.h"
#include "support/files/TemporaryFolder.h"

namespace {

constexpr const char* kLocal = "/root/Temp/Local";

bool meetsFile(const PoolCopyLedger& ledger, const std::string& file)
{
    return ledger.lastMet({file}, {}, kLocal).has_value();
}

bool meetsFolder(const PoolCopyLedger& ledger, const std::string& folder)
{
    return ledger.lastMet({}, {folder}, kLocal).has_value();
}

// Which steps meet the copies not landed yet: a step on a copy's own file; a step on the copies' folder,
// a folder in it or one holding it; the pool's own folder only when the copies go into it. A file that
// lies in the copies' folder is not theirs: a rewrite or read of it meets none of them.
TEST(PoolCopyLedger, AStepMeetsOnlyTheCopiesOfItsFilesAndFolders)
{
    PoolCopyLedger ledger;
    const auto batch = ledger.open({{"/home/u/Drop/A.qptc", "/root/Temp/Local/Group"},
                                    {"/home/u/Drop/B.qptc", "/root/Temp/Local/Group/"}});
    struct Case {
        const char* path;
        bool asFile;
        bool meets;
    };
    const std::vector<Case> cases = {
        {"/home/u/Drop/A.qptc", true, true},
        {"/home/u/Drop/./B.qptc", true, true},
        {"/home/u/Drop/C.qptc", true, false},
        {"/root/Temp/Local/Group/A.qptc", true, false},
        {"/root/Temp/Local/Top.qptc", true, false},
        {"/root/Temp/Local/Group", false, true},
        {"/root/Temp/Local/Group/Inner", false, true},
        {"/root/Temp/Local/Group 2", false, false},
        {"/root/Temp/Local/Groups", false, false},
        {"/root/Temp/Local", false, false},
        {"/root/Temp", false, true},
        {"/root/Temp/RecycleBin", false, false},
        {"", false, false},
        {"", true, false},
    };
    for (const Case& each : cases)
        EXPECT_EQ(each.asFile ? meetsFile(ledger, each.path) : meetsFolder(ledger, each.path), each.meets) << each.path;
    EXPECT_EQ(ledger.lastMet({"/root/Temp/Local/Top.qptc", "/home/u/Drop/A.qptc"}, {}, kLocal), batch);

    const auto top = ledger.open({{"/home/u/One.qptc", kLocal}});
    EXPECT_FALSE(meetsFile(ledger, "/root/Temp/Local/Top.qptc"));
    EXPECT_EQ(ledger.lastMet({}, {kLocal}, kLocal), top);
    // The newest batch met is answered: the ones asked before it land ahead of it.
    EXPECT_EQ(ledger.lastMet({"/home/u/One.qptc"}, {"/root/Temp/Local/Group"}, kLocal), top);
    EXPECT_EQ(ledger.lastMet({}, {"/root/Temp/Local/Group"}, kLocal), batch);
    ledger.close(top);
    ledger.close(batch);
    for (const Case& each : cases)
        EXPECT_FALSE(each.asFile ? meetsFile(ledger, each.path) : meetsFolder(ledger, each.path)) << each.path;
}

// A batch whose copies into a folder are all withdrawn or landed ahead of it stops meeting that folder,
// though it stays open behind other work; one copy still standing there keeps it met.
TEST(PoolCopyLedger, AFolderWhoseCopiesAreAllWithdrawnOrLandedIsMetNoMore)
{
    PoolCopyLedger ledger;
    const std::string group = "/root/Temp/Local/New Group";
    const PoolCopyLedger::Copy a{"/root/Temp/Device/Patch/A.qptc", group};
    const PoolCopyLedger::Copy b{"/root/Temp/Device/Patch/B.qptc", group};
    const PoolCopyLedger::Copy c{"/root/Temp/Device/Patch/C.qptc", kLocal};
    const auto big = ledger.open({{"/home/u/Big.qptc", "/root/Temp/Local/Drop"}});
    const auto rows = ledger.open({a, b, c});
    EXPECT_EQ(ledger.lastMet({}, {group}, kLocal), rows);
    EXPECT_EQ(ledger.withdraw({a}).withdrawn, (std::vector<std::pair<std::uint64_t, std::size_t>>{{rows, 0}}));
    EXPECT_EQ(ledger.lastMet({}, {group}, kLocal), rows);
    ASSERT_TRUE(ledger.takeOrWait(rows, 1));
    ledger.made(rows, 1);
    ledger.landed(rows, 1);
    EXPECT_FALSE(ledger.lastMet({}, {group}, kLocal)) << "a folder whose copies are all withdrawn or landed is met";
    EXPECT_FALSE(ledger.lastMet({a.first, b.first}, {"/root/Temp/Local/Other"}, kLocal));
    EXPECT_EQ(ledger.lastMet({}, {kLocal}, kLocal), rows);
    EXPECT_EQ(ledger.lastMet({}, {"/root/Temp/Local/Drop"}, kLocal), big);
    // A withdrawal finds nothing more to take.
    const auto again = ledger.withdraw({a, b});
    EXPECT_TRUE(again.withdrawn.empty());
    EXPECT_TRUE(again.underWay.empty());
    ledger.close(big);
    ledger.close(rows);
}

// An undo withdraws the newest copy of that file into that folder that has not begun; a begun copy stays.
// A withdrawn copy leaves the count and a landed batch stays in it while others go on: the count made never
// runs backwards until no copy is left (a rename withdraws a drop's copies and asks them again: the count
// goes on where it stood).
TEST(PoolCopyLedger, AWithdrawalTakesTheNewestCopyNotBegunAndCountsItDone)
{
    PoolCopyLedger ledger;
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{0, 0}));
    const PoolCopyLedger::Copy a{"/m/A.qptc", kLocal};
    const PoolCopyLedger::Copy b{"/m/B.qptc", kLocal};
    const auto first = ledger.open({a, b});
    const auto second = ledger.open({a});
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{0, 3}));
    ASSERT_TRUE(ledger.begin(first, 0));
    ledger.made(first, 0);

    const auto taken = ledger.withdraw({a, b});
    EXPECT_EQ(taken.withdrawn, (std::vector<std::pair<std::uint64_t, std::size_t>>{{second, 0}, {first, 1}}));
    EXPECT_TRUE(taken.underWay.empty());
    EXPECT_FALSE(ledger.begin(second, 0));
    EXPECT_FALSE(ledger.begin(first, 1));
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{1, 1}));

    // Nothing of the first batch waits any more: a second withdrawal of A finds none to take.
    const auto third = ledger.open({a});
    ASSERT_TRUE(ledger.begin(third, 0));
    // Too late: the copy under way is answered for the caller to land.
    const auto late = ledger.withdraw({a});
    EXPECT_TRUE(late.withdrawn.empty());
    EXPECT_EQ(late.underWay, (std::vector<std::pair<std::uint64_t, std::size_t>>{{third, 0}}));
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{1, 2}));
    for (const auto batch : {first, second, third}) ledger.close(batch);
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{0, 0}));
    EXPECT_FALSE(ledger.begin(first, 0));

    // A drop of four, one made; a rename withdraws the three waiting and asks them again into the folder
    // it ends with; the first batch lands: the count goes on from where it stood.
    const PoolCopyLedger::Copy c{"/m/C.qptc", kLocal};
    const PoolCopyLedger::Copy d{"/m/D.qptc", kLocal};
    const auto drop = ledger.open({a, b, c, d});
    ASSERT_TRUE(ledger.begin(drop, 0));
    ledger.made(drop, 0);
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{1, 4}));
    EXPECT_EQ(ledger.withdraw({b, c, d}).withdrawn.size(), 3u);
    const PoolCopyLedger::Copy b2{"/m/B.qptc", "/root/Temp/Local/Renamed"};
    const PoolCopyLedger::Copy c2{"/m/C.qptc", "/root/Temp/Local/Renamed"};
    const PoolCopyLedger::Copy d2{"/m/D.qptc", "/root/Temp/Local/Renamed"};
    const auto again = ledger.open({b2, c2, d2});
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{1, 4}));
    ledger.close(drop);
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{1, 4}));
    ASSERT_TRUE(ledger.begin(again, 0));
    ledger.made(again, 0);
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{2, 4}));
    // Renamed once more, and another drop into another group meanwhile: the count goes on where it stood,
    // the other drop's added to it.
    EXPECT_EQ(ledger.withdraw({c2, d2}).withdrawn.size(), 2u);
    const PoolCopyLedger::Copy c3{"/m/C.qptc", "/root/Temp/Local/Again"};
    const PoolCopyLedger::Copy d3{"/m/D.qptc", "/root/Temp/Local/Again"};
    const auto renamedAgain = ledger.open({c3, d3});
    const auto other = ledger.open({{"/m/E.qptc", "/root/Temp/Local/Other"}});
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{2, 5}));
    ledger.close(again);
    ASSERT_TRUE(ledger.begin(other, 0));
    ledger.made(other, 0);
    ledger.close(other);
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{3, 5}));
    // An undo of the drop takes the rest away: the total shrinks, the count made stays.
    EXPECT_EQ(ledger.withdraw({c3, d3}).withdrawn.size(), 2u);
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{3, 3}));
    ledger.close(renamedAgain);
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{0, 0}));
    // The next drop counts from nothing.
    const auto next = ledger.open({a});
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{0, 1}));
    ledger.close(next);
}

// A step on a file finds the copies of it still standing; one it takes is never begun by the queue, and
// once landed ahead of its batch it stands in no step's way by its file (its folder still does while the
// batch's others are under way). A withdrawn copy stands in none either.
TEST(PoolCopyLedger, ACopyTakenAndLandedAheadOfItsBatchNoLongerMeetsAStepOnItsFile)
{
    PoolCopyLedger ledger;
    const PoolCopyLedger::Copy a{"/m/A.qptc", "/root/Temp/Local/G"};
    const PoolCopyLedger::Copy b{"/m/B.qptc", "/root/Temp/Local/G"};
    const auto batch = ledger.open({a, b, a});
    EXPECT_EQ(ledger.copiesOf({"/m/./A.qptc"}), (std::vector<std::pair<std::uint64_t, std::size_t>>{{batch, 0}, {batch, 2}}));
    ASSERT_TRUE(ledger.takeOrWait(batch, 0));
    EXPECT_FALSE(ledger.begin(batch, 0)) << "the queue began a copy a step took";
    ledger.made(batch, 0);
    ledger.landed(batch, 0);
    ledger.withdraw({a});
    EXPECT_EQ(ledger.copiesOf({"/m/A.qptc"}), (std::vector<std::pair<std::uint64_t, std::size_t>>{}));
    EXPECT_FALSE(meetsFile(ledger, "/m/A.qptc"));
    EXPECT_TRUE(meetsFile(ledger, "/m/B.qptc"));
    EXPECT_TRUE(meetsFolder(ledger, "/root/Temp/Local/G"));
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{1, 2}));
    // A copy the queue made is waited for no longer.
    ASSERT_TRUE(ledger.begin(batch, 1));
    ledger.made(batch, 1);
    EXPECT_FALSE(ledger.takeOrWait(batch, 1));
    ledger.close(batch);
}


std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

void put(const TemporaryFolder& folder, const std::string& relative, const std::string& text)
{
    const std::filesystem::path path = folder / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A working copy a cut run left: named entries, copies that landed after the note (one of them twice over,
// one in a group), a half-written copy, a file two folders deep. Each look answers the unnamed file with
// those bytes, once, or nothing.
TEST(UnnamedCopies, AnUnnamedFileIsFoundByItsBytesOnce)
{
    TemporaryFolder local;
    put(local, "Named.qptc", "named");
    put(local, "Group/Named.qptc", "grouped and named");
    put(local, "Late.qptc", "late");
    put(local, "Late (1).qptc", "twice");
    put(local, "Late (2).qptc", "twice");
    put(local, "Group/Late.qptc", "late in a group");
    put(local, ".Cut.qptc.tmp-12-3", "cut");
    put(local, "Group/Inner/Deep.qptc", "deep");
    platform::LocalFileManager files;
    UnnamedCopies copies(files, local.path(), {"Named.qptc", "Group/Named.qptc"}, 64);
    struct Case {
        const char* bytes;
        std::optional<std::string> found;
    };
    const std::vector<Case> cases = {
        {"named", std::nullopt},
        {"grouped and named", std::nullopt},
        {"late", "Late.qptc"},
        {"late", std::nullopt},
        {"late in a group", "Group/Late.qptc"},
        {"cut", std::nullopt},
        {"deep", std::nullopt},
        {"nowhere", std::nullopt},
        {"lat", std::nullopt},
    };
    for (const Case& each : cases) EXPECT_EQ(copies.take(bytesOf(each.bytes)), each.found) << each.bytes;
    // Two files alike: each is handed out once, whichever comes first.
    const auto first = copies.take(bytesOf("twice"));
    const auto second = copies.take(bytesOf("twice"));
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(copies.take(bytesOf("twice")), std::nullopt);
}

}  // namespace
