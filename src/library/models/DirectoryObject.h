#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"

// A node of the patch pool tree or of the effect pool tree: a group (a folder) with ordered children, or
// a leaf showing one item.
class DirectoryObject {
public:
    // A patch in the patch pool, an effect in the effect pool, or nothing.
    using Item = std::variant<std::monostate, std::shared_ptr<PatchItem>, std::shared_ptr<EffectItem>>;

    std::optional<std::string> name;
    std::optional<std::string> originalName;
    std::optional<std::string> path;
    std::vector<std::shared_ptr<DirectoryObject>> childDirectories;
    std::optional<std::string> fileName;
    bool isNew = false;
    bool hasNewChild = false;
    bool isBackUpAllGroup = false;
    bool isAddedSerieNumbers = false;
    std::optional<std::string> modelName;
    bool isIncompatible = false;
    Item object;
    bool isWarning = false;
    bool isGroup = false;
    // What the pool's load knows a group it read by, kept by every copy: the save and the undo work on
    // copies of the user's nodes, and what the load knew of the group's folder must follow them. 0 for none.
    std::uint64_t loadedAs = 0;

    // A deep copy: its own children (each copied in turn) and its own copy of the item.
    std::shared_ptr<DirectoryObject> copy() const;

    PatchItem* patchItem() const;
    EffectItem* effectItem() const;
};
