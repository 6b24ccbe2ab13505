#include "support/app/PlainPatchScreen.h"

#include <QGridLayout>
#include <QLabel>

#include "library/models/BankItem.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace testing_app {

namespace {

QTreeWidgetItem* itemOf(const DirectoryObject& node)
{
    auto* item = new QTreeWidgetItem(QStringList(QString::fromStdString(node.name.value_or(std::string()))));
    for (const auto& child : node.childDirectories)
        if (child) item->addChild(itemOf(*child));
    return item;
}

}  // namespace

PlainPatchScreen::PlainPatchScreen()
    : list_(new QListWidget(view_)), pool_(new QTreeWidget(view_)), button_(new QPushButton(QStringLiteral("Backup All"), view_))
{
    pool_->setHeaderHidden(true);
    auto* layout = new QGridLayout(view_);
    layout->addWidget(new QLabel(QStringLiteral("Patches in the device"), view_), 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Patch pool"), view_), 0, 1);
    layout->addWidget(list_, 1, 0, 2, 1);
    layout->addWidget(pool_, 1, 1);
    layout->addWidget(button_, 2, 1);
    layout->setColumnStretch(0, 3);
    layout->setColumnStretch(1, 2);
}

void PlainPatchScreen::setLockPatchPool(bool locked)
{
    FakePatchScreen::setLockPatchPool(locked);
    if (view_) pool_->setEnabled(!locked);
}

void PlainPatchScreen::resetPatchPoolState()
{
    for (const auto& node : structureData()) {
        if (!node) continue;
        node->isWarning = node->isIncompatible = false;
        for (const auto& child : node->childDirectories)
            if (child) child->isWarning = child->isIncompatible = false;
    }
    reloadDataInPatchPool();
}

void PlainPatchScreen::reloadDataInPatchList()
{
    if (!view_) return;
    list_->clear();
    const std::size_t perBank = numberOfSlotsInBlank > 0 ? static_cast<std::size_t>(numberOfSlotsInBlank) : 0;
    const auto& banks = bankItems();
    for (std::size_t row = 0; row < patchItems().size(); ++row) {
        QString label;
        if (perBank > 0 && row / perBank < banks.size() && banks[row / perBank])
            label = QString::fromStdString(banks[row / perBank]->bankName.value_or(std::string())) + QStringLiteral("  ");
        if (patchItems()[row]) list_->addItem(label + QString::fromStdString(patchItems()[row]->patchName));
    }
}

void PlainPatchScreen::reloadDataInPatchPool()
{
    if (!view_) return;
    pool_->clear();
    for (const auto& node : structureData())
        if (node) pool_->addTopLevelItem(itemOf(*node));
    pool_->expandToDepth(0);
}

void PlainPatchScreen::updatePatchItem(std::shared_ptr<PatchItem> patchItem, const std::string& offset, const UnitPatchChange&)
{
    if (patchItem && view_) list_->addItem(QString::fromStdString(offset + "  " + patchItem->patchName));
}

}  // namespace testing_app
