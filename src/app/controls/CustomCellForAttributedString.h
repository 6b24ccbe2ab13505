#pragma once

#include <QPersistentModelIndex>
#include <QRectF>
#include <QStyledItemDelegate>

#include <optional>

#include "app/controls/PoolRowContent.h"

// The row cell of the patch pool and the effect pool outlines: an optional colour swatch, the
// attributed title, an optional status picture right after the title and, for a selected row, a
// selection background in three pieces. The models hand each row's PoolRowContent under
// kRowContentRole; a row without one is drawn from its display text. A row with an empty title draws
// nothing; a selected row being edited shows only its editor. The title is drawn centred on the row's
// height. Subclasses that make their own editor
// call this class's createEditor() and destroyEditor(), which tell it which row is being edited.
class CustomCellForAttributedString : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kRowContentRole = Qt::UserRole + 523;
    // A top-level patch's title starts here, in the view's coordinates.
    static constexpr qreal kSingleItemTitleX = 22.0;
    // The title ends this far before the row's right edge.
    static constexpr qreal kRightMargin = 5.0;
    static constexpr int kSwatchWidth = 10;
    static constexpr int kSwatchHeight = 5;

    // Where the pieces of a row go; a piece left out is nothing.
    struct Layout {
        std::optional<QRectF> selection;
        std::optional<QRectF> icon;
        std::optional<QRectF> status;
        std::optional<QRectF> title;
    };
    // The measured facts a row's layout depends on.
    struct Row {
        QRectF frame;
        // The title wrapped into the frame; an empty title has none.
        QSizeF titleSize;
        qreal fontSize = 0;
        bool emptyTitle = false;
        bool isSingleItem = false;
        bool hasIcon = false;
        bool hasStatus = false;
        bool highlighted = false;
        bool editing = false;
    };

    explicit CustomCellForAttributedString(QObject* parent = nullptr);

    static Layout layout(const Row& row);
    // The frame's title rectangle centred on a text of `textHeight` when it is taller than that.
    static QRectF titleRectForBounds(const QRectF& bounds, qreal textHeight);
    // The text rectangle cut to end kRightMargin before the cell's right edge.
    static QRectF checkWidthForTextRect(const QRectF& textRect, const QRectF& cellFrame);
    // The 10 by 5 swatch both pools show for a patch or an effect.
    static QImage swatch(const QColor& colour);
    // The title as drawn in `box`, wrapped anywhere: when its lines do not all fit, the last line that
    // fits ends in an ellipsis, so a cut name says so.
    static QString fittedTitle(const QString& text, const QFont& font, const QSizeF& box);
    static QString selectionImageName(bool effectPool, int piece);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;

    bool isEditing(const QModelIndex& index) const;

private:
    PoolRowContent contentOf(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    mutable QPersistentModelIndex editingIndex_;
};
