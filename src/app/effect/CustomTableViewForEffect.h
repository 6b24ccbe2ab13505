#pragma once

#include <QPointer>
#include <QTableView>

#include <cstdint>
#include <functional>
#include <memory>

#include "app/controls/AutoClosePopover.h"
#include "app/controls/TableRowViewProvider.h"
#include "app/effect/OptionMenuForEffectViewControllerDelegate.h"
#include "app/views/CustomTableRowView.h"

class AppDelegate;
class CustomScroller;
class NoBackgroundScroller;
class EffectDialogs;
class EffectItem;
class EffectListCellDelegate;
class OptionMenuForEffectViewController;
class TableViewForEffectRightClickDelegate;

// The device effect list table: rows of 55 points. A press only closes the option menu; the release
// decides: one click selects its row alone (or presses the cell button under it), two open the
// effect's properties, and the right button, or the left with Ctrl, opens the option menu of an effect
// row. Only the arrow keys move the selection. Effects dragged from the pool are dropped as copies.
// Each row is drawn by its row view under its cells; the ruler shows exactly when the rows reach below
// the visible area.
class CustomTableViewForEffect final : public QTableView,
                                       public TableRowViewProvider,
                                       public OptionMenuForEffectViewControllerDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 55;

    // Fills the row view of a row, as the data source does for every row it draws.
    using RowViewProvider = std::function<void(int row, CustomTableRowView& rowView, bool& selected)>;
    // Called once per dropped effect, with consecutive rows, and by the Load button.
    using AddItemByDraggingBlock = std::function<void(const std::shared_ptr<EffectItem>& item, std::int64_t row)>;
    // The program's own item for a dropped one (the pool's, of the same type); nothing to refuse it.
    using ItemForDroppedEffect = std::function<std::shared_ptr<EffectItem>(const EffectItem& dropped)>;
    // Whether a drag comes from a view whose effects may be dropped here.
    using AcceptsDragSource = std::function<bool(const QObject* source)>;

    explicit CustomTableViewForEffect(QWidget* parent = nullptr);
    ~CustomTableViewForEffect() override;

    // What the option menu needs: the dialog flag and the queue its questions go through.
    void setOptionMenuServices(AppDelegate* appDelegate, EffectDialogs* dialogs);
    void setRightClickDelegate(TableViewForEffectRightClickDelegate* delegate) { rightClickDelegate_ = delegate; }
    void setAddItemByDraggingBlock(AddItemByDraggingBlock block) { addItemByDraggingBlock_ = std::move(block); }
    const AddItemByDraggingBlock& addItemByDraggingBlock() const { return addItemByDraggingBlock_; }
    void setItemForDroppedEffect(ItemForDroppedEffect find) { itemForDroppedEffect_ = std::move(find); }
    void setAcceptsDragSource(AcceptsDragSource accepts) { acceptsDragSource_ = std::move(accepts); }
    // The drop target row, as the drag last computed it.
    std::int64_t row() const { return row_; }
    // The target row of a drop at a point of the viewport: an empty row gives the nearest effect row
    // above it (row 0 for an empty list), no row at all the end of the list.
    std::int64_t dropRowAtPoint(const QPoint& point) const;

    void closeRightClickMenu();
    AutoClosePopover* menuPopover() const { return menuPopover_; }
    OptionMenuForEffectViewController* optionMenu() const;
    // Opens the option menu of `row` under `position` (viewport coordinates).
    void drawOptionMenu(std::size_t row, const QPoint& position);

    // ---- OptionMenuForEffectViewControllerDelegate: forwarded to the right-click delegate ----
    void optionMenuDidClickOnFavoriteButton(bool isFavourite, std::size_t index,
                                            const std::shared_ptr<EffectItem>& item) override;
    void optionMenuDidClickOnDeletingButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item) override;
    void optionMenuDidClickOnRecoveryButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item) override;
    void optionMenuDidClickOnPropertyButtonAtIndex(std::size_t index, const std::shared_ptr<EffectItem>& item) override;
    void optionMenuDidCancelDeletingAtIndex(std::size_t index) override;
    void optionMenuDidCancelChangingFavouriteAtIndex(std::size_t index) override;
    void optionMenuWhenUsedTimesAreCounted(std::function<void()> ask) override;

    void setCellDelegate(EffectListCellDelegate* delegate);
    void setRowViewProvider(RowViewProvider provider) { rowViewProvider_ = std::move(provider); }
    // The row view the provider fills for the row.
    CustomTableRowView fillRowView(int row, bool* selected = nullptr) const;
    // The same for the row checks; valid until the next call.
    const CustomTableRowView* rowViewForRow(int row) const override;

    // The model reloads, then the ruler follows.
    void reloadData();
    bool isExpandedOverView() const;
    void updateRuler();
    bool rulerVisible() const;
    // The drawn scroller beside the table, in the effect screen's pictures.
    CustomScroller* verticalScroller() const { return verticalScroller_; }
    // The sideways scroller, drawn without its slot over the list.
    NoBackgroundScroller* horizontalScroller() const { return horizontalScroller_; }
    // Row under a point of the viewport; -1 for none.
    int rowAtPoint(const QPoint& point) const;
    // Whether a row holds no effect (or is no row at all), by the shared row check.
    bool isEmptyRow(int row) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void rightMouseUp(const QPoint& position);
    void selectRowAlone(int row);
    void boundDidChange();
    // Whether the drag may end here; the target row is computed when it may.
    bool acceptDrag(QDropEvent* event);
    int effectCount() const;

    AppDelegate* appDelegate_ = nullptr;
    EffectDialogs* dialogs_ = nullptr;
    TableViewForEffectRightClickDelegate* rightClickDelegate_ = nullptr;
    AddItemByDraggingBlock addItemByDraggingBlock_;
    ItemForDroppedEffect itemForDroppedEffect_;
    AcceptsDragSource acceptsDragSource_;
    std::int64_t row_ = 0;
    QPointer<AutoClosePopover> menuPopover_;
    // The release after a double click's second press is a click of two.
    bool secondClick_ = false;
    // The last left click ran a cell button; the double click it starts opens nothing more.
    bool clickRanButton_ = false;
    QPointer<EffectListCellDelegate> cellDelegate_;
    RowViewProvider rowViewProvider_;
    CustomScroller* verticalScroller_ = nullptr;
    NoBackgroundScroller* horizontalScroller_ = nullptr;
    mutable CustomTableRowView checkedRowView_;
};
