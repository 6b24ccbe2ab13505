#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/formats/LittleEndian.h"
#include "device/formats/OKVEffect.h"
#include "device/formats/OKVSimpleEffect.h"
#include "support/device/ModuleFileMaker.h"

using modulefile::moduleFile;

TEST(EffectModule, ReadsHeaderChunksAndInformation)
{
    Bytes file = moduleFile();
    auto effect = OKVEffect::initWithData(file);
    ASSERT_TRUE(effect);
    EXPECT_EQ(effect->ckID(), "QFX2");
    EXPECT_EQ(effect->ckSize(), 117u);
    EXPECT_EQ(effect->crc(), 0xDEADBEEFu);
    EXPECT_EQ(effect->gen(), 3u);
    EXPECT_EQ(effect->supportRegion(), 0x8000000000000001ull);
    EXPECT_EQ(effect->regionLevels()[63], 63);
    EXPECT_EQ(effect->useUnitNum(), 2);
    EXPECT_EQ(effect->version(), "1.02"); // four characters, no terminator
    EXPECT_EQ(effect->reserve(), (std::array<uint8_t, 2>{0x11, 0x22}));
    EXPECT_EQ(effect->category(), 0x0D);
    EXPECT_EQ(effect->type(), 0x0D000004u);
    EXPECT_EQ(effect->typeName(), "TapeDelay");
    EXPECT_EQ(effect->categoryLongStr(), "DELAY");
    EXPECT_EQ(effect->dispColorR(), 255);
    EXPECT_EQ(effect->dispColorG(), 128);
    EXPECT_EQ(effect->dispColorB(), 1);

    // H = 117: the icon starts at 125; an empty chunk takes 8 bytes and has no content.
    EXPECT_EQ(std::string(file.begin() + 125, file.begin() + 129), "ICON");
    EXPECT_EQ(effect->icon().content(), (Bytes{0x89, 'P', 'N', 'G'}));
    EXPECT_TRUE(effect->textCkJP().isPresent());
    EXPECT_EQ(effect->textCkJP().ckSize(), 0u);
    EXPECT_TRUE(effect->textCkJP().content().empty());
    EXPECT_EQ(effect->textCkEN().content(), (Bytes{'E', 'c', 'h', 'o'}));
    EXPECT_EQ(effect->dataCk().content(), Bytes(40, 0x5A));

    const DataChunkEffect& info = effect->infoCk();
    EXPECT_EQ(info.flg(), 0x01020304u);
    EXPECT_EQ(info.categoryShortStr(), "DLY");
    EXPECT_EQ(info.categoryMidStr(), "Delay");
    EXPECT_EQ(info.ckReserve(), (std::array<uint8_t, 2>{0xAA, 0xBB}));
    EXPECT_FLOAT_EQ(info.processingLoad(), 12.5f);

    OKVEffect copied = effect->copy();
    EXPECT_EQ(copied.type(), 0x0D000004u);
    EXPECT_EQ(copied.useUnitNum(), 2);
    EXPECT_EQ(copied.typeName(), "TapeDelay");
    EXPECT_FALSE(copied.icon().isPresent());

    // The list reader takes the same fields straight from the file.
    auto simple = OKVSimpleEffect::initWithData(file.data(), int64_t(file.size()));
    ASSERT_TRUE(simple);
    EXPECT_EQ(simple->useUnitNum(), 2);
    EXPECT_EQ(simple->type(), 0x0D000004u);
    EXPECT_EQ(simple->typeName(), "TapeDelay");
    EXPECT_EQ(simple->version(), "1.02");
    EXPECT_FALSE(OKVSimpleEffect::initWithData(file.data(), 110));
}

TEST(EffectModule, HeaderSizeMovesTheChunksAndShorterFilesAreRefused)
{
    auto longer = OKVEffect::initWithData(moduleFile(121));
    ASSERT_TRUE(longer);
    EXPECT_EQ(longer->icon().ckID(), "ICON");
    EXPECT_EQ(longer->dataCk().content().size(), 40u);

    Bytes file = moduleFile();
    EXPECT_FALSE(OKVEffect::initWithData(Bytes(file.begin(), file.begin() + 124)));
    EXPECT_FALSE(OKVEffect::initWithData(nullptr, 500));
    EXPECT_TRUE(OKVEffect::initWithData(Bytes(file.begin(), file.begin() + 125)));

    Bytes hugeHeader = file;
    LittleEndian::write32(hugeHeader.data() + 4, 0xFFFFFFF0); // would wrap a 32-bit position
    EXPECT_FALSE(OKVEffect::initWithData(hugeHeader));
}

TEST(EffectModule, TruncatedOrCorruptChunksHaveNoContent)
{
    const Bytes file = moduleFile();
    const size_t dataStart = file.size() - 48;
    ASSERT_EQ(std::string(file.begin() + dataStart, file.begin() + dataStart + 4), "DATA");

    // Cut inside the program data: the chunk keeps its size but has no content.
    auto cut = OKVEffect::initWithData(Bytes(file.begin(), file.end() - 1));
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->dataCk().isPresent());
    EXPECT_EQ(cut->dataCk().ckSize(), 40u);
    EXPECT_TRUE(cut->dataCk().content().empty());
    EXPECT_EQ(cut->textCkEN().content(), (Bytes{'E', 'c', 'h', 'o'}));

    // Cut inside a chunk header: that chunk and the ones after it are absent.
    auto headerCut = OKVEffect::initWithData(Bytes(file.begin(), file.begin() + dataStart + 5));
    ASSERT_TRUE(headerCut);
    EXPECT_FALSE(headerCut->dataCk().isPresent());
    EXPECT_TRUE(headerCut->infoCk().isPresent());

    // An icon size that runs far past the end leaves every later chunk absent.
    Bytes corrupt = file;
    LittleEndian::write32(corrupt.data() + 125 + 4, 0xFFFFFFFF);
    auto bad = OKVEffect::initWithData(corrupt);
    ASSERT_TRUE(bad);
    EXPECT_TRUE(bad->icon().content().empty());
    EXPECT_FALSE(bad->textCkJP().isPresent());
    EXPECT_FALSE(bad->dataCk().isPresent());

    // A short information block fills only the fields it holds.
    Bytes shortInfo = file;
    const size_t infoStart = dataStart - 8 - 19;
    ASSERT_EQ(std::string(shortInfo.begin() + infoStart, shortInfo.begin() + infoStart + 4), "INFO");
    LittleEndian::write32(shortInfo.data() + infoStart + 4, 5);
    auto partial = OKVEffect::initWithData(shortInfo);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->infoCk().flg(), 0x01020304u);
    EXPECT_EQ(partial->infoCk().categoryShortStr(), "");
    EXPECT_EQ(partial->infoCk().processingLoad(), 0.0f);
}
