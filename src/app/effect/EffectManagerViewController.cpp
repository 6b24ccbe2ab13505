#include "app/effect/EffectManagerViewController.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>

#include "app/controls/CustomCellForAttributedString.h"
#include "app/controls/CustomHeaderView.h"
#include "app/controls/RightClickColorWell.h"
#include "app/controls/UnchangeLayoutCell.h"
#include "app/controls/ScalingWidthTextField.h"
#include "app/effect/CustomTableViewForEffect.h"
#include "app/effect/EffectIconQueue.h"
#include "common/HandOff.h"
#include "app/effect/EffectListCellDelegate.h"
#include "app/effect/EffectListModel.h"
#include "app/effect/EffectPoolModel.h"
#include "app/effect/EffectPoolOutlineView.h"
#include "app/effect/EffectPoolPanel.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/MainWindowController.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"
#include "library/undo/UndoController.h"

namespace {

constexpr int kHeaderHeight = 25;

// Column widths of the list; the note takes what is left.
constexpr int kCategoryWidth = 170;
constexpr int kEffectNameWidth = 300;
constexpr int kUsedTimesWidth = 80;
constexpr int kFavouriteWidth = 96;
constexpr int kPoolWidth = 330;
// The Load button's face: room for its title on two lines, should a language's title wrap.
constexpr int kLoadButtonHeight = 48;

}  // namespace

EffectManagerViewController::EffectManagerViewController(Collaborators collaborators)
    : appDelegate_(collaborators.appDelegate), dialogs_(collaborators.dialogs)
{
    logic_ = std::make_unique<EffectScreenLogic>(EffectScreenLogic::Collaborators{
        collaborators.coordinator, collaborators.dialogs, *this,
        [this] { return appDelegate_.isDeviceConnected(); },
        [this]() -> std::optional<EffectScreenLogic::PatchItems> {
            // Alone (no main window), the screen has no patches to count in.
            if (mainController_ == nullptr) return EffectScreenLogic::PatchItems{};
            if (!mainController_->isPatchListLoaded()) return std::nullopt;
            return mainController_->getPatchItemsInPatchList();
        },
        [](EffectScreenLogic::Task task) { QThreadPool::globalInstance()->start(handoff::carried(std::move(task))); },
        [](EffectScreenLogic::Task task) {
            // A count that ends while the program ends has nowhere to go.
            if (QCoreApplication* application = QCoreApplication::instance())
                QMetaObject::invokeMethod(application, handoff::carried(std::move(task)), Qt::QueuedConnection);
        },
        [this] { return !appDelegate_.isLettingDeviceGo(); }});
    queueTaskProgram_ = std::make_unique<EffectIconQueue>();

    view_ = new QWidget;
    view_->setObjectName(QStringLiteral("EffectManagerViewController"));
    auto* layout = new QHBoxLayout(view_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);

    leftPanelTableView_ = new CustomTableViewForEffect(view_);
    listModel_ = new EffectListModel(*logic_, leftPanelTableView_);
    leftPanelTableView_->setModel(listModel_);
    listDelegate_ = new EffectListCellDelegate(
        *logic_,
        EffectListCellDelegate::Actions{[this](std::size_t row) { logic_->didClickFavouriteInRow(row); },
                                        [this](std::size_t row) { logic_->didClickRecoveryInRow(row); },
                                        [this](const std::shared_ptr<EffectItem>& item) { queueTaskProgram_->convert(item); }},
        leftPanelTableView_);
    leftPanelTableView_->setCellDelegate(listDelegate_);
    leftPanelTableView_->setRowViewProvider(
        [this](int row, CustomTableRowView& rowView, bool& selected) { tableViewRowViewForRow(row, rowView, selected); });
    layout->addWidget(leftPanelTableView_, 1);

    auto* right = new QWidget(view_);
    right->setFixedWidth(kPoolWidth);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    rightPanelOutlineView_ = new EffectPoolOutlineView(right);
    poolModel_ = new EffectPoolModel([this]() -> const StructureData& { return logic_->structureData(); },
                                     [this]() -> const EffectItems& { return logic_->effectList(); },
                                     rightPanelOutlineView_);
    rightPanelOutlineView_->setPoolModel(poolModel_);
    rightPanelOutlineView_->setItemDelegate(new CustomCellForAttributedString(rightPanelOutlineView_));
    rightLayout->addWidget(rightPanelOutlineView_, 1);

    descriptionBackgroundColorWell_ = new RightClickColorWell(appDelegate_, UndoController::getInstance(), right);
    descriptionBackgroundColorWell_->setObjectName(QStringLiteral("descriptionBackgroundColorWell"));
    auto* panel = new QVBoxLayout(descriptionBackgroundColorWell_);
    panel->setContentsMargins(12, 10, 12, 12);
    nameTextField_ = new QLabel(descriptionBackgroundColorWell_);
    nameTextField_->setObjectName(QStringLiteral("nameTextField"));
    descriptionTextField_ = new ScalingWidthTextField(QString(), descriptionBackgroundColorWell_);
    descriptionTextField_->setObjectName(QStringLiteral("descriptionTextField"));
    descriptionTextField_->setWordWrap(true);
    descriptionTextField_->setMinimumHeight(48);
    descriptionTextField_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    versionTextField_ = new QLabel(descriptionBackgroundColorWell_);
    versionTextField_->setObjectName(QStringLiteral("versionTextField"));
    savingToDeviceButton_ = new UnchangeLayoutCell(QString(), descriptionBackgroundColorWell_);
    savingToDeviceButton_->setObjectName(QStringLiteral("savingToDeviceButton"));
    savingToDeviceButton_->setMinimumHeight(kLoadButtonHeight);
    panel->addWidget(nameTextField_);
    panel->addWidget(descriptionTextField_);
    panel->addWidget(versionTextField_);
    panel->addSpacing(6);
    panel->addWidget(savingToDeviceButton_);
    rightLayout->addWidget(descriptionBackgroundColorWell_);
    layout->addWidget(right);

    connect(queueTaskProgram_.get(), &EffectIconQueue::iconConverted, this, [this](const std::shared_ptr<EffectItem>& item) {
        // The icon reaches the row its item holds now, and no other.
        const auto& list = logic_->effectList();
        const auto found = std::find(list.begin(), list.end(), item);
        if (found != list.end()) reloadEffectRow(static_cast<std::size_t>(found - list.begin()));
    });
    awakeFromNib();
}

EffectManagerViewController::~EffectManagerViewController()
{
    queueTaskProgram_.reset();
    delete view_;
}

void EffectManagerViewController::awakeFromNib()
{
    logic_->awakeFromNib();
    setHeaderOfEffectPool();
    setHeaderOfEffectList();
    setUIForLoadToDevicePanel();
    savingToDeviceButton_->setEnabled(false);
    descriptionBackgroundColorWell_->setColor(QColor(105, 105, 105));
    descriptionBackgroundColorWell_->setStyleSheet(
        QStringLiteral("QLabel { color: white; font-family: 'Helvetica Neue'; }"
                       "#nameTextField { font-weight: bold; font-size: 15px; }"
                       "#descriptionTextField, #versionTextField { font-size: 12px; }"));
    auto* table = leftPanelTableView_;
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table->setColumnWidth(EffectListModel::columnOfIdentifier("Category"), kCategoryWidth);
    table->setColumnWidth(EffectListModel::columnOfIdentifier("EffectName"), kEffectNameWidth);
    table->setColumnWidth(EffectListModel::columnOfIdentifier("UsedTimes"), kUsedTimesWidth);
    table->setColumnWidth(EffectListModel::columnOfIdentifier("Favourite"), kFavouriteWidth);
    table->horizontalHeader()->setSectionResizeMode(EffectListModel::columnOfIdentifier("Note"), QHeaderView::Stretch);
    initDraggingRegister();
    leftPanelTableView_->setRightClickDelegate(this);
    leftPanelTableView_->setOptionMenuServices(&appDelegate_, &dialogs_);
    connect(savingToDeviceButton_, &QPushButton::clicked, this, &EffectManagerViewController::didClickSaveToDeviceButton);
    connect(rightPanelOutlineView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { logic_->outlineViewSelectionDidChange(); });
}

void EffectManagerViewController::initDraggingRegister()
{
    rightPanelOutlineView_->setCanDragEffectItem([this](const EffectItem& item) { return logic_->canDragEffectItem(item); });
    leftPanelTableView_->setAddItemByDraggingBlock(
        [this](const std::shared_ptr<EffectItem>& item, std::int64_t row) { logic_->addItemByDraggingBlock(item, row); });
    // A dropped effect is only a type: what goes to the device is the pool's own item of that type.
    leftPanelTableView_->setItemForDroppedEffect(
        [this](const EffectItem& dropped) { return logic_->poolItemOfType(dropped.effectType); });
    leftPanelTableView_->setAcceptsDragSource(
        [pool = QPointer<QObject>(rightPanelOutlineView_)](const QObject* source) { return pool && source == pool; });
}

void EffectManagerViewController::tableViewDidClickOnFavoriteButton(CustomTableViewForEffect&, bool isFavourite,
                                                                    std::size_t index,
                                                                    const std::shared_ptr<EffectItem>& item)
{
    logic_->didClickOnFavoriteButton(isFavourite, index, item);
}

void EffectManagerViewController::tableViewDidClickOnDeletingButtonAtIndex(CustomTableViewForEffect&, std::size_t index,
                                                                           const std::shared_ptr<EffectItem>& item)
{
    logic_->didClickOnDeletingButtonAtIndex(index, item);
}

void EffectManagerViewController::tableViewDidClickOnRecoveryButtonAtIndex(CustomTableViewForEffect&, std::size_t index,
                                                                           const std::shared_ptr<EffectItem>& item)
{
    logic_->didClickOnRecoveryButtonAtIndex(index, item);
}

void EffectManagerViewController::tableViewDidClickOnPropertyButtonAtIndex(CustomTableViewForEffect&, std::size_t index,
                                                                           const std::shared_ptr<EffectItem>& item)
{
    logic_->didClickOnPropertyButtonAtIndex(index, item);
}

std::shared_ptr<EffectItem> EffectManagerViewController::tableViewItemForRightClickAtIndex(CustomTableViewForEffect&,
                                                                                          std::size_t index)
{
    return logic_->itemForRightClickAtIndex(index);
}

void EffectManagerViewController::setHeaderOfEffectPool()
{
    poolHeader_ = new CustomHeaderView(rightPanelOutlineView_);
    poolHeader_->setFixedHeight(kHeaderHeight);
    rightPanelOutlineView_->setHeader(poolHeader_);
    poolHeader_->setStretchLastSection(true);
    poolHeader_->headerCell(0).setHeaderType(CustomHeaderCell::EffectPool);
}

void EffectManagerViewController::setHeaderOfEffectList()
{
    listHeader_ = new CustomHeaderView(leftPanelTableView_);
    listHeader_->setFixedHeight(kHeaderHeight);
    listHeader_->setSectionsClickable(true);
    leftPanelTableView_->setHorizontalHeader(listHeader_);
    const int columns = listModel_->columnCount();
    for (int column = 0; column < columns; ++column) {
        CustomHeaderCell& cell = listHeader_->headerCell(column);
        cell.setHeaderType(CustomHeaderCell::EffectList);
        cell.setIsNotFirstCell(column != 0);
        cell.setIsLastEffectCell(column == columns - 1);
    }
    connect(listHeader_, &QHeaderView::sectionPressed, this,
            [this](int section) { logic_->mouseDownInHeaderOfTableColumn(EffectListModel::columnIdentifier(section)); });
    connect(listHeader_, &QHeaderView::sectionClicked, this,
            [this](int section) { logic_->didClickTableColumn(EffectListModel::columnIdentifier(section)); });
}

void EffectManagerViewController::setUIForLoadToDevicePanel()
{
    savingToDeviceButton_->setText(InterfaceTexts::localizedString("Effect_LoadToDeviceButton"));
    savingToDeviceButton_->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; font-family: 'Helvetica Neue'; font-size: 15px; text-align: center;"
        " background-color: rgb(19, 153, 228); border: none; border-radius: 5px; padding: 6px; }"
        "QPushButton:disabled { color: rgba(255, 255, 255, 110); background-color: rgb(70, 78, 92); }"));
}

void EffectManagerViewController::setStructureData(StructureData structureData)
{
    structureChanged_ = true;
    logic_->setStructureData(std::move(structureData));
}

void EffectManagerViewController::tableViewRowViewForRow(int row, CustomTableRowView& rowView, bool& selected) const
{
    rowView.clearView();
    rowView.setRow(static_cast<std::uint64_t>(std::max(0, row)));
    rowView.setIsEffectRow(true);
    selected = leftPanelTableView_->selectionModel() != nullptr &&
               leftPanelTableView_->selectionModel()->isRowSelected(row, QModelIndex());
    rowView.setIsEmptyRow(logic_->effectList().empty() || logic_->isEmptyRow(row));
}

void EffectManagerViewController::validateRuler()
{
    if (!view_) return;
    leftPanelTableView_->updateRuler();
    rightPanelOutlineView_->updateRuler();
}

void EffectManagerViewController::reloadEffectTable()
{
    if (view_) leftPanelTableView_->reloadData();
}

void EffectManagerViewController::reloadEffectRow(std::size_t row)
{
    if (view_) listModel_->reloadRow(static_cast<int>(row));
}

std::vector<std::size_t> EffectManagerViewController::selectedEffectRows() const
{
    std::vector<std::size_t> rows;
    if (!view_ || leftPanelTableView_->selectionModel() == nullptr) return rows;
    for (const QModelIndex& index : leftPanelTableView_->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(index.row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void EffectManagerViewController::selectEffectRows(const std::vector<std::size_t>& rows)
{
    if (!view_) return;
    QItemSelection selection;
    const int last = listModel_->columnCount() - 1;
    for (const std::size_t row : rows)
        selection.select(listModel_->index(static_cast<int>(row), 0), listModel_->index(static_cast<int>(row), last));
    leftPanelTableView_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty())
        leftPanelTableView_->selectionModel()->setCurrentIndex(listModel_->index(static_cast<int>(rows.front()), 0),
                                                               QItemSelectionModel::NoUpdate);
    leftPanelTableView_->viewport()->update();
}

void EffectManagerViewController::scrollEffectRowToVisible(std::size_t row)
{
    if (!view_) return;
    leftPanelTableView_->scrollTo(listModel_->index(static_cast<int>(row), 0));
}

void EffectManagerViewController::scrollEffectListToTop()
{
    if (view_) leftPanelTableView_->scrollToTop();
}

void EffectManagerViewController::resignEffectListFocus()
{
    if (view_ && leftPanelTableView_->hasFocus()) view_->setFocus(Qt::OtherFocusReason);
}

void EffectManagerViewController::setSortStates(const std::map<std::string, int>& sortStates)
{
    if (!view_) return;
    for (const auto& [column, state] : sortStates)
        if (const int section = EffectListModel::columnOfIdentifier(column); section >= 0)
            listHeader_->headerCell(section).setSortState(state);
    listHeader_->viewport()->update();
}

void EffectManagerViewController::reloadEffectPool()
{
    if (!view_) return;
    rightPanelOutlineView_->reloadData(structureChanged_);
    structureChanged_ = false;
}

void EffectManagerViewController::forceExpandTopNodes()
{
    if (!view_) return;
    for (int row = 0; row < poolModel_->rowCount(); ++row)
        rightPanelOutlineView_->forceExpandForItem(poolModel_->index(row, 0));
}

std::vector<std::shared_ptr<DirectoryObject>> EffectManagerViewController::selectedPoolNodes() const
{
    if (!view_) return {};
    return rightPanelOutlineView_->selectedNodes();
}

void EffectManagerViewController::showPanel(const EffectPoolPanel& panel)
{
    if (!view_) return;
    nameTextField_->setText(QString::fromStdString(panel.name));
    descriptionTextField_->setText(QString::fromStdString(panel.description));
    versionTextField_->setText(QString::fromStdString(panel.version));
    savingToDeviceButton_->setEnabled(panel.loadEnabled);
}

void EffectManagerViewController::redrawEffectManagerButton()
{
    if (mainController_ == nullptr) return;
    if (QWidget* button = mainController_->effectManagerButton()) button->update();
}
