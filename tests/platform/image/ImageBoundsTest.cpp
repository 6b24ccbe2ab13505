// What a picture may cost is bounded by its own bytes: sizes the data cannot fill are refused before any
// pixel is made, and an icon's entries share one picture's worth of pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/BitmapImageRep.h"
#include "support/image/FormatMaker.h"
#include "support/image/ImageMaker.h"

using platform::BitmapImageRep;

namespace {

void put32(Bytes& out, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A BMP of 8-bit (or 4-bit) runs, `width` x `height`, over the given codes.
Bytes runLengthBitmap(std::uint32_t width, std::uint32_t height, const Bytes& codes, bool nibbles = false)
{
    Bytes out = imagemaker::bmp(4, 2, 8);
    out.resize(14 + 40 + 16);
    put32(out, 18, width);
    put32(out, 22, height);
    out[28] = nibbles ? 4 : 8;
    out[30] = nibbles ? 2 : 1;
    out.insert(out.end(), codes.begin(), codes.end());
    return out;
}

// An icon of the given images, each listed as `listedSize` pixels square (0 for 256) so that the first
// sorts first.
Bytes icon(const std::vector<Bytes>& images)
{
    Bytes out;
    imagemaker::putLE(out, 0, 2);
    imagemaker::putLE(out, 1, 2);
    imagemaker::putLE(out, static_cast<std::uint32_t>(images.size()), 2);
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto listed = static_cast<std::uint8_t>(images.size() - i);
        out.insert(out.end(), {listed, listed, 0, 0});
        imagemaker::putLE(out, 1, 2);
        imagemaker::putLE(out, 32, 2);
        imagemaker::putLE(out, static_cast<std::uint32_t>(images[i].size()), 4);
        imagemaker::putLE(out, offset, 4);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const Bytes& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

std::string refusal(const Bytes& data)
{
    platform::Error error;
    EXPECT_FALSE(BitmapImageRep::imageRepWithData(data.data(), data.size(), &error));
    return error.description;
}

}  // namespace

TEST(ImageBounds, RunsCutShortAreRefusedBeforeThePixelsAreMade)
{
    // 8192 x 8192 claimed by a kilobyte of runs that are cut short before the end.
    Bytes runs;
    for (int i = 0; i < 512; ++i) runs.insert(runs.end(), {255, 1});
    EXPECT_NE(refusal(runLengthBitmap(8192, 8192, runs)).find("cut short"), std::string::npos);

    // Codes that reach the last row decode, what they jump over transparent.
    const Bytes reached = runLengthBitmap(4, 3, {4, 1, 0, 0, 0, 2, 0, 1, 2, 2, 0, 1});
    const auto picture = BitmapImageRep::imageRepWithData(reached.data(), reached.size());
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->pixelsWide(), 4U);
    ASSERT_EQ(picture->pixelsHigh(), 3U);
    const auto& rgba = picture->bitmapData();
    EXPECT_EQ(rgba[(2 * 4) * 4 + 3], 0xFF);  // the bottom row, drawn
    EXPECT_EQ(rgba[(1 * 4) * 4 + 3], 0x00);  // the middle row, jumped over
    EXPECT_EQ(rgba[1 * 4 + 3], 0xFF);        // the top row's second pixel, drawn
    EXPECT_EQ(rgba[2 * 4 + 3], 0x00);        // and its third, never reached
}

TEST(ImageBounds, APNGClaimingMorePixelsThanItsDataCanHoldIsRefusedBeforeDecoding)
{
    EXPECT_NE(refusal(imagemaker::pngDeclaring(8192, 8192)).find("claims more pixels than its data can hold"), std::string::npos);
    // The bound is deflate's own ceiling: a large picture of one colour, as small as it can be, still decodes.
    const Bytes flat = imagemaker::png(2048, 2048, std::vector<std::uint8_t>(2048 * 2048 * 4, 0));
    const auto picture = BitmapImageRep::imageRepWithData(flat.data(), flat.size());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixelsWide(), 2048U);
}

TEST(ImageBounds, AnIconTriesOnlyItsBestFewImages)
{
    const Bytes good = imagemaker::png(3, 3);
    const Bytes cut(good.begin(), good.begin() + 40);
    const auto two = icon({cut, cut, good});
    const auto picture = BitmapImageRep::imageRepWithData(two.data(), two.size());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixelsWide(), 3U);
    // Past the third, an icon of thousands of damaged images would be tried for hours.
    EXPECT_FALSE(refusal(icon({cut, cut, cut, good})).empty());
}

TEST(ImageBounds, AnIconsImagesShareOnePicturesWorthOfPixels)
{
    // The best entry asks for all the pixels a picture may have, so no other is tried after it fails.
    const Bytes huge = imagemaker::pngDeclaring(8192, 8192);
    const Bytes good = imagemaker::png(3, 3);
    EXPECT_NE(refusal(icon({huge, good})).find("claims more pixels than its data can hold"), std::string::npos);
    const Bytes large = imagemaker::pngDeclaring(4096, 4096);
    const Bytes fallback = icon({large, good});
    const auto picture = BitmapImageRep::imageRepWithData(fallback.data(), fallback.size());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixelsWide(), 3U);
}

// Writers end a bitmap early when the rest is background: the rows after the end, in 8-bit or 4-bit runs,
// and after a jump, stay transparent and the picture still shows.
TEST(ImageBounds, RunsThatEndTheBitmapEarlyLeaveTheRestTransparent)
{
    const auto alphaAt = [](const BitmapImageRep& picture, std::uint32_t x, std::uint32_t row) {
        return picture.bitmapData()[(row * picture.pixelsWide() + x) * 4 + 3];
    };
    for (const bool nibbles : {false, true}) {
        // The bottom row drawn, then the end: the three rows above it never written.
        const Bytes early = runLengthBitmap(4, 4, {4, 0x11, 0, 1}, nibbles);
        const auto picture = BitmapImageRep::imageRepWithData(early.data(), early.size());
        ASSERT_TRUE(picture) << (nibbles ? "4-bit" : "8-bit");
        EXPECT_EQ(alphaAt(*picture, 0, 3), 0xFF);
        EXPECT_EQ(alphaAt(*picture, 3, 3), 0xFF);
        EXPECT_EQ(alphaAt(*picture, 0, 0), 0x00);
        EXPECT_EQ(alphaAt(*picture, 3, 2), 0x00);

        // A jump to the third row, two pixels there, then the end.
        const Bytes jumped = runLengthBitmap(4, 4, {0, 2, 1, 2, 2, 0x11, 0, 1}, nibbles);
        const auto after = BitmapImageRep::imageRepWithData(jumped.data(), jumped.size());
        ASSERT_TRUE(after) << (nibbles ? "4-bit" : "8-bit");
        EXPECT_EQ(alphaAt(*after, 1, 1), 0xFF);
        EXPECT_EQ(alphaAt(*after, 2, 1), 0xFF);
        EXPECT_EQ(alphaAt(*after, 0, 1), 0x00);
        EXPECT_EQ(alphaAt(*after, 0, 0), 0x00);
        EXPECT_EQ(alphaAt(*after, 0, 3), 0x00);
    }
}
