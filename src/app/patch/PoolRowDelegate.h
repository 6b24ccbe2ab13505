#pragma once

#include <QRectF>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>

class PoolNameEditor;

// Draws one pool row (swatch, title, status picture, the three-part selection background) and makes its
// name editor, until the shared row cell takes its place.
class PoolRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    // Where each part of a row goes, for a row frame, the title's width and the font's point size.
    struct Geometry {
        QRectF selection;
        std::optional<QRectF> icon;
        std::optional<QRectF> status;
        QRectF title;
    };
    static Geometry geometry(const QRectF& frame, qreal textWidth, qreal textHeight, qreal pointSize, bool isSingleItem,
                             bool hasIcon, bool hasStatus);

    // The view makes each name editor, with the rule of its row.
    using EditorFactory = std::function<PoolNameEditor*(const QModelIndex&, QWidget* parent)>;
    explicit PoolRowDelegate(EditorFactory editorFactory, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    EditorFactory editorFactory_;
};
