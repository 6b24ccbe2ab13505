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
    const auto count = static_cast<std::uint32_t>(images.size());
    imagemaker::putFields(out, {{0, 2}, {1, 2}, {count, 2}});
    std::uint32_t offset = 6 + 16 * count;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto listed = static_cast<std::uint8_t>(count - i);
        out.insert(out.end(), {listed, listed, 0, 0});
        imagemaker::putFields(out, {{1, 2}, {32, 2}, {static_cast<std::uint32_t>(images[i].size()), 4}, {offset, 4}});
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

std::optional<BitmapImageRep> read(const Bytes& data) { return BitmapImageRep::imageRepWithData(data.data(), data.size()); }

// The opacity of each pixel, row by row from the top, as a text of '#' (opaque) and '.' (clear).
std::string opacity(const BitmapImageRep& picture)
{
    std::string rows;
    for (std::uint32_t y = 0; y < picture.pixelsHigh(); ++y, rows += '|')
        for (std::uint32_t x = 0; x < picture.pixelsWide(); ++x) rows += picture.bitmapData()[(y * picture.pixelsWide() + x) * 4 + 3] ? '#' : '.';
    return rows;
}

const std::string kClaimsTooMuch = "claims more pixels than its data can hold";

}  // namespace

TEST(ImageBounds, PicturesClaimingMoreThanTheirDataCanHoldAreRefusedBeforeThePixelsAreMade)
{
    EXPECT_NE(refusal(imagemaker::pngDeclaring(8192, 8192)).find(kClaimsTooMuch), std::string::npos);
    // The bound is deflate's own ceiling: a large picture of one colour, as small as it can be, still decodes.
    const auto picture = read(imagemaker::png(2048, 2048, std::vector<std::uint8_t>(2048 * 2048 * 4, 0)));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixelsWide(), 2048U);
    // Past the third, an icon of thousands of damaged images would be tried for hours. The best entry asks for
    // all the pixels a picture may have, so no other is tried after it fails; one that asks for less leaves
    // room for the next.
    const Bytes good = imagemaker::png(3, 3);
    const Bytes cut(good.begin(), good.begin() + 40);
    for (const auto& images : {std::vector<Bytes>{cut, cut, good}, {imagemaker::pngDeclaring(4096, 4096), good}}) {
        const auto shown = read(icon(images));
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->pixelsWide(), 3U);
    }
    EXPECT_FALSE(refusal(icon({cut, cut, cut, good})).empty());
    EXPECT_NE(refusal(icon({imagemaker::pngDeclaring(8192, 8192), good})).find(kClaimsTooMuch), std::string::npos);
    // 8192 x 8192 claimed by a kilobyte of runs that are cut short before the end is refused; codes that reach
    // the last row decode, what they jump over transparent. Writers end a bitmap early when the rest is
    // background: the rows after the end, in 8-bit or 4-bit runs, and after a jump, stay transparent too.
    Bytes runs;
    for (int i = 0; i < 512; ++i) runs.insert(runs.end(), {255, 1});
    EXPECT_NE(refusal(runLengthBitmap(8192, 8192, runs)).find("cut short"), std::string::npos);
    const auto jumping = read(runLengthBitmap(4, 3, {4, 1, 0, 0, 0, 2, 0, 1, 2, 2, 0, 1}));
    ASSERT_TRUE(jumping);
    EXPECT_EQ(opacity(*jumping), "##..|....|####|");
    for (const bool nibbles : {false, true}) {
        SCOPED_TRACE(nibbles ? "4-bit" : "8-bit");
        // The bottom row drawn, then the end: the three rows above it never written.
        const auto early = read(runLengthBitmap(4, 4, {4, 0x11, 0, 1}, nibbles));
        ASSERT_TRUE(early);
        EXPECT_EQ(opacity(*early), "....|....|....|####|");
        // A jump to the third row, two pixels there, then the end.
        const auto jumped = read(runLengthBitmap(4, 4, {0, 2, 1, 2, 2, 0x11, 0, 1}, nibbles));
        ASSERT_TRUE(jumped);
        EXPECT_EQ(opacity(*jumped), "....|.##.|....|....|");
    }
}

