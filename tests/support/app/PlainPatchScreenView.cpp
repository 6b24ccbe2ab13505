#include "support/app/PlainPatchScreenView.h"

#include <QGridLayout>

#include "library/models/DirectoryObject.h"

namespace {

QTreeWidgetItem* itemOf(const DirectoryObject& node)
{
    auto* item = new QTreeWidgetItem(QStringList(QString::fromStdString(node.name.value_or(std::string()))));
    for (const auto& child : node.childDirectories)
        if (child) item->addChild(itemOf(*child));
    return item;
}

}  // namespace

namespace testing_app {

PlainPatchScreenView::PlainPatchScreenView(const QString& listTitle, const QString& poolTitle,
                                           const QString& buttonTitle, QWidget* parent)
    : QWidget(parent), listTitle_(listTitle), poolTitle_(poolTitle), button_(buttonTitle)
{
    pool_.setHeaderHidden(true);
    auto* layout = new QGridLayout(this);
    layout->addWidget(&listTitle_, 0, 0);
    layout->addWidget(&poolTitle_, 0, 1);
    layout->addWidget(&list_, 1, 0, 2, 1);
    layout->addWidget(&pool_, 1, 1);
    layout->addWidget(&button_, 2, 1);
    layout->setColumnStretch(0, 3);
    layout->setColumnStretch(1, 2);
}

void PlainPatchScreenView::showList(const QStringList& rows)
{
    list_.clear();
    list_.addItems(rows);
}

void PlainPatchScreenView::showPool(const std::vector<std::shared_ptr<DirectoryObject>>& tree)
{
    pool_.clear();
    for (const auto& node : tree)
        if (node) pool_.addTopLevelItem(itemOf(*node));
    pool_.expandToDepth(0);
}

void PlainPatchScreenView::setPoolLocked(bool locked) { pool_.setEnabled(!locked); }

}  // namespace testing_app
