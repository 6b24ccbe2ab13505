#pragma once

#include <functional>

#include "app/controls/CustomCellForAttributedString.h"

class PoolNameEditor;

// The pool's row cell with the pool's own name editor, which applies the name rules while typing and at
// the end.
class PoolRowDelegate final : public CustomCellForAttributedString {
    Q_OBJECT
public:
    // The view makes each name editor, with the rule of its row.
    using EditorFactory = std::function<PoolNameEditor*(const QModelIndex&, QWidget* parent)>;
    explicit PoolRowDelegate(EditorFactory editorFactory, QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    EditorFactory editorFactory_;
};
