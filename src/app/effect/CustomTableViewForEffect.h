#pragma once

#include <QPointer>
#include <QTableView>

#include <functional>

#include "app/controls/TableRowViewProvider.h"
#include "app/views/CustomTableRowView.h"

class CustomScroller;
class EffectListCellDelegate;

// The device effect list table: rows of 55 points, a click selects one row and presses the button of
// the cell under it, only the arrow keys move the selection, and each row is drawn by its row view
// under its cells. Its ruler shows exactly when the rows reach below the visible area.
class CustomTableViewForEffect final : public QTableView, public TableRowViewProvider {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 55;

    // Fills the row view of a row, as the data source does for every row it draws.
    using RowViewProvider = std::function<void(int row, CustomTableRowView& rowView, bool& selected)>;

    explicit CustomTableViewForEffect(QWidget* parent = nullptr);

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
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<EffectListCellDelegate> cellDelegate_;
    RowViewProvider rowViewProvider_;
    CustomScroller* verticalScroller_ = nullptr;
    mutable CustomTableRowView checkedRowView_;
};
