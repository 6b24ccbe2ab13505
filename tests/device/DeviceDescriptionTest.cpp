#include <gtest/gtest.h>

#include "device/DeviceDescription.h"

namespace {

DeviceDescription withAdvanced(const AdvencedPatchInformation& info)
{
    DeviceDescription description;
    description.advencedPatchInformation = info;
    return description;
}

// Group, bank and patch places all in use: thousands to ones, formats given in that order.
AdvencedPatchInformation placesLayout(std::array<int, 4> group, std::array<int, 4> bank, std::array<int, 4> patch)
{
    AdvencedPatchInformation info;
    info.groupDisplayFormat1000 = group[0];
    info.groupDisplayFormat0100 = group[1];
    info.groupDisplayFormat0010 = group[2];
    info.groupDisplayFormat0001 = group[3];
    info.bankDisplayFormat1000 = bank[0];
    info.bankDisplayFormat0100 = bank[1];
    info.bankDisplayFormat0010 = bank[2];
    info.bankDisplayFormat0001 = bank[3];
    info.patchDisplayFormat1000 = patch[0];
    info.patchDisplayFormat0100 = patch[1];
    info.patchDisplayFormat0010 = patch[2];
    info.patchDisplayFormat0001 = patch[3];
    return info;
}

}  // namespace

TEST(SlotLabel, RunningNumberModesCountFromZeroOrOne)
{
    AdvencedPatchInformation info;
    info.numberOfPatchInGroup = 10;
    info.numberOfPatchInBank = 5;
    info.patchDisplayMode = 2;
    EXPECT_EQ(withAdvanced(info).getOffsetNameOfPatchWithNumGroup(1, 1, 2), "18");
    info.patchDisplayMode = 1;
    EXPECT_EQ(withAdvanced(info).getOffsetNameOfPatchWithNumGroup(1, 1, 2), "17");
    // A running number ignores every place format and offset.
    info.patchNumberOffset = 3;
    info.groupDisplayFormat0001 = 1;
    EXPECT_EQ(withAdvanced(info).getOffsetNameOfPatchWithNumGroup(0, 0, 0), "0");
}

TEST(SlotLabel, PlacesWithLettersDigitsAndSeparators)
{
    EXPECT_EQ(withAdvanced(placesLayout({0, 0, 0, 0}, {0, 0, 0, 2}, {0, 0, 0, 1})).getOffsetNameOfPatchWithNumGroup(0, 2, 3),
              "C:3");
    // Offsets shift each part; tens and ones of a two-digit patch number, lower-case letters for banks.
    AdvencedPatchInformation info = placesLayout({0, 0, 0, 1}, {0, 0, 0, 3}, {0, 0, 1, 1});
    info.groupNumberOffset = 1;
    info.patchNumberOffset = 1;
    EXPECT_EQ(withAdvanced(info).getOffsetNameOfPatchWithNumGroup(2, 1, 11), "3:b:12");
    // Letters stop at I; anything beyond shows as J. Places left out still take their share of the
    // number, and the thousands place shows all that is above it.
    EXPECT_EQ(withAdvanced(placesLayout({0, 0, 0, 0}, {0, 0, 0, 2}, {1, 0, 0, 1})).getOffsetNameOfPatchWithNumGroup(0, 9, 12345),
              "J:125");
    // Format 4 means the group text table; a bank has none, so its place stays empty.
    EXPECT_EQ(withAdvanced(placesLayout({0, 0, 0, 0}, {0, 0, 0, 4}, {0, 0, 0, 1})).getOffsetNameOfPatchWithNumGroup(0, 1, 2),
              ":2");
}

TEST(SlotLabel, GroupTextTableGivesCharactersAndNothingBeyondIt)
{
    AdvencedPatchInformation info = placesLayout({0, 0, 0, 4}, {0, 0, 0, 1}, {0, 0, 0, 1});
    info.groupDisplayText = {'A', 0, 0, 0, 'B', 0, 0, 0};
    EXPECT_EQ(withAdvanced(info).getOffsetNameOfPatchWithNumGroup(0, 1, 2), "A:1:2");
    EXPECT_EQ(withAdvanced(info).getOffsetNameOfPatchWithNumGroup(1, 0, 0), "B:0:0");
    // Group 2 lies beyond the eight bytes the device sent.
    EXPECT_EQ(withAdvanced(info).getOffsetNameOfPatchWithNumGroup(2, 0, 0), ":0:0");

    // Two table places: the tens place reads the entry's second character.
    info = placesLayout({0, 0, 4, 4}, {0, 0, 0, 0}, {0, 0, 0, 1});
    info.groupDisplayText = {'1', 'U', 0, 0};
    EXPECT_EQ(withAdvanced(info).getOffsetNameOfPatchWithNumGroup(0, 0, 7), "U1:7");
}

TEST(SlotLabel, FormatsCompareWholeButSelectByTheLowByte)
{
    // 0x101 is not 0, so the separator stays, and its low byte 1 picks decimal.
    EXPECT_EQ(withAdvanced(placesLayout({0, 0, 0, 0x101}, {0, 0, 0, 0}, {0, 0, 0, 1})).getOffsetNameOfPatchWithNumGroup(4, 0, 0),
              "4:0");
    // 0x104 is not the table format, and its low byte 4 gives no text.
    EXPECT_EQ(withAdvanced(placesLayout({0, 0, 0, 0x104}, {0, 0, 0, 0}, {0, 0, 0, 1})).getOffsetNameOfPatchWithNumGroup(4, 0, 0),
              ":0");
}

TEST(SlotLabel, NoAdvancedInformationGivesNoLabel)
{
    EXPECT_EQ(DeviceDescription().getOffsetNameOfPatchWithNumGroup(0, 0, 0), "");
}

TEST(SlotLabel, BinaryDigitsReadTheValueAsUnsigned)
{
    EXPECT_EQ(DeviceDescription::toBinary(0), "0");
    EXPECT_EQ(DeviceDescription::toBinary(1), "1");
    EXPECT_EQ(DeviceDescription::toBinary(10), "1010");
    EXPECT_EQ(DeviceDescription::toBinary(INT64_MIN), "1" + std::string(63, '0'));
}
