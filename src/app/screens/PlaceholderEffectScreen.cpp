#include "app/screens/PlaceholderEffectScreen.h"

#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"

namespace {

QString rowOf(const EffectItem& item)
{
    QString row = QString::fromStdString(item.effectName);
    if (item.isFavourite) row += QStringLiteral("  \u2605");
    if (item.isDeleted) row += QStringLiteral("  (not loaded)");
    return row;
}

void clearMarks(const std::vector<std::shared_ptr<DirectoryObject>>& nodes)
{
    for (const auto& node : nodes) {
        if (!node) continue;
        node->isNew = false;
        node->hasNewChild = false;
        node->isIncompatible = false;
        clearMarks(node->childDirectories);
    }
}

}  // namespace

PlaceholderEffectScreen::PlaceholderEffectScreen()
    : view_(new PlaceholderScreenView(QStringLiteral("Effects in the device"), QStringLiteral("Effect pool"), QStringLiteral("Load")))
{
}

PlaceholderEffectScreen::~PlaceholderEffectScreen() { delete view_; }

void PlaceholderEffectScreen::reloadEffectListRow(std::size_t row)
{
    if (row < effectList_.size() && effectList_[row] && static_cast<int>(row) < view_->list()->count())
        view_->list()->item(static_cast<int>(row))->setText(rowOf(*effectList_[row]));
}

void PlaceholderEffectScreen::resetEffectPoolState()
{
    clearMarks(structureData_);
    reloadDataInEffectPool();
}

void PlaceholderEffectScreen::reloadData()
{
    reloadDataInEffectList();
    reloadDataInEffectPool();
}

void PlaceholderEffectScreen::reloadDataInEffectList()
{
    QStringList rows;
    for (const auto& item : effectList_)
        if (item) rows << rowOf(*item);
    view_->showList(rows);
}
