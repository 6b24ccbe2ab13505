#include <gtest/gtest.h>

#include "library/PoolCopyLedger.h"

namespace {

constexpr const char* kLocal = "/root/Temp/Local";

// Which steps meet the copies not landed yet: the copy's own file, its folder and what lies in it, and a
// folder holding it; the pool's own folder only when the copies go into it.
TEST(PoolCopyLedger, AStepMeetsOnlyTheCopiesOfItsFilesAndFolders)
{
    PoolCopyLedger ledger;
    const auto batch = ledger.open({{"/home/u/Drop/A.qptc", "/root/Temp/Local/Group"},
                                    {"/home/u/Drop/B.qptc", "/root/Temp/Local/Group/"}});
    struct Case {
        const char* path;
        bool meets;
    };
    const std::vector<Case> cases = {
        {"/home/u/Drop/A.qptc", true},
        {"/home/u/Drop/./B.qptc", true},
        {"/home/u/Drop/C.qptc", false},
        {"/root/Temp/Local/Group", true},
        {"/root/Temp/Local/Group/A.qptc", true},
        {"/root/Temp/Local/Group 2", false},
        {"/root/Temp/Local/Groups/A.qptc", false},
        {"/root/Temp/Local/Top.qptc", false},
        {"/root/Temp/Local", false},
        {"/root/Temp", true},
        {"/root/Temp/RecycleBin/Top.qptc", false},
        {"", false},
    };
    for (const Case& each : cases) EXPECT_EQ(ledger.touches({each.path}, kLocal), each.meets) << each.path;
    EXPECT_TRUE(ledger.touches({"/root/Temp/Local/Top.qptc", "/home/u/Drop/A.qptc"}, kLocal));

    const auto top = ledger.open({{"/home/u/One.qptc", kLocal}});
    EXPECT_TRUE(ledger.touches({"/root/Temp/Local/Top.qptc"}, kLocal));
    EXPECT_TRUE(ledger.touches({kLocal}, kLocal));
    ledger.close(top);
    ledger.close(batch);
    for (const Case& each : cases) EXPECT_FALSE(ledger.touches({each.path}, kLocal)) << each.path;
}

// An undo withdraws the newest copy of that file into that folder that has not begun; a begun copy stays,
// and every withdrawn or made copy counts as done.
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

    ledger.withdraw({a, b});
    EXPECT_FALSE(ledger.begin(second, 0));
    EXPECT_FALSE(ledger.begin(first, 1));
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{3, 3}));

    // Nothing of the first batch waits any more: a second withdrawal of A finds none to take.
    const auto third = ledger.open({a});
    ASSERT_TRUE(ledger.begin(third, 0));
    ledger.withdraw({a});
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{3, 4}));
    for (const auto batch : {first, second, third}) ledger.close(batch);
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{0, 0}));
    EXPECT_FALSE(ledger.begin(first, 0));
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
    EXPECT_FALSE(ledger.touches({"/m/A.qptc"}, kLocal));
    EXPECT_TRUE(ledger.touches({"/m/B.qptc"}, kLocal));
    EXPECT_TRUE(ledger.touches({"/root/Temp/Local/G/A.qptc"}, kLocal));
    EXPECT_EQ(ledger.progress(), (std::pair<std::size_t, std::size_t>{2, 3}));
    // A copy the queue made is waited for no longer.
    ASSERT_TRUE(ledger.begin(batch, 1));
    ledger.made(batch, 1);
    EXPECT_FALSE(ledger.takeOrWait(batch, 1));
    ledger.close(batch);
}

}  // namespace
