#include <gtest/gtest.h>

#include <numeric>

#include "device/formats/AdvencedPatchInformation.h"
#include "device/formats/SupportQFXInformation.h"

namespace {

// A stored advanced reply: 7D 00 dev 43, the four counts as stream pairs, sixteen single bytes, text.
Bytes advancedReply(const Bytes& text)
{
    Bytes reply{0x7D, 0x00, 0x70, 0x43};
    for (unsigned value : {500u, 878u, 50u, 5u}) {
        reply.push_back(static_cast<std::uint8_t>(value & 0x7F));
        reply.push_back(static_cast<std::uint8_t>(value >> 7));
    }
    for (std::uint8_t b = 12; b < 28; ++b) reply.push_back(b);
    reply.insert(reply.end(), text.begin(), text.end());
    return reply;
}

}  // namespace

TEST(AdvencedPatchInformation, ReadsTheFixedLayoutAndTheTextToTheEnd)
{
    const Bytes reply = advancedReply({'A', 'B', 'C', 'D'});
    const auto info = AdvencedPatchInformation::fromAdvancedPatchReply(reply.data(), reply.size());
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ((std::tuple(info->totalNumberOfPatch, info->patchDataSize, info->numberOfPatchInGroup, info->numberOfPatchInBank)),
              (std::tuple(500, 878, 50, 5)));
    EXPECT_EQ((std::tuple(info->patchDisplayMode, info->patchDisplayFormat1000, info->bankNumberOffset,
                          info->groupNumberOffset, info->groupDisplayFormat1000)),
              (std::tuple(12, 17, 18, 23, 27)));
    EXPECT_EQ(info->groupDisplayText, (Bytes{'A', 'B', 'C', 'D'}));

    // The fixed part alone gives an empty text; shorter is refused. Counts carry fourteen bits.
    Bytes fixed = advancedReply({});
    ASSERT_EQ(fixed.size(), 28u);
    fixed[4] = fixed[5] = 0x7F;
    const auto bare = AdvencedPatchInformation::fromAdvancedPatchReply(fixed.data(), fixed.size());
    ASSERT_TRUE(bare.has_value());
    EXPECT_TRUE(bare->groupDisplayText.empty());
    EXPECT_EQ(bare->totalNumberOfPatch, 0x3FFF);
    EXPECT_FALSE(AdvencedPatchInformation::fromAdvancedPatchReply(fixed.data(), 27).has_value());
    EXPECT_FALSE(AdvencedPatchInformation::fromAdvancedPatchReply(nullptr, 40).has_value());
}

TEST(SupportQFXInformation, CopiesExactlyItsSizeAndOwnsTheCopy)
{
    Bytes source(80);
    std::iota(source.begin(), source.end(), 0);
    SupportQFXInformation info;
    ASSERT_TRUE(info.setRegionLvWithByte(source.data(), source.size()));
    ASSERT_TRUE(info.setGenWithByte(source.data(), 4));
    ASSERT_TRUE(info.setRegionWithByte(source.data() + 4, 8));
    ASSERT_TRUE(info.setUseUnitNumWithByte(source.data() + 12, 1));
    source.assign(source.size(), 0xEE);
    ASSERT_EQ(info.regionLv.size(), 64u);
    EXPECT_EQ((std::tuple(info.regionLv[63], info.gen, info.region[0], info.useUnitNum)),
              (std::tuple(63, Bytes{0, 1, 2, 3}, 4, Bytes{12})));

    // A short source is refused and leaves what was there.
    EXPECT_FALSE(info.setRegionLvWithByte(source.data(), 63));
    EXPECT_FALSE(info.setGenWithByte(nullptr, 4));
    EXPECT_EQ(info.regionLv[0], 0);
    EXPECT_EQ(info.gen, (Bytes{0, 1, 2, 3}));
}
