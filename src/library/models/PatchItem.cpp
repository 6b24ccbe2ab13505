#include "library/models/PatchItem.h"

#include "library/models/ItemArchive.h"
#include "library/models/Pasteboard.h"
#include "platform/plist/KeyedArchiver.h"

using platform::ArchivedValue;

void PatchItem::overwriteAllDataFromPatchItem(const PatchItem& other)
{
    if (&other == this) return;
    patchComment = other.patchComment;
    path = other.path;
    patchName = other.patchName;
    effectDictionnary = other.effectDictionnary;
    isWarning = other.isWarning;
}

ArchivedValue PatchItem::encodeWithCoder() const
{
    auto object = std::make_shared<platform::ArchivedObject>();
    object->className = kClassName;
    object->set("patchName", platform::PlistValue(patchName));
    object->set("patchComment", platform::PlistValue(patchComment));
    object->set("isWarning", platform::PlistValue(isWarning));
    object->set("path", platform::PlistValue(path));
    object->set("effectDictionnary", platform::PlistValue(effectDictionnary));
    return ArchivedValue(std::move(object));
}

std::shared_ptr<PatchItem> PatchItem::initWithCoder(const platform::ArchivedObject& coder)
{
    auto item = std::make_shared<PatchItem>();
    item->patchName = ItemArchive::string(coder, "patchName");
    item->patchComment = ItemArchive::string(coder, "patchComment");
    item->isWarning = ItemArchive::boolean(coder, "isWarning");
    item->path = ItemArchive::string(coder, "path");
    item->effectDictionnary = ItemArchive::dictionary(coder, "effectDictionnary");
    return item;
}

const std::vector<std::string>& PatchItem::writableTypesForPasteboard() { return plainTextPasteboardTypes(); }
const std::vector<std::string>& PatchItem::readableTypesForPasteboard() { return plainTextPasteboardTypes(); }

std::optional<Bytes> PatchItem::pasteboardPropertyListForType(const std::string&) const
{
    return platform::KeyedArchiver::archive(encodeWithCoder());
}

std::shared_ptr<PatchItem> PatchItem::initWithPasteboardPropertyList(const Bytes& propertyList, const std::string&)
{
    auto root = ItemArchive::rootObject(propertyList, kClassName);
    return root ? initWithCoder(*root) : nullptr;
}
