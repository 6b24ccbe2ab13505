#include <gtest/gtest.h>

#include <string>

#include "device/formats/OKVQFXList.h"
#include "support/device/EffectListMaker.h"

namespace {

using effectlist::effect;
using effectlist::marker;

constexpr size_t kRecord = OKVQFXInformation::kRecordSize;

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST(EffectList, RecordLayout)
{
    Bytes r = effect("Comp", "1.0", true, false, 0x23);
    ASSERT_EQ(r.size(), kRecord);
    EXPECT_EQ((std::tuple(std::string(r.begin(), r.begin() + 4), std::string(r.begin() + 13, r.begin() + 16), r[17], r[18])),
              (std::tuple("Comp", "1.0", 1, 0)));
    EXPECT_EQ(Bytes(r.begin() + 19, r.begin() + 23), (Bytes{0x23, 0x01, 0x00, 0x0B}));

    // Any non-zero flag byte reads as set; zero bytes inside texts are skipped.
    r[17] = 0x80;
    r[18] = 7;
    r[1] = 0;
    auto info = OKVQFXInformation::initWithByteData(r.data(), int64_t(r.size()));
    ASSERT_TRUE(info);
    EXPECT_EQ((std::tuple(info->nameQFX(), info->favoriteQFX(), info->isLoadedQFX(), info->getByteData()[17])),
              (std::tuple("Cmp", true, true, 1)));
    EXPECT_FALSE(OKVQFXInformation::initWithByteData(r.data(), 25));

    // Texts fill their fields without a terminator; longer ones are cut.
    info->setNameQFX("ABCDEFGHIJKLMN");
    info->setVersionQFX("1.234");
    r = info->getByteData();
    EXPECT_EQ(std::string(r.begin(), r.begin() + 13), "ABCDEFGHIJKLM");
    EXPECT_EQ(std::string(r.begin() + 13, r.begin() + 17), "1.23");
    auto back = OKVQFXInformation::initWithByteData(r.data(), int64_t(r.size()));
    EXPECT_EQ(std::pair(back->nameQFX(), back->versionQFX()), (std::pair<std::string, std::string>("ABCDEFGHIJKLM", "1.23")));

    // Bytes above 0x7F are characters of that code and go back as the same byte.
    r[0] = 0xE9;
    auto latin = OKVQFXInformation::initWithByteData(r.data(), int64_t(r.size()));
    EXPECT_EQ(latin->nameQFX().substr(0, 2), "\xC3\xA9");
    EXPECT_EQ(latin->getByteData()[0], 0xE9);

    EXPECT_TRUE(OKVQFXList::initWithByteData(nullptr, 52).arrayCategory().empty());
}

TEST(EffectList, ParseAndWriteBackGiveTheSameFile)
{
    Bytes file = join({marker(0x3E, 0x0B), effect("Comp", "1.0", false, true, 1), effect("Gate", "2", true, true, 2),
                       marker(0x3C, 0x0B)});
    ASSERT_EQ(file.size(), 104u);
    OKVQFXList list = OKVQFXList::initWithByteData(file);
    EXPECT_EQ(list.dataSize(), 104);
    ASSERT_EQ(list.arrayCategory().size(), 1u);
    ASSERT_EQ(list.arrayCategory()[0].arrayQFXInformation().size(), 2u);
    EXPECT_EQ(std::pair(list.arrayCategory()[0].categoryID(), list.arrayCategory()[0].arrayQFXInformation()[1].nameQFX()),
              (std::pair<int, std::string>(0x0B, "Gate")));
    EXPECT_EQ(list.getByteData(), file);
}

TEST(EffectList, StrayRecordsAndOpenCategories)
{
    Bytes file = join({marker(0x3E, 1), effect("A", "1", false, false, 1), marker(0x3C, 2), marker(0x3E, 3),
                       marker(0x3C, 1), effect("Stray", "1", false, false, 9), marker(0x3E, 4),
                       effect("Lost", "1", false, false, 5), Bytes(kRecord - 1, 0x3E)});
    OKVQFXList list = OKVQFXList::initWithByteData(file);
    EXPECT_EQ(list.dataSize(), int64_t(file.size()));
    // A closing record of another ID and an opening record inside a category become its effects; the stray
    // record between categories, the category never closed and the partial record are dropped.
    ASSERT_EQ(list.arrayCategory().size(), 1u);
    const auto& effects = list.arrayCategory()[0].arrayQFXInformation();
    ASSERT_EQ(effects.size(), 3u);
    EXPECT_EQ((std::tuple(effects[0].nameQFX(), effects[1].nameQFX(), effects[2].nameQFX())),
              (std::tuple("A", "<<<\x02", ">>>\x03")));
    EXPECT_TRUE(list.endsInsideBlock());

    Bytes written = list.getByteData();
    ASSERT_EQ(written.size(), file.size());
    // The block is rewritten (the marker-like records now as plain effect records, their zero byte gone)
    // and reads back the same; everything after it is zeros.
    const size_t block = 5 * kRecord;
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 2 * kRecord), Bytes(file.begin(), file.begin() + 2 * kRecord));
    EXPECT_EQ(Bytes(written.begin() + block, written.end()), Bytes(file.size() - block, 0));
    OKVQFXList reread = OKVQFXList::initWithByteData(written);
    ASSERT_EQ(reread.arrayCategory().size(), 1u);
    EXPECT_EQ(reread.arrayCategory()[0].arrayQFXInformation()[2].nameQFX(), ">>>\x03");
    EXPECT_FALSE(reread.endsInsideBlock());
}

TEST(EffectList, AddedAndRemovedRecords)
{
    Bytes file = join({marker(0x3E, 0x0B), effect("Comp", "1.0", false, true, 1), effect("Gate", "2", true, true, 2),
                       marker(0x3C, 0x0B), marker(0x3E, 0x0C), effect("Amp", "3", false, true, 3),
                       marker(0x3C, 0x0C)});
    OKVQFXList list = OKVQFXList::initWithByteData(file);
    ASSERT_EQ(list.arrayCategory().size(), 2u);

    // Removing keeps the file's size: the freed record is zeros at the end and reads back as nothing.
    auto& first = list.arrayCategory()[0].arrayQFXInformation();
    first.erase(first.begin());
    Bytes shrunk = list.getByteData();
    ASSERT_EQ(shrunk.size(), file.size());
    EXPECT_EQ(Bytes(shrunk.end() - kRecord, shrunk.end()), Bytes(kRecord, 0));
    OKVQFXList reread = OKVQFXList::initWithByteData(shrunk);
    ASSERT_EQ(reread.arrayCategory().size(), 2u);
    EXPECT_EQ(reread.arrayCategory()[0].arrayQFXInformation().size(), 1u);
    EXPECT_EQ(reread.arrayCategory()[1].arrayQFXInformation()[0].nameQFX(), "Amp");

    // Adding a record and a category grows the file to fit.
    OKVQFXInformation added;
    added.setNameQFX("Delay");
    added.setType({4, 0, 0, 0x0D});
    QFXListCategory delay = QFXListCategory::initWithCategoryID(0x10D); // only the low byte is stored
    delay.arrayQFXInformation().push_back(added.copy());
    reread.arrayCategory().push_back(delay);
    reread.arrayCategory()[0].arrayQFXInformation().push_back(added);
    Bytes grown = reread.getByteData();
    EXPECT_EQ(reread.dataSize(), int64_t(grown.size()));
    EXPECT_EQ(grown.size(), (4 + 3 + 3) * kRecord);
    OKVQFXList last = OKVQFXList::initWithByteData(grown);
    ASSERT_EQ(last.arrayCategory().size(), 3u);
    EXPECT_EQ(last.arrayCategory()[2].categoryID(), 0x0D);
    EXPECT_EQ(last.arrayCategory()[2].arrayQFXInformation()[0].type(), (std::array<uint8_t, 4>{4, 0, 0, 0x0D}));
    EXPECT_EQ(last.arrayCategory()[0].arrayQFXInformation()[1].nameQFX(), "Delay");
}
