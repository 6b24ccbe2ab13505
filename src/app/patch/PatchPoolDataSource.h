#pragma once

#include <QImage>

#include <cstdint>
#include <memory>
#include <string>

#include "app/patch/PatchPoolRules.h"

class DirectoryObject;

// What the pool's model asks of the patch screen: the tree, each row's height, title and cell, and the
// rename and selection of rows.
class PatchPoolDataSource {
public:
    using Node = std::shared_ptr<DirectoryObject>;

    // How a row's cell is dressed just before it is drawn.
    struct Cell {
        QImage iconImage;
        QImage statusImage;
        bool isSingleItem = false;
        bool isEffectPoolCell = false;
    };

    virtual ~PatchPoolDataSource() = default;

    // No item: the top level.
    virtual std::int64_t numberOfChildrenOfItem(const DirectoryObject* item) = 0;
    virtual Node childOfItem(std::int64_t index, const DirectoryObject* item) = 0;
    virtual bool isItemExpandable(const DirectoryObject& item) = 0;
    virtual double heightOfRowByItem(const DirectoryObject& item) = 0;
    virtual PatchPoolRules::Title objectValueForItem(const DirectoryObject& item) = 0;
    virtual Cell willDisplayCellForItem(const DirectoryObject& item) = 0;
    // Asked before a name is edited in place.
    virtual bool shouldEditItem(const Node& item) = 0;
    // The edited name, committed.
    virtual void setObjectValue(const std::string& text, const Node& item) = 0;
    virtual void outlineViewSelectionDidChange() = 0;
};
