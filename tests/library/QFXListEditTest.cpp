#include <gtest/gtest.h>

#include "library/QFXListEdit.h"
#include "library/models/EffectItem.h"
#include "support/library/EffectFiles.h"

using namespace effectfiles;

namespace {

// The stored list every edit starts from: two categories, 0x05 and 0x0D, in a 260-byte file.
const std::vector<Category> kStored = {
    {0x05, {{"Comp.QF2", "1.00", 0x05000002}, {"Gate.QF2", "1.00", 0x05000009, true, true}}},
    {0x0D, {{"Echo.QF2", "1.00", 0x0D000002}, {"Tape.QF2", "1.01", 0x0D000008, false}}},
};

EffectItem item(std::uint32_t type, std::int32_t category, const std::string& version = "2.00", bool favourite = false)
{
    EffectItem e;
    e.fileName = "New.QF2";
    e.effectType = type;
    e.effectCategoryID = category;
    e.effectVersion = version;
    e.isFavourite = favourite;
    return e;
}

Record added(std::uint32_t type) { return {"New.QF2", "2.00", type}; }

}  // namespace

// The coordinator's action tests cover the common edits; these are the edges.
TEST(QFXListEdit, RewritesTheStoredListByteForByte)
{
    const struct {
        const char* name;
        EffectItem item;
        std::int32_t action;
        std::vector<Category> expected;
    } rows[] = {
        {"an add above all appends", item(0x0D000010, 0x0D), QFXListEdit::Add,
         {kStored[0], {0x0D, {kStored[1].records[0], kStored[1].records[1], added(0x0D000010)}}}},
        // Types compare unsigned: a top bit set sorts last.
        {"an add of a high-bit type goes last", item(0x8D000001, 0x0D), QFXListEdit::Add,
         {kStored[0], {0x0D, {kStored[1].records[0], kStored[1].records[1], added(0x8D000001)}}}},
        {"a new category first", item(0x01000001, 0x01), QFXListEdit::Add, {{0x01, {added(0x01000001)}}, kStored[0], kStored[1]}},
        {"a new category last", item(0x20000001, 0x20), QFXListEdit::Add, {kStored[0], kStored[1], {0x20, {added(0x20000001)}}}},
        {"a favourite of a missing type changes nothing", item(0x0D000005, 0x0D, "1.00", true), QFXListEdit::Favourite, kStored},
        {"a delete in a missing category changes nothing", item(0x07000001, 0x07), QFXListEdit::Delete, kStored},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<OKVQFXList> list = QFXListEdit::parse(listFile(kStored, 260));
        ASSERT_TRUE(list);
        QFXListEdit::apply(*list, list->arrayCategory().size(), row.item, row.action);
        const std::size_t grown = std::max<std::size_t>(260, listFile(row.expected).size());
        EXPECT_EQ(list->getByteData(), listFile(row.expected, grown));
    }
}

TEST(QFXListEdit, AStoredCopyWithoutBlocksIsNoBaseForAnEdit)
{
    EXPECT_FALSE(QFXListEdit::parse(Bytes{}));
    EXPECT_FALSE(QFXListEdit::parse(Bytes(300, 0x5A)));
    // A block never closed is no block.
    Bytes unclosed = effectlist::marker(0x3E, 0x0D);
    unclosed.resize(52, 0x01);
    EXPECT_FALSE(QFXListEdit::parse(unclosed));
    // An all-zero file is a device list that holds nothing yet.
    const auto empty = QFXListEdit::parse(Bytes(104, 0));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->arrayCategory().empty());
}

// Two records of one type: the edit changes the record naming the item's file, the file the device
// operation sent or deleted; an item whose file the list does not name changes the first of the type.
TEST(QFXListEdit, ChangesTheRecordOfTheItemsFileAmongRecordsOfOneType)
{
    const Record echo{"Echo.QF2", "1.00", 0x0D000002}, echo2{"Echo2.QF2", "1.00", 0x0D000002};
    const struct {
        const char* file;
        std::int32_t action;
        std::vector<Record> expected;
    } rows[] = {
        {"Echo2.QF2", QFXListEdit::Delete, {echo, {"Echo2.QF2", "1.00", 0x0D000002, false}}},
        {"Echo2.QF2", QFXListEdit::Recover, {echo, {"Echo2.QF2", "2.00", 0x0D000002, true, true}}},
        {"Other.QF2", QFXListEdit::Delete, {{"Echo.QF2", "1.00", 0x0D000002, false}, echo2}},
    };
    for (const auto& row : rows) {
        std::optional<OKVQFXList> list = QFXListEdit::parse(listFile({{0x0D, {echo, echo2}}}));
        ASSERT_TRUE(list);
        EffectItem e = item(0x0D000002, 0x0D, "2.00", true);
        e.fileName = row.file;
        QFXListEdit::apply(*list, 1, e, row.action);
        EXPECT_EQ(list->getByteData(), listFile({{0x0D, row.expected}})) << row.file << " " << row.action;
    }
}
