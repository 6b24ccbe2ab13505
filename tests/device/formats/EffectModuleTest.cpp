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
    EXPECT_EQ((std::tuple(effect->ckID(), effect->ckSize(), effect->crc(), effect->gen(), effect->supportRegion())),
              (std::tuple("QFX2", 117u, 0xDEADBEEFu, 3u, 0x8000000000000001ull)));
    // The version has four characters and no terminator.
    EXPECT_EQ((std::tuple(effect->regionLevels()[63], effect->useUnitNum(), effect->version(), effect->category())),
              (std::tuple(63, 2, "1.02", 0x0D)));
    EXPECT_EQ(effect->reserve(), (std::array<uint8_t, 2>{0x11, 0x22}));
    EXPECT_EQ((std::tuple(effect->type(), effect->typeName(), effect->categoryLongStr())),
              (std::tuple(0x0D000004u, "TapeDelay", "DELAY")));
    EXPECT_EQ((std::tuple(effect->dispColorR(), effect->dispColorG(), effect->dispColorB())), (std::tuple(255, 128, 1)));

    // H = 117: the icon starts at 125; an empty chunk takes 8 bytes and has no content.
    EXPECT_EQ(std::string(file.begin() + 125, file.begin() + 129), "ICON");
    EXPECT_EQ(effect->icon().content(), (Bytes{0x89, 'P', 'N', 'G'}));
    EXPECT_EQ((std::tuple(effect->textCkJP().isPresent(), effect->textCkJP().ckSize(), effect->textCkJP().content())),
              (std::tuple(true, 0u, Bytes{})));
    EXPECT_EQ(effect->textCkEN().content(), (Bytes{'E', 'c', 'h', 'o'}));
    EXPECT_EQ(effect->dataCk().content(), Bytes(40, 0x5A));

    const DataChunkEffect& info = effect->infoCk();
    EXPECT_EQ((std::tuple(info.flg(), info.categoryShortStr(), info.categoryMidStr())),
              (std::tuple(0x01020304u, "DLY", "Delay")));
    EXPECT_EQ(info.ckReserve(), (std::array<uint8_t, 2>{0xAA, 0xBB}));
    EXPECT_FLOAT_EQ(info.processingLoad(), 12.5f);

    OKVEffect copied = effect->copy();
    EXPECT_EQ((std::tuple(copied.type(), copied.useUnitNum(), copied.typeName(), copied.icon().isPresent())),
              (std::tuple(0x0D000004u, 2, "TapeDelay", false)));

    // The list reader takes the same fields straight from the file.
    auto simple = OKVSimpleEffect::initWithData(file.data(), int64_t(file.size()));
    ASSERT_TRUE(simple);
    EXPECT_EQ((std::tuple(simple->useUnitNum(), simple->type(), simple->typeName(), simple->version())),
              (std::tuple(2, 0x0D000004u, "TapeDelay", "1.02")));
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
    EXPECT_EQ((std::tuple(cut->dataCk().isPresent(), cut->dataCk().ckSize(), cut->dataCk().content())),
              (std::tuple(true, 40u, Bytes{})));
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
    EXPECT_EQ((std::tuple(bad->icon().content(), bad->textCkJP().isPresent(), bad->dataCk().isPresent())),
              (std::tuple(Bytes{}, false, false)));

    // A short information block fills only the fields it holds.
    Bytes shortInfo = file;
    const size_t infoStart = dataStart - 8 - 19;
    ASSERT_EQ(std::string(shortInfo.begin() + infoStart, shortInfo.begin() + infoStart + 4), "INFO");
    LittleEndian::write32(shortInfo.data() + infoStart + 4, 5);
    auto partial = OKVEffect::initWithData(shortInfo);
    ASSERT_TRUE(partial);
    EXPECT_EQ((std::tuple(partial->infoCk().flg(), partial->infoCk().categoryShortStr(), partial->infoCk().processingLoad())),
              (std::tuple(0x01020304u, "", 0.0f)));
}
