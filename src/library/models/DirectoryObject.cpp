#include "library/models/DirectoryObject.h"

std::shared_ptr<DirectoryObject> DirectoryObject::copy() const
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    node->originalName = originalName;
    node->path = path;
    node->fileName = fileName;
    node->modelName = modelName;
    node->isNew = isNew;
    node->hasNewChild = hasNewChild;
    node->isBackUpAllGroup = isBackUpAllGroup;
    node->isAddedSerieNumbers = isAddedSerieNumbers;
    node->isIncompatible = isIncompatible;
    node->isWarning = isWarning;
    node->isGroup = isGroup;
    node->loadedAs = loadedAs;
    node->childDirectories.reserve(childDirectories.size());
    for (const auto& child : childDirectories)
        if (child) node->childDirectories.push_back(child->copy());
    if (auto* patch = patchItem()) node->object = patch->copy();
    else if (auto* effect = effectItem()) node->object = effect->copy();
    return node;
}

PatchItem* DirectoryObject::patchItem() const
{
    const auto* held = std::get_if<std::shared_ptr<PatchItem>>(&object);
    return held ? held->get() : nullptr;
}

EffectItem* DirectoryObject::effectItem() const
{
    const auto* held = std::get_if<std::shared_ptr<EffectItem>>(&object);
    return held ? held->get() : nullptr;
}
