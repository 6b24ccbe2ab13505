#include "library/models/EffectItem.h"

#include "library/models/ItemArchive.h"
#include "library/models/Pasteboard.h"
#include "platform/plist/KeyedArchiver.h"

using platform::ArchivedValue;
using platform::PlistValue;

std::shared_ptr<EffectItem> EffectItem::initEffectUnknown()
{
    auto item = std::make_shared<EffectItem>();
    item->effectName = "UNKNOWN";
    item->effectCategory = "UNKNOWN";
    item->effectColor.reset();
    item->effectCategoryID = kUnknownCategoryID;
    return item;
}

ArchivedValue EffectItem::encodeWithCoder() const
{
    auto object = std::make_shared<platform::ArchivedObject>();
    object->className = kClassName;
    object->set("effectName", PlistValue(effectName));
    object->set("fileName", PlistValue(fileName));
    object->set("effectCategory", PlistValue(effectCategory));
    object->set("effectNote", PlistValue(effectNote));
    object->set("effectUsedTimes", PlistValue(effectUsedTimes));
    object->set("isFavorite", PlistValue(isFavourite));
    object->set("isDeleted", PlistValue(isDeleted));
    object->set("effectVersion", PlistValue(effectVersion));
    object->set("path", PlistValue(path));
    if (effectColor) object->set("effectColor", PlistValue(*effectColor));
    // The type is written as the signed 32-bit value the original archives hold.
    object->set("effectType", PlistValue(static_cast<std::int32_t>(effectType)));
    object->set("effectCategoryID", PlistValue(effectCategoryID));
    object->set("effectUseUnitNum", PlistValue(effectUseUnitNum));
    if (effectIcon) object->set("effectIcon", PlistValue(effectIcon->TIFFRepresentation()));
    if (effectDisplayedIcon) object->set("effectDisplayedIcon", PlistValue(effectDisplayedIcon->TIFFRepresentation()));
    return ArchivedValue(std::move(object));
}

std::shared_ptr<EffectItem> EffectItem::initWithCoder(const platform::ArchivedObject& coder)
{
    auto item = std::make_shared<EffectItem>();
    item->effectName = ItemArchive::string(coder, "effectName");
    item->fileName = ItemArchive::string(coder, "fileName");
    item->effectCategory = ItemArchive::string(coder, "effectCategory");
    item->effectNote = ItemArchive::string(coder, "effectNote");
    item->effectUsedTimes = ItemArchive::integer(coder, "effectUsedTimes");
    item->isFavourite = ItemArchive::boolean(coder, "isFavorite");
    item->isDeleted = ItemArchive::boolean(coder, "isDeleted");
    item->effectVersion = ItemArchive::string(coder, "effectVersion");
    item->path = ItemArchive::string(coder, "path");
    // Decoding starts from a bare object: no colour key, no colour dictionary.
    if (coder.field("effectColor").isNil()) item->effectColor.reset();
    else item->effectColor = ItemArchive::dictionary(coder, "effectColor");
    item->effectType = static_cast<std::uint32_t>(ItemArchive::integer(coder, "effectType"));
    item->effectCategoryID = static_cast<std::int32_t>(ItemArchive::integer(coder, "effectCategoryID"));
    item->effectUseUnitNum = static_cast<std::int32_t>(ItemArchive::integer(coder, "effectUseUnitNum"));
    if (auto tiff = ItemArchive::data(coder, "effectIcon")) item->effectIcon = BitmapImage::imageWithTIFFData(*tiff);
    if (auto tiff = ItemArchive::data(coder, "effectDisplayedIcon"))
        item->effectDisplayedIcon = BitmapImage::imageWithTIFFData(*tiff);
    return item;
}

const std::vector<std::string>& EffectItem::writableTypesForPasteboard() { return plainTextPasteboardTypes(); }
const std::vector<std::string>& EffectItem::readableTypesForPasteboard() { return plainTextPasteboardTypes(); }

std::optional<Bytes> EffectItem::pasteboardPropertyListForType(const std::string&) const
{
    return platform::KeyedArchiver::archive(encodeWithCoder());
}

std::shared_ptr<EffectItem> EffectItem::initWithPasteboardPropertyList(const Bytes& propertyList, const std::string&)
{
    auto root = ItemArchive::rootObject(propertyList, kClassName);
    return root ? initWithCoder(*root) : nullptr;
}
