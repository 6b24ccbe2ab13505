#include <gtest/gtest.h>

#include "support/device/DescriptionMaker.h"

using namespace support::descriptionmaker;

TEST(Compatibility, EffectNeedsGenerationRegionLevelAndUnits)
{
    std::array<std::uint8_t, 64> deviceLevels{}, effectLevels{};
    deviceLevels[1] = 2;
    deviceLevels[3] = 5;
    effectLevels[1] = 3;
    effectLevels[3] = 4;
    const DeviceDescription device = effectDevice(0b1010, deviceLevels);

    // Region 1 is below the module's level, region 3 meets it.
    EXPECT_TRUE(device.checkEffectCompatible(effect(0x02, 0b1010, effectLevels, 4)));
    EXPECT_FALSE(device.checkEffectCompatible(effect(0x04, 0b1010, effectLevels, 4)));
    EXPECT_FALSE(device.checkEffectCompatible(effect(0x02, 0b0101, effectLevels, 4)));
    EXPECT_FALSE(device.checkEffectCompatible(effect(0x02, 0b0010, effectLevels, 4)));
    EXPECT_FALSE(device.checkEffectCompatible(effect(0x02, 0b1010, effectLevels, 5)));

    // Region 63 is read like any other, against level 63.
    std::array<std::uint8_t, 64> top{};
    top[63] = 9;
    const DeviceDescription highDevice = effectDevice(std::uint64_t{1} << 63, top);
    EXPECT_TRUE(highDevice.checkEffectCompatible(effect(0x01, std::uint64_t{1} << 63, top, 1)));
    top[63] = 10;
    EXPECT_FALSE(highDevice.checkEffectCompatible(effect(0x01, std::uint64_t{1} << 63, top, 1)));

    EXPECT_FALSE(DeviceDescription().checkEffectCompatible(effect(0x02, 0b1010, effectLevels, 1)));
}

TEST(Compatibility, PatchComparesTheLowByteOfItsUnitCount)
{
    DeviceDescription device;
    device.supportPatchInformation = SupportPatchInformation{{0x01, 0, 0, 0}, {0x04, 0, 0, 0, 0, 0, 0, 0}, {5}};
    OKVPatch patch;
    patch.setGen(0x01);
    patch.setSupportRegion(0x04);
    patch.setEffectTypes(std::vector<std::uint32_t>(0x105, 0));
    EXPECT_TRUE(device.checkPatchCompatible(patch));
    patch.setEffectTypes(std::vector<std::uint32_t>(6, 0));
    EXPECT_FALSE(device.checkPatchCompatible(patch));
    patch.setEffectTypes({});
    patch.setSupportRegion(0x08);
    EXPECT_FALSE(device.checkPatchCompatible(patch));
    patch.setSupportRegion(0x04);
    patch.setGen(0x02);
    EXPECT_FALSE(device.checkPatchCompatible(patch));
    EXPECT_FALSE(DeviceDescription().checkPatchCompatible(patch));
}

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

TEST(SlotLabel, PlacesWithLettersDigitsAndSeparatorsSelectedByTheFormatsLowByte)
{
    struct Case {
        AdvencedPatchInformation info;
        int group, bank, patch;
        std::string label;
    };
    AdvencedPatchInformation offsets = placesLayout({0, 0, 0, 1}, {0, 0, 0, 3}, {0, 0, 1, 1});
    offsets.groupNumberOffset = 1;
    offsets.patchNumberOffset = 1;
    const std::vector<Case> cases{
        {placesLayout({0, 0, 0, 0}, {0, 0, 0, 2}, {0, 0, 0, 1}), 0, 2, 3, "C:3"},
        // Offsets shift each part; tens and ones of a two-digit patch number, lower-case letters for banks.
        {offsets, 2, 1, 11, "3:b:12"},
        // Letters stop at I; anything beyond shows as J. Places left out still take their share of the
        // number, and the thousands place shows all that is above it.
        {placesLayout({0, 0, 0, 0}, {0, 0, 0, 2}, {1, 0, 0, 1}), 0, 9, 12345, "J:125"},
        // Format 4 means the group text table; a bank has none, so its place stays empty.
        {placesLayout({0, 0, 0, 0}, {0, 0, 0, 4}, {0, 0, 0, 1}), 0, 1, 2, ":2"},
        // 0x101 is not 0, so the separator stays, and its low byte 1 picks decimal.
        {placesLayout({0, 0, 0, 0x101}, {0, 0, 0, 0}, {0, 0, 0, 1}), 4, 0, 0, "4:0"},
        // 0x104 is not the table format, and its low byte 4 gives no text.
        {placesLayout({0, 0, 0, 0x104}, {0, 0, 0, 0}, {0, 0, 0, 1}), 4, 0, 0, ":0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withAdvanced(c.info).getOffsetNameOfPatchWithNumGroup(c.group, c.bank, c.patch), c.label);
    // No advanced information, no label.
    EXPECT_EQ(DeviceDescription().getOffsetNameOfPatchWithNumGroup(0, 0, 0), "");
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

TEST(SlotLabel, BinaryDigitsReadTheValueAsUnsigned)
{
    EXPECT_EQ(DeviceDescription::toBinary(0), "0");
    EXPECT_EQ(DeviceDescription::toBinary(1), "1");
    EXPECT_EQ(DeviceDescription::toBinary(10), "1010");
    EXPECT_EQ(DeviceDescription::toBinary(INT64_MIN), "1" + std::string(63, '0'));
}
