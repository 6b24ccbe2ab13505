#pragma once

#include <QFont>
#include <QPointer>
#include <QStyledItemDelegate>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/controls/TableRowViewProvider.h"
#include "app/patch/PatchCellContext.h"
#include "app/patch/PatchCommentCellView.h"
#include "app/patch/PatchNameCellView.h"
#include "app/views/CustomTableRowView.h"

class PatchItem;
class PatchTextCellView;

// Paints the device list's rows (row strips, bank colours, names and comments) and edits names and
// comments in place: typing goes through the text rules, and the end of an edit is the cell's commit.
// One edit at a time, as the list has one editing cell.
class PatchListItemDelegate final : public QStyledItemDelegate, public TableRowViewProvider {
    Q_OBJECT
public:
    static constexpr int kCellInset = 4;

    PatchListItemDelegate(PatchCellContext context, QObject* parent = nullptr);

    // Every font the cells are drawn in.
    static std::vector<QFont> cellFonts();

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;

    // The row view the row is painted with: its strip and whether it is a filler row.
    const CustomTableRowView* rowViewForRow(int row) const override;

    // An open edit kept across a reload of the list, which closes every editor without a commit.
    struct HeldEdit {
        std::shared_ptr<PatchItem> patch;
        int column = 0;
        QPointer<QWidget> editor;
    };
    // Lets the open editor go without ending its edit; none when no edit is open.
    std::optional<HeldEdit> holdEdit() const;
    // Goes on with the held edit in the editor the list has opened again for its patch.
    void continueEdit(const HeldEdit& held) const;

    // The open editor's patch took a text without the list's reload (the unit's change, taken under the
    // typing): Escape brings back what the patch holds now, and a field with nothing typed shows it.
    void followPatch() const;

    // Ends the open edit, if any, with its commit through the text rules, as leaving the field does;
    // wherever the keys are, so also while another window has them.
    void endEdit();

    // The cell of the edit under way, if any.
    PatchTextCellView* editingCell() const;
    QWidget* editor() const { return editor_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Ends the edit with a commit.
    void commitAndClose(QWidget* editor);
    // The row view of `row` in `model`, filled for it.
    const CustomTableRowView& rowView(const QAbstractItemModel* model, int row) const;

    PatchCellContext context_;
    // The editor and its cell are the delegate's state across const Qt calls.
    mutable PatchNameCellView nameCell_;
    mutable PatchCommentCellView commentCell_;
    mutable QPointer<QWidget> editor_;
    mutable QPersistentModelIndex editingIndex_;
    mutable bool editingComment_ = false;
    // Reused from row to row, as the list's rows are.
    mutable std::map<int, CustomTableRowView> rowViews_;
};
