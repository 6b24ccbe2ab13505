#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "platform/plist/ArchivedValue.h"
#include "platform/plist/PlistValue.h"

// One patch as the lists show it: the device patch list and the leaves of the patch pool.
class PatchItem {
public:
    static constexpr const char* kClassName = "PatchItem";

    std::string patchName;
    std::string path;
    std::string patchComment;
    bool isWarning = false;
    // "NumberOfSlot" and one "slot %d" entry per slot: {"effectName", "effectType", "useUnitNum"}.
    platform::PlistDictionary effectDictionnary;

    std::shared_ptr<PatchItem> copy() const { return std::make_shared<PatchItem>(*this); }
    // Takes the other item's values; the receiver stays the same object, so lists holding it see them.
    void overwriteAllDataFromPatchItem(const PatchItem& other);

    platform::ArchivedValue encodeWithCoder() const;
    static std::shared_ptr<PatchItem> initWithCoder(const platform::ArchivedObject& coder);

    // The pasteboard form: the keyed archive with the item as root, whatever type is asked for.
    static const std::vector<std::string>& writableTypesForPasteboard();
    static const std::vector<std::string>& readableTypesForPasteboard();
    std::optional<Bytes> pasteboardPropertyListForType(const std::string& type) const;
    // A new item from the archive; nothing when the data is not a patch item's archive.
    static std::shared_ptr<PatchItem> initWithPasteboardPropertyList(const Bytes& propertyList, const std::string& type);
};
