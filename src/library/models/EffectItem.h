#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "library/models/BitmapImage.h"
#include "platform/plist/ArchivedValue.h"
#include "platform/plist/PlistValue.h"

// One effect module as the lists show it: the device effect list and the leaves of the effect pool.
class EffectItem {
public:
    static constexpr const char* kClassName = "EffectItem";
    static constexpr std::int32_t kUnknownCategoryID = 255;

    std::string effectName;
    std::string fileName;
    std::string effectCategory;
    std::string effectNote;
    std::optional<BitmapImage> effectIcon;
    std::optional<BitmapImage> effectDisplayedIcon;
    std::int64_t effectUsedTimes = 0;
    std::int64_t effectUseUnitNum = 0;
    bool isFavourite = false;
    bool isDeleted = false;
    std::string effectVersion;
    std::string path;
    // "Red", "Green", "Blue", each 0 to 255; absent only for the unknown effect.
    std::optional<platform::PlistDictionary> effectColor = platform::PlistDictionary{};
    std::uint32_t effectType = 0;
    std::int32_t effectCategoryID = 0;

    // The stand-in for an effect a patch uses but neither the device nor the pool has.
    static std::shared_ptr<EffectItem> initEffectUnknown();
    std::shared_ptr<EffectItem> copy() const { return std::make_shared<EffectItem>(*this); }

    platform::ArchivedValue encodeWithCoder() const;
    static std::shared_ptr<EffectItem> initWithCoder(const platform::ArchivedObject& coder);

    static const std::vector<std::string>& writableTypesForPasteboard();
    static const std::vector<std::string>& readableTypesForPasteboard();
    std::optional<Bytes> pasteboardPropertyListForType(const std::string& type) const;
    static std::shared_ptr<EffectItem> initWithPasteboardPropertyList(const Bytes& propertyList,
                                                                      const std::string& type);
};
