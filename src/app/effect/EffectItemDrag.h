#pragma once

#include <memory>
#include <vector>

class EffectItem;
class QMimeData;

// The form pool effects travel in while dragged onto the device list: the program's own type, holding
// each item's keyed archive. No other program writes it, and nothing else is read from a drop.
class EffectItemDrag {
public:
    static constexpr const char* kMimeType = "application/x-pexo-rigmora-effect-items";

    // Nothing when no item could be archived.
    static std::unique_ptr<QMimeData> mimeDataForItems(const std::vector<std::shared_ptr<EffectItem>>& items);
    // The items in the order they were written; the ones that do not read as effect items are left out.
    static std::vector<std::shared_ptr<EffectItem>> itemsFromMimeData(const QMimeData& data);
};
