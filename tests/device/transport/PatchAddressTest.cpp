#include <gtest/gtest.h>

#include "device/transport/AllPatch.h"

TEST(AllPatch, FlatListRunsGroupThenBankThenPatch)
{
    const AllPatch all = AllPatch::initPatchsListWithNumberOfGroups(2, 3, 4);
    ASSERT_EQ(all.patchsList.size(), 24u);
    EXPECT_EQ(all.numOfBanks, 3);
    for (std::size_t i = 0; i < all.patchsList.size(); ++i) {
        const PatchObject& slot = all.patchsList[i];
        EXPECT_EQ(std::size_t((slot.groupNum * 3 + slot.bankNum) * 4 + slot.patchNum), i);
        EXPECT_TRUE(slot.path.empty());
    }
    EXPECT_EQ(all.patchsList[17].groupNum, 1);
    EXPECT_EQ(all.patchsList[17].bankNum, 1);
    EXPECT_EQ(all.patchsList[17].patchNum, 1);
    EXPECT_TRUE(AllPatch::initPatchsListWithNumberOfGroups(0, 3, 4).patchsList.empty());
    EXPECT_TRUE(AllPatch::initPatchsListWithNumberOfGroups(2, -1, 4).patchsList.empty());

    const AllPatch wrapped = AllPatch::initWithPatchList({PatchObject(1, 2, 3, "x.qptc")});
    EXPECT_EQ(wrapped.numOfGroups, 0);
    const PatchObject copy = wrapped.patchsList[0].copy();
    EXPECT_EQ(copy.path, "x.qptc");
    EXPECT_EQ(copy.bankNum, 2);

    const AllPatch tree = AllPatch::initWithNumberOfGroups(2, 3, 4);
    ASSERT_EQ(tree.groups.size(), 2u);
    ASSERT_EQ(tree.groups[1].banks.size(), 3u);
    EXPECT_EQ(tree.groups[1].banks[2].patchs.size(), 4u);
    EXPECT_EQ(tree.numOfGroups, 0);
}
