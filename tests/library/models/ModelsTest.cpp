#include <gtest/gtest.h>

#include "library/models/DirectoryObject.h"
#include "library/models/Pasteboard.h"
#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"

using platform::PlistDictionary;
using platform::PlistValue;

namespace {

BitmapImage checkerboard()
{
    std::vector<std::uint8_t> rgba;
    for (int i = 0; i < 3 * 2; ++i) {
        const std::uint8_t v = i % 2 ? 0xFF : 0x10;
        rgba.insert(rgba.end(), {v, static_cast<std::uint8_t>(i * 20), 0x80, static_cast<std::uint8_t>(i * 40)});
    }
    return *BitmapImage::make(3, 2, rgba);
}

// The archived root object's own fields, read straight from the archive's object table.
PlistDictionary rootFields(const Bytes& archive)
{
    auto root = platform::KeyedUnarchiver::unarchive(archive);
    EXPECT_TRUE(root && root->object());
    PlistDictionary fields;
    for (const auto& [key, value] : (*root->object())->fields) fields[key] = value.toPlain().value_or(PlistValue());
    return fields;
}

}  // namespace

TEST(DirectoryObject, CopyIsDeepAndKeepsEveryFlag)
{
    auto group = std::make_shared<DirectoryObject>();
    group->name = "Live";
    group->isGroup = true;
    group->isBackUpAllGroup = true;
    group->modelName = "QX-1";
    auto leaf = std::make_shared<DirectoryObject>();
    auto patch = std::make_shared<PatchItem>();
    patch->patchName = "Lead";
    leaf->object = patch;
    group->childDirectories.push_back(leaf);

    auto copy = group->copy();
    copy->childDirectories.push_back(std::make_shared<DirectoryObject>());
    copy->childDirectories[0]->patchItem()->patchName = "Changed";
    EXPECT_EQ(group->childDirectories.size(), 1u);
    EXPECT_NE(copy->childDirectories[0], leaf);
    EXPECT_EQ(patch->patchName, "Lead");
    EXPECT_TRUE(copy->isGroup && copy->isBackUpAllGroup);
    EXPECT_EQ(copy->modelName, "QX-1");

    DirectoryObject empty;
    empty.isGroup = true;
    EXPECT_TRUE(empty.copy()->isGroup);
}

TEST(PatchItem, PasteboardRoundTripGivesAnEqualSeparateItem)
{
    PatchItem item;
    item.patchName = "Clean";
    item.patchComment = "for the verse";
    item.path = "/pool/Clean.qptc";
    item.isWarning = true;
    item.effectDictionnary = PlistDictionary{
        {"NumberOfSlot", 1},
        {"slot 0", PlistDictionary{{"effectName", "Drive"}, {"effectType", 0x0B000123}, {"useUnitNum", 2}}}};
    ASSERT_EQ(PatchItem::writableTypesForPasteboard(), std::vector<std::string>{kPlainTextPasteboardType});

    auto archive = item.pasteboardPropertyListForType(kPlainTextPasteboardType);
    ASSERT_TRUE(archive);
    auto fields = rootFields(*archive);
    EXPECT_TRUE(fields.count("effectDictionnary"));
    auto back = PatchItem::initWithPasteboardPropertyList(*archive, kPlainTextPasteboardType);
    ASSERT_TRUE(back);
    EXPECT_NE(back.get(), &item);
    EXPECT_EQ(back->patchName, item.patchName);
    EXPECT_EQ(back->patchComment, item.patchComment);
    EXPECT_EQ(back->path, item.path);
    EXPECT_TRUE(back->isWarning);
    EXPECT_EQ(back->effectDictionnary, item.effectDictionnary);

    PatchItem target;
    auto* before = &target;
    target.overwriteAllDataFromPatchItem(*back);
    EXPECT_EQ(before->effectDictionnary, item.effectDictionnary);
}

TEST(EffectItem, ArchiveRoundTripsWithAndWithoutIcons)
{
    EffectItem item;
    item.effectName = "Drive";
    item.isFavourite = true;
    item.effectType = 0x8B000123u;
    item.effectCategoryID = 0x0B;
    item.effectUseUnitNum = 3;
    item.effectUsedTimes = 7;
    item.effectColor = PlistDictionary{{"Red", 255}, {"Green", 10}, {"Blue", 0}};

    auto plain = item.pasteboardPropertyListForType("any");
    ASSERT_TRUE(plain);
    auto fields = rootFields(*plain);
    EXPECT_FALSE(fields.count("effectIcon") || fields.count("effectDisplayedIcon"));
    EXPECT_EQ(fields["isFavorite"], PlistValue(true));
    EXPECT_FALSE(fields.count("isFavourite"));
    auto back = EffectItem::initWithPasteboardPropertyList(*plain, "any");
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->effectIcon || back->effectDisplayedIcon);
    EXPECT_TRUE(back->isFavourite);
    EXPECT_EQ(back->effectType, 0x8B000123u);
    EXPECT_EQ(back->effectUseUnitNum, 3);
    EXPECT_EQ(back->effectUsedTimes, 7);
    EXPECT_EQ(back->effectColor, item.effectColor);

    item.effectIcon = checkerboard();
    item.effectDisplayedIcon = checkerboard();
    auto withIcons = EffectItem::initWithPasteboardPropertyList(*item.pasteboardPropertyListForType("any"), "any");
    ASSERT_TRUE(withIcons && withIcons->effectIcon && withIcons->effectDisplayedIcon);
    EXPECT_EQ(*withIcons->effectIcon, checkerboard());

    // Another class's archive is not an effect item.
    EXPECT_FALSE(EffectItem::initWithPasteboardPropertyList(*PatchItem().pasteboardPropertyListForType("x"), "x"));
    EXPECT_FALSE(EffectItem::initWithPasteboardPropertyList(Bytes{'b', 'p', 'l'}, "x"));
}

TEST(EffectItem, UnknownEffect)
{
    auto unknown = EffectItem::initEffectUnknown();
    EXPECT_EQ(unknown->effectCategoryID, 255);
    EXPECT_EQ(unknown->effectName, "UNKNOWN");
    EXPECT_EQ(unknown->effectCategory, "UNKNOWN");
    EXPECT_FALSE(unknown->effectColor);
    auto back = EffectItem::initWithPasteboardPropertyList(*unknown->pasteboardPropertyListForType("x"), "x");
    EXPECT_FALSE(back->effectColor);
    EXPECT_TRUE(EffectItem().effectColor);
}

TEST(BitmapImage, TiffReaderRefusesWhatItCannotHoldSafely)
{
    const Bytes good = checkerboard().TIFFRepresentation();
    ASSERT_TRUE(BitmapImage::imageWithTIFFData(good));
    // Every truncation fails cleanly.
    for (std::size_t size = 0; size < good.size(); size += 7)
        EXPECT_FALSE(BitmapImage::imageWithTIFFData(Bytes(good.begin(), good.begin() + size))) << size;

    // A size beyond the limit is refused before any pixel is read.
    Bytes huge = good;
    huge[8 + 3 * 2 * 4 + 2 + 8 + 3] = 0x7F;
    EXPECT_FALSE(BitmapImage::imageWithTIFFData(huge));
}
