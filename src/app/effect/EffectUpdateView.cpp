#include "app/effect/EffectUpdateView.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/effect/EffectUpdateTableCellView.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/EffectItem.h"
#include "platform/bundle/StringFormat.h"

namespace {

constexpr int kRowHeight = 26;

}  // namespace

EffectUpdateView::EffectUpdateView(QWidget* parent)
    : QWidget(parent),
      tableView_(new QTableWidget(this)),
      okButton_(new QPushButton(InterfaceTexts::localizedString("Common_Ok"), this)),
      titleLabel_(new QLabel(InterfaceTexts::localizedString("Effect_UpdateTitle"), this)),
      descriptionLabel_(new QLabel(this))
{
    setObjectName(QStringLiteral("EffectUpdateView"));
    QFont title = titleLabel_->font();
    title.setBold(true);
    titleLabel_->setFont(title);
    descriptionLabel_->setWordWrap(true);
    tableView_->setColumnCount(1);
    tableView_->horizontalHeader()->hide();
    tableView_->horizontalHeader()->setStretchLastSection(true);
    tableView_->verticalHeader()->hide();
    tableView_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    tableView_->setSelectionMode(QAbstractItemView::NoSelection);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView_->setFocusPolicy(Qt::NoFocus);
    tableView_->setShowGrid(false);
    tableView_->setFixedHeight(6 * kRowHeight + 4);
    QPalette light = tableView_->palette();
    light.setColor(QPalette::Base, Qt::white);
    tableView_->setPalette(light);
    okButton_->setMinimumWidth(100);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->addWidget(titleLabel_);
    layout->addWidget(descriptionLabel_);
    layout->addWidget(tableView_);
    layout->addLayout(buttons);
    setMinimumWidth(460);
    connect(okButton_, &QPushButton::clicked, this, &EffectUpdateView::didClickOkButton);
    viewDidLoad();
}

EffectUpdateView::~EffectUpdateView() { dismissActionBlock_ = nullptr; }

void EffectUpdateView::viewDidLoad()
{
    okButton_->setDefault(true);
    okButton_->setAutoDefault(true);
    reloadData();
}

void EffectUpdateView::setUpdatedEffectItems(std::vector<UpdatedEffect> updatedEffectItems)
{
    updatedEffectItems_ = std::move(updatedEffectItems);
    // A notice kept from an earlier update shows these entries, not the ones it was filled with then.
    reloadData();
}

void EffectUpdateView::setDismissActionBlock(std::function<void()> dismissActionBlock)
{
    dismissActionBlock_ = std::move(dismissActionBlock);
}

QString EffectUpdateView::versionText(const UpdatedEffect& entry)
{
    const std::string newVersion = entry.effectItem ? entry.effectItem->effectVersion : std::string();
    return QString::fromStdString(
        platform::StringFormat::format("%@:   %@ \u2192 %@", {InterfaceTexts::localizedString("Effect_Version").toStdString(),
                                                            entry.oldVersion, newVersion}));
}

void EffectUpdateView::reloadData()
{
    tableView_->clearContents();
    tableView_->setRowCount(static_cast<int>(updatedEffectItems_.size()));
    for (int row = 0; row < tableView_->rowCount(); ++row) {
        auto* cell = new EffectUpdateTableCellView;
        const UpdatedEffect& entry = updatedEffectItems_[static_cast<std::size_t>(row)];
        if (entry.effectItem) {
            cell->effectNameLabel()->setText(QString::fromStdString(entry.effectItem->effectName));
            cell->versionLabel()->setText(versionText(entry));
            for (QLabel* label : {cell->effectNameLabel(), cell->versionLabel()}) {
                QPalette black = label->palette();
                black.setColor(QPalette::WindowText, Qt::black);
                label->setPalette(black);
            }
        }
        tableView_->setCellWidget(row, 0, cell);
    }
    descriptionLabel_->setText(QString::fromStdString(platform::StringFormat::format(
        InterfaceTexts::localizedString("Main_EffectUpdate").toStdString(), {updatedEffectItems_.size()})));
}

EffectUpdateTableCellView* EffectUpdateView::cellAtRow(int row) const
{
    return qobject_cast<EffectUpdateTableCellView*>(tableView_->cellWidget(row, 0));
}

void EffectUpdateView::didClickOkButton()
{
    if (dismissActionBlock_) dismissActionBlock_();
}
