#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "device/formats/LittleEndian.h"
#include "device/formats/OKVPatch.h"
#include "platform/files/LocalFileManager.h"
#include "support/device/ModuleFileMaker.h"
#include "support/files/TemporaryFolder.h"

namespace {

using modulefile::putChunk;

// A record as the device writes it; `order` lets a test swap the chunks.
Bytes record(const std::vector<uint32_t>& types, const char* name, const Bytes& en,
             std::vector<const char*> order = {"TXJ1", "TXE1", "EDTB", "PPRM"})
{
    Bytes out = {'P', 'T', 'C', 'F', 0, 0, 0, 0};
    LittleEndian::append32(out, 0x0000000F);                 // gen
    LittleEndian::append32(out, uint32_t(types.size()));      // usedUnit
    LittleEndian::append64(out, 0x8000000000000003ull);      // supportRegion
    out.insert(out.end(), {0xAB, 0xCD});                      // reserve
    for (size_t i = 0; i < 10; ++i) out.push_back(i < strlen(name) ? uint8_t(name[i]) : 0);
    for (uint32_t t : types) LittleEndian::append32(out, t);
    for (const char* id : order) {
        std::string which = id;
        putChunk(out, id, which == "TXJ1" ? Bytes{0x82, 0xA0, 0, 0} : which == "TXE1" ? en
                         : which == "EDTB" ? Bytes{1, 2, 3} : Bytes{9, 8, 7, 6, 5});
    }
    out.resize((out.size() + 3) / 4 * 4, 0);
    LittleEndian::write32(out.data() + 4, uint32_t(out.size()));
    return out;
}

size_t offsetOf(const Bytes& bytes, const char* id)
{
    return size_t(std::search(bytes.begin(), bytes.end(), id, id + 4) - bytes.begin());
}

} // namespace

TEST(PatchData, ReadsEveryFieldAndWritesTheSameBytesBack)
{
    Bytes bytes = record({0x0B000123, 1, 0}, "Lead", Bytes{'H', 'i', '!', 0});
    auto patch = OKVPatch::initWithData(bytes);
    ASSERT_TRUE(patch);
    EXPECT_EQ((std::tuple(patch->ckID(), patch->gen(), patch->usedUnit(), patch->supportRegion(), patch->patchName())),
              (std::tuple("PTCF", 0x0Fu, 3u, 0x8000000000000003ull, "Lead")));
    EXPECT_EQ(patch->reserve(), (std::array<uint8_t, 2>{0xAB, 0xCD}));
    EXPECT_EQ(patch->effectTypes(), (std::vector<uint32_t>{0x0B000123, 1, 0}));
    EXPECT_EQ(patch->commentEN().content(), (Bytes{'H', 'i', '!', 0}));
    EXPECT_EQ(patch->editBuffer().content(), (Bytes{1, 2, 3}));
    EXPECT_EQ(patch->prm().ckSize(), 5u);
    EXPECT_EQ(std::pair(patch->data(), patch->getByteData()), std::pair(bytes, bytes));
}

TEST(PatchData, WritingPadsCommentsAndTheRecordAndFillsInTheLength)
{
    OKVPatch patch;
    patch.setPatchName("Clean");
    patch.commentEN().setContent({'h', 'e', 'l', 'l', 'o'});
    patch.editBuffer().setContent({1, 2, 3});
    patch.prm().setContent({4});
    Bytes bytes = patch.getByteData();

    // No units: the first chunk starts at 36.
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "TXJ1");
    EXPECT_EQ(patch.commentEN().ckSize(), 8u); // 5 text bytes and 3 zero bytes
    EXPECT_EQ(LittleEndian::read32(bytes.data() + 44 + 4), 8u);
    EXPECT_EQ(bytes.size() % 4, 0u);
    EXPECT_EQ(LittleEndian::read32(bytes.data() + 4), bytes.size());
    // Name zero-filled to 10 bytes; the edit buffer and parameters keep odd sizes.
    EXPECT_EQ(Bytes(bytes.begin() + 26, bytes.begin() + 36), (Bytes{'C', 'l', 'e', 'a', 'n', 0, 0, 0, 0, 0}));

    auto back = OKVPatch::initWithData(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->editBuffer().content(), (Bytes{1, 2, 3}));

    // A name of the field's full 10 bytes has no terminator; a longer one is cut.
    back->setPatchName("ABCDEFGHIJKL");
    EXPECT_EQ(OKVPatch::initWithData(back->getByteData())->patchName(), "ABCDEFGHIJ");

    // A record read and written with its name untouched keeps the whole name field, bytes after its
    // first zero byte included; a name set replaces all ten.
    Bytes odd = bytes;
    const Bytes field{'A', 0, 0xFF, 'b', 0, 0, 0, 0, 0, 7};
    std::copy(field.begin(), field.end(), odd.begin() + 26);
    auto kept = OKVPatch::initWithData(odd);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->patchName(), "A");
    EXPECT_EQ(kept->getByteData(), odd);
    kept->setPatchName("B");
    const Bytes renamed = kept->getByteData();
    EXPECT_EQ(Bytes(renamed.begin() + 26, renamed.begin() + 36), (Bytes{'B', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(PatchData, RefusesMalformedRecords)
{
    const Bytes good = record({0x0B000123}, "X", {'a', 0, 0, 0});
    ASSERT_TRUE(OKVPatch::initWithData(good));

    EXPECT_FALSE(OKVPatch::initWithData(record({}, "X", {}, {"TXE1", "TXJ1", "EDTB", "PPRM"})));
    EXPECT_FALSE(OKVPatch::initWithData(record({}, "X", {}, {"TXJ1", "TXE1", "PPRM", "EDTB"})));
    EXPECT_FALSE(OKVPatch::initWithData(nullptr, 100));
    EXPECT_FALSE(OKVPatch::initWithData(Bytes(good.begin(), good.begin() + 20)));

    Bytes sizeBeyond = good;
    LittleEndian::write32(sizeBeyond.data() + 4, uint32_t(good.size() + 1));
    EXPECT_FALSE(OKVPatch::initWithData(sizeBeyond));

    Bytes manyUnits = good;
    LittleEndian::write32(manyUnits.data() + 12, 0xFFFFFFFF); // 4U must not wrap
    EXPECT_FALSE(OKVPatch::initWithData(manyUnits));

    Bytes hugeChunk = good;
    LittleEndian::write32(hugeChunk.data() + 40 + 4, 0xFFFFFFF8); // TXJ1 size wraps q if added in 32 bits
    EXPECT_FALSE(OKVPatch::initWithData(hugeChunk));

    Bytes lastChunkPastEnd = good;
    LittleEndian::write32(lastChunkPastEnd.data() + offsetOf(good, "PPRM") + 4, 64);
    EXPECT_FALSE(OKVPatch::initWithData(lastChunkPastEnd));

    // Cut short anywhere, even with a size field that agrees: refused, never read past the end.
    for (size_t n = 0; n < offsetOf(good, "PPRM") + 8 + 5; ++n) {
        Bytes cut(good.begin(), good.begin() + n);
        if (n >= 8)
            LittleEndian::write32(cut.data() + 4, uint32_t(n));
        EXPECT_FALSE(OKVPatch::initWithData(cut)) << n;
    }
}

TEST(PatchData, ShorterSizeFieldIsAcceptedWhileEveryChunkTestHolds)
{
    Bytes bytes = record({}, "X", {});
    const auto prmStart = uint32_t(offsetOf(bytes, "PPRM"));
    // Content positions count from offset 8: the last chunk may start exactly at the size field's end.
    LittleEndian::write32(bytes.data() + 4, prmStart - 8);
    EXPECT_TRUE(OKVPatch::initWithData(bytes));
    LittleEndian::write32(bytes.data() + 4, prmStart - 9);
    EXPECT_FALSE(OKVPatch::initWithData(bytes));
}

TEST(PatchData, RecordsBeyondTheDeviceMaximumAreRefusedNotCut)
{
    Bytes big = record({}, "Big", Bytes(OKVPatch::kMaxPatchDataSize, 'x'));
    EXPECT_GT(big.size(), size_t(OKVPatch::kMaxPatchDataSize));
    EXPECT_FALSE(OKVPatch::initWithData(big));

    OKVPatch patch;
    patch.commentEN().setContent(Bytes(OKVPatch::kMaxPatchDataSize - 100, 'y'));
    ASSERT_LE(patch.getByteData().size(), size_t(OKVPatch::kMaxPatchDataSize));
    EXPECT_TRUE(OKVPatch::initWithData(patch.getByteData()));
}

TEST(PatchData, FileRoundTripAndRefusals)
{
    TemporaryFolder folder;
    platform::LocalFileManager files;
    auto path = [&](const char* name) { return folder / name; };
    auto patch = OKVPatch::initWithData(record({7}, "Solo", {'x', 0, 0, 0}));
    ASSERT_TRUE(patch);
    ASSERT_TRUE(patch->writeToFile(files, path("0_1_2.qptc")));
    platform::Error error;
    auto back = OKVPatch::initWithContentsOfFile(files, path("0_1_2.qptc"), &error);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->patchName(), "Solo");
    EXPECT_EQ(back->effectTypes(), std::vector<uint32_t>{7});

    // A grown record is refused and the file keeps its old contents.
    const Bytes before = *files.readFile(path("0_1_2.qptc"));
    back->prm().setContent(Bytes(OKVPatch::kMaxPatchDataSize, 1));
    EXPECT_FALSE(back->writeToFile(files, path("0_1_2.qptc"), &error));
    EXPECT_EQ(std::pair(error.domain, error.code), std::pair(std::string(OKVPatch::kErrorDomain), std::int64_t(OKVPatch::TooLarge)));
    EXPECT_EQ(*files.readFile(path("0_1_2.qptc")), before);

    ASSERT_TRUE(files.writeAtomically(path("big.qptc"), Bytes(OKVPatch::kMaxPatchDataSize + 1, 0)));
    EXPECT_FALSE(OKVPatch::initWithContentsOfFile(files, path("big.qptc"), &error));
    EXPECT_EQ(error.code, OKVPatch::TooLarge);

    ASSERT_TRUE(files.writeAtomically(path("junk.qptc"), Bytes{'P', 'T', 'C', 'F', 1, 2, 3}));
    EXPECT_FALSE(OKVPatch::initWithContentsOfFile(files, path("junk.qptc"), &error));
    EXPECT_EQ(error.code, OKVPatch::Malformed);

    EXPECT_FALSE(OKVPatch::initWithContentsOfFile(files, path("missing.qptc"), &error));
    EXPECT_NE(error.domain, OKVPatch::kErrorDomain);
}
