#include "support/app/PlainPatchScreen.h"

#include "library/models/BankItem.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace testing_app {

PlainPatchScreen::PlainPatchScreen()
    : view_(new PlainPatchScreenView(QStringLiteral("Patches in the device"), QStringLiteral("Patch pool"), QStringLiteral("Backup All")))
{
}

PlainPatchScreen::~PlainPatchScreen() { delete view_; }

void PlainPatchScreen::setLockPatchPool(bool locked)
{
    isLockPatchPool_ = locked;
    lockPatchList_ = locked;
    view_->setPoolLocked(locked);
}

void PlainPatchScreen::resetPatchPoolState()
{
    for (const auto& node : structureData_) {
        if (!node) continue;
        node->isWarning = node->isIncompatible = false;
        for (const auto& child : node->childDirectories)
            if (child) child->isWarning = child->isIncompatible = false;
    }
    reloadDataInPatchPool();
}

void PlainPatchScreen::reloadData()
{
    reloadDataInPatchList();
    reloadDataInPatchPool();
}

void PlainPatchScreen::reloadDataInPatchList()
{
    QStringList rows;
    const std::size_t perBank = numberOfSlots_ > 0 ? static_cast<std::size_t>(numberOfSlots_) : 0;
    for (std::size_t row = 0; row < patchItems_.size(); ++row) {
        QString label;
        if (perBank > 0 && row / perBank < bankItems_.size() && bankItems_[row / perBank])
            label = QString::fromStdString(bankItems_[row / perBank]->bankName.value_or(std::string())) + QStringLiteral("  ");
        if (patchItems_[row]) rows << label + QString::fromStdString(patchItems_[row]->patchName);
    }
    view_->showList(rows);
}

void PlainPatchScreen::updatePatchItem(std::shared_ptr<PatchItem> patchItem, const std::string& offset,
                                       const UnitPatchChange&)
{
    // Without the list's slot table the change is shown where it arrived; the real screen places it.
    if (patchItem) view_->list()->addItem(QString::fromStdString(offset + "  " + patchItem->patchName));
}

}  // namespace testing_app
