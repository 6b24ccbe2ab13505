#pragma once

#include <memory>
#include <string>
#include <vector>

class DirectoryObject;
class EffectItem;

// The information panel under the effect pool: the selected effect's name, description and version, and
// whether the Load button can load it into the device.
struct EffectPoolPanel {
    std::string name;
    std::string description;
    std::string version;
    bool loadEnabled = false;

    // Only one selected effect row fills the panel; anything else empties it.
    static EffectPoolPanel forSelection(const std::vector<std::shared_ptr<DirectoryObject>>& selectedNodes,
                                        bool isDeviceConnected, bool isLoadedEffectList,
                                        const std::vector<std::shared_ptr<EffectItem>>& effectList);
    // Whether the effect can be loaded: not while disconnected, before the device's list is read or for
    // an incompatible node; then a new effect or one whose entry is deleted can, a loaded one or the
    // unknown effect cannot.
    static bool canLoad(const EffectItem& item, bool isIncompatible, bool isDeviceConnected, bool isLoadedEffectList,
                        const std::vector<std::shared_ptr<EffectItem>>& effectList);
};
