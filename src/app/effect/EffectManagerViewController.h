#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

#include "app/controls/UnchangeLayoutCell.h"
#include "app/effect/EffectScreenLogic.h"
#include "app/effect/EffectScreenViews.h"
#include "app/effect/TableViewForEffectRightClickDelegate.h"
#include "app/screens/EffectScreen.h"

class AppDelegate;
class CustomHeaderView;
class CustomTableRowView;
class CustomTableViewForEffect;
class EffectCoordinator;
class EffectDialogs;
class EffectIconQueue;
class EffectListCellDelegate;
class EffectListModel;
class EffectPoolModel;
class EffectPoolOutlineView;
class QLabel;
class RightClickColorWell;
class ScalingWidthTextField;

// The effect screen: the device's effect list on the left, the effect pool with its information panel
// and Load button on the right. Its decisions are EffectScreenLogic's; this class builds the widgets,
// draws what the decisions say and turns clicks into calls on them. Main thread.
class EffectManagerViewController final : public QObject,
                                          public EffectScreen,
                                          public TableViewForEffectRightClickDelegate,
                                          private EffectScreenViews {
    Q_OBJECT
public:
    struct Collaborators {
        AppDelegate& appDelegate;
        EffectCoordinator& coordinator;
        EffectDialogs& dialogs;
    };

    explicit EffectManagerViewController(Collaborators collaborators);
    ~EffectManagerViewController() override;

    // ---- EffectScreen ----
    QWidget* view() override { return view_; }
    void setMainController(MainWindowController* mainController) override { mainController_ = mainController; }
    void viewDidAppear() override { logic_->viewDidAppear(); }
    EffectItems& effectList() override { return logic_->effectList(); }
    void setEffectList(EffectItems effectList) override { logic_->setEffectList(std::move(effectList)); }
    const StructureData& structureData() const override { return logic_->structureData(); }
    void setStructureData(StructureData structureData) override;
    void setIsEffectListLoaded(bool loaded) override { logic_->setIsEffectListLoaded(loaded); }
    QPushButton* savingToDeviceButton() override { return view_ ? savingToDeviceButton_ : nullptr; }
    void reloadEffectListRow(std::size_t row) override { reloadEffectRow(row); }
    void resetEffectPoolState() override { logic_->resetEffectPoolState(); }
    void reloadData() override { logic_->reloadData(); }
    void reloadDataInEffectList() override { logic_->reloadDataInEffectList(); }
    void reloadDataInEffectPool() override { logic_->reloadDataInEffectPool(); }
    void validateRuler() override;

    // ---- TableViewForEffectRightClickDelegate ----
    void tableViewDidClickOnFavoriteButton(CustomTableViewForEffect& tableView, bool isFavourite, std::size_t index,
                                           const std::shared_ptr<EffectItem>& item) override;
    void tableViewDidClickOnDeletingButtonAtIndex(CustomTableViewForEffect& tableView, std::size_t index,
                                                  const std::shared_ptr<EffectItem>& item) override;
    void tableViewDidClickOnRecoveryButtonAtIndex(CustomTableViewForEffect& tableView, std::size_t index,
                                                  const std::shared_ptr<EffectItem>& item) override;
    void tableViewDidClickOnPropertyButtonAtIndex(CustomTableViewForEffect& tableView, std::size_t index,
                                                  const std::shared_ptr<EffectItem>& item) override;
    void tableViewWhenUsedTimesAreCounted(CustomTableViewForEffect&, std::function<void()> ask) override
    {
        logic_->whenUsedTimesAreCounted(std::move(ask));
    }
    std::shared_ptr<EffectItem> tableViewItemForRightClickAtIndex(CustomTableViewForEffect& tableView,
                                                                 std::size_t index) override;

    // The Load button under the pool.
    void didClickSaveToDeviceButton() { logic_->didClickSaveToDeviceButton(); }

    EffectScreenLogic& logic() { return *logic_; }
    CustomTableViewForEffect* leftPanelTableView() const { return leftPanelTableView_; }
    EffectPoolOutlineView* rightPanelOutlineView() const { return rightPanelOutlineView_; }
    CustomHeaderView* effectListHeader() const { return listHeader_; }
    EffectListModel* effectListModel() const { return listModel_; }
    EffectListCellDelegate* effectListCellDelegate() const { return listDelegate_; }
    EffectPoolModel* effectPoolModel() const { return poolModel_; }
    EffectIconQueue& queueTaskProgram() { return *queueTaskProgram_; }
    QLabel* nameTextField() const { return nameTextField_; }
    ScalingWidthTextField* descriptionTextField() const { return descriptionTextField_; }
    QLabel* versionTextField() const { return versionTextField_; }
    RightClickColorWell* descriptionBackgroundColorWell() const { return descriptionBackgroundColorWell_; }

private:
    // ---- EffectScreenViews ----
    void reloadEffectTable() override;
    void reloadEffectRow(std::size_t row) override;
    std::vector<std::size_t> selectedEffectRows() const override;
    void selectEffectRows(const std::vector<std::size_t>& rows) override;
    void scrollEffectRowToVisible(std::size_t row) override;
    void scrollEffectListToTop() override;
    void resignEffectListFocus() override;
    void setSortStates(const std::map<std::string, int>& sortStates) override;
    void reloadEffectPool() override;
    void forceExpandTopNodes() override;
    std::vector<std::shared_ptr<DirectoryObject>> selectedPoolNodes() const override;
    void showPanel(const EffectPoolPanel& panel) override;
    void redrawEffectManagerButton() override;

    void awakeFromNib();
    // The pool's drag rule, the list's adding callback and the drops it takes.
    void initDraggingRegister();
    void setHeaderOfEffectList();
    void setHeaderOfEffectPool();
    void setUIForLoadToDevicePanel();
    void tableViewRowViewForRow(int row, CustomTableRowView& rowView, bool& selected) const;

    AppDelegate& appDelegate_;
    EffectDialogs& dialogs_;
    MainWindowController* mainController_ = nullptr;
    std::unique_ptr<EffectScreenLogic> logic_;
    // The window that shows the view may delete it first; the widgets below live as long as it, and
    // nothing touches them once it has gone.
    QPointer<QWidget> view_;
    CustomTableViewForEffect* leftPanelTableView_ = nullptr;
    EffectPoolOutlineView* rightPanelOutlineView_ = nullptr;
    CustomHeaderView* listHeader_ = nullptr;
    CustomHeaderView* poolHeader_ = nullptr;
    EffectListModel* listModel_ = nullptr;
    EffectListCellDelegate* listDelegate_ = nullptr;
    EffectPoolModel* poolModel_ = nullptr;
    // The information panel's swatch: a colour well that opens no colour chooser. Its right click asks for
    // the undo popover, which opens on the patch screen only: here nothing opens.
    RightClickColorWell* descriptionBackgroundColorWell_ = nullptr;
    QLabel* nameTextField_ = nullptr;
    ScalingWidthTextField* descriptionTextField_ = nullptr;
    QLabel* versionTextField_ = nullptr;
    // The Load button: its face is taller than a line of its title, which sits in its middle.
    UnchangeLayoutCell* savingToDeviceButton_ = nullptr;
    std::unique_ptr<EffectIconQueue> queueTaskProgram_;
    bool structureChanged_ = true;
};
