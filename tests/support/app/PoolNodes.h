#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace testing_app {

inline std::shared_ptr<PatchItem> patchItem(const std::string& name, const std::string& comment = {},
                                            const std::string& path = {})
{
    auto made = std::make_shared<PatchItem>();
    made->patchName = name;
    made->patchComment = comment;
    made->path = path;
    return made;
}

// A pool patch whose node and patch both name `folder`/`name`.qptc (the patch screen rig's local pool by
// default); its comment is "c" and its name, so a test sees an old comment that is not empty.
inline std::shared_ptr<DirectoryObject> patchNode(const std::string& name, const std::string& folder = "/root/Temp/Local",
                                                  bool incompatible = false)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    node->path = folder + "/" + name + ".qptc";
    node->object = patchItem(name, "c" + name, *node->path);
    node->isIncompatible = incompatible;
    return node;
}

// One the unit cannot take.
inline std::shared_ptr<DirectoryObject> unfitPatch(const std::string& name)
{
    return patchNode(name, "/root/Temp/Local", true);
}

// A group whose folder is its name (a backup of the whole unit when asked).
inline std::shared_ptr<DirectoryObject> groupNode(const std::string& name,
                                                  std::vector<std::shared_ptr<DirectoryObject>> children = {},
                                                  bool backupAll = false)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = node->path = name;
    node->isGroup = true;
    node->isBackUpAllGroup = backupAll;
    node->childDirectories = std::move(children);
    return node;
}

}  // namespace testing_app
