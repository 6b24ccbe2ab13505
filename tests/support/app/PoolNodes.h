#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace testing_app {

// Pool nodes made by hand for the patch screen's drag and drop tests: a patch whose file would lie under
// "/pool", and a group (a backup of the whole unit when asked).
inline std::shared_ptr<DirectoryObject> poolPatch(const std::string& name, bool incompatible = false)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    node->isIncompatible = incompatible;
    auto item = std::make_shared<PatchItem>();
    item->patchName = name;
    item->path = "/pool/" + name + ".qptc";
    node->object = item;
    return node;
}

inline std::shared_ptr<DirectoryObject> poolGroup(const std::string& name,
                                                  std::vector<std::shared_ptr<DirectoryObject>> children = {},
                                                  bool backupAll = false)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    node->isGroup = true;
    node->isBackUpAllGroup = backupAll;
    node->childDirectories = std::move(children);
    return node;
}

}  // namespace testing_app
