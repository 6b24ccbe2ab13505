#pragma once

#include <cstdint>
#include <optional>

#include "common/Bytes.h"
#include "device/formats/OKVQFXList.h"

class EffectItem;

// One change of the device effect list for one effect action. Records are never removed: a deleted
// effect keeps its record with the loaded flag off, so a recover finds it where it was.
class QFXListEdit {
public:
    // The action types of the effect screen's requests.
    enum ActionType : std::int32_t { Update = 1, Delete = 2, Favourite = 3, Recover = 4, Add = 5 };

    // The list a stored copy holds; nothing when the copy is empty, or when it holds bytes but no
    // category block, so that an unreadable copy never becomes an empty list on the device.
    static std::optional<OKVQFXList> parse(const Bytes& stored);

    // The record an effect becomes in the list.
    static OKVQFXInformation recordFor(const EffectItem& item);

    // Changes the item's record in the first category with its ID: the record of its type naming its
    // file, else the first of its type (an add inserts in type order, and makes the category in ID order
    // when the list lacks it). Only the first `categoryCount` categories are looked at: the number the
    // list had when the edit was prepared.
    static void apply(OKVQFXList& list, std::size_t categoryCount, const EffectItem& item, std::int32_t actionType);
};
