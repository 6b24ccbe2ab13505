#include "library/QFXListEdit.h"

#include <algorithm>

#include "device/formats/LittleEndian.h"
#include "library/models/EffectItem.h"

namespace {

std::uint32_t typeOf(const OKVQFXInformation& record) { return LittleEndian::read32(record.type().data()); }

}  // namespace

std::optional<OKVQFXList> QFXListEdit::parse(const Bytes& stored)
{
    if (stored.empty()) return std::nullopt;
    OKVQFXList list = OKVQFXList::initWithByteData(stored);
    const bool holdsBytes = std::any_of(stored.begin(), stored.end(), [](std::uint8_t b) { return b != 0; });
    if (list.arrayCategory().empty() && holdsBytes) return std::nullopt;
    return list;
}

OKVQFXInformation QFXListEdit::recordFor(const EffectItem& item)
{
    OKVQFXInformation record;
    record.setNameQFX(item.fileName);
    record.setVersionQFX(item.effectVersion);
    record.setFavoriteQFX(item.isFavourite);
    std::array<std::uint8_t, 4> type{};
    LittleEndian::write32(type.data(), item.effectType);
    record.setType(type);
    record.setIsLoadedQFX(true);
    return record;
}

void QFXListEdit::apply(OKVQFXList& list, std::size_t categoryCount, const EffectItem& item, std::int32_t actionType)
{
    auto& categories = list.arrayCategory();
    const std::size_t count = std::min(categoryCount, categories.size());
    const auto end = categories.begin() + static_cast<std::ptrdiff_t>(count);
    const auto category = std::find_if(categories.begin(), end, [&](const QFXListCategory& c) {
        return c.categoryID() == item.effectCategoryID;
    });
    if (category == end) {
        if (actionType != Add) return;
        QFXListCategory added(item.effectCategoryID);
        added.arrayQFXInformation().push_back(recordFor(item));
        const auto before = std::find_if(categories.begin(), end, [&](const QFXListCategory& c) {
            return c.categoryID() > item.effectCategoryID;
        });
        categories.insert(before, std::move(added));
        return;
    }
    auto& records = category->arrayQFXInformation();
    if (actionType == Add) {
        const auto before = std::find_if(records.begin(), records.end(), [&](const OKVQFXInformation& r) {
            return typeOf(r) > item.effectType;
        });
        records.insert(before, recordFor(item));
        return;
    }
    // Among records of one type, the one naming the item's file is the one its device file belongs to.
    auto record = std::find_if(records.begin(), records.end(), [&](const OKVQFXInformation& r) {
        return typeOf(r) == item.effectType && r.nameQFX() == item.fileName;
    });
    if (record == records.end())
        record = std::find_if(records.begin(), records.end(),
                              [&](const OKVQFXInformation& r) { return typeOf(r) == item.effectType; });
    if (record == records.end()) return;
    switch (actionType) {
        case Update:
            record->setVersionQFX(item.effectVersion);
            break;
        case Delete:
            record->setIsLoadedQFX(false);
            break;
        case Favourite:
            record->setFavoriteQFX(item.isFavourite);
            break;
        case Recover:
            record->setIsLoadedQFX(true);
            record->setVersionQFX(item.effectVersion);
            record->setFavoriteQFX(item.isFavourite);
            break;
        default:
            break;
    }
}
