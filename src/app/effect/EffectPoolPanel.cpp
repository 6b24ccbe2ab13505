#include "app/effect/EffectPoolPanel.h"

#include "app/views/InterfaceTexts.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"

bool EffectPoolPanel::canLoad(const EffectItem& item, bool isIncompatible, bool isDeviceConnected,
                              bool isLoadedEffectList, const std::vector<std::shared_ptr<EffectItem>>& effectList)
{
    if (!isDeviceConnected || !isLoadedEffectList || isIncompatible) return false;
    const std::int64_t index = CommonUtils::checkEffectExisted(item, effectList);
    if (index < 0 || static_cast<std::size_t>(index) >= effectList.size()) return true;
    const auto& entry = effectList[static_cast<std::size_t>(index)];
    if (!entry || entry->effectCategoryID == EffectItem::kUnknownCategoryID) return false;
    return entry->isDeleted;
}

EffectPoolPanel EffectPoolPanel::forSelection(const std::vector<std::shared_ptr<DirectoryObject>>& selectedNodes,
                                              bool isDeviceConnected, bool isLoadedEffectList,
                                              const std::vector<std::shared_ptr<EffectItem>>& effectList)
{
    EffectPoolPanel panel;
    if (selectedNodes.size() != 1 || !selectedNodes.front()) return panel;
    const DirectoryObject& node = *selectedNodes.front();
    const EffectItem* item = node.effectItem();
    if (node.isGroup || item == nullptr) return panel;
    panel.name = item->effectName + " [ " + item->effectCategory + " ]";
    panel.description = item->effectNote;
    panel.version = InterfaceTexts::localizedString("Effect_Version").toStdString() + ": " + item->effectVersion;
    panel.loadEnabled = canLoad(*item, node.isIncompatible, isDeviceConnected, isLoadedEffectList, effectList);
    return panel;
}
