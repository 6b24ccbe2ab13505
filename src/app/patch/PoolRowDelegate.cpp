#include "app/patch/PoolRowDelegate.h"

#include <QAbstractItemView>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

#include "app/controls/ThreePartImage.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PoolNameEditor.h"
#include "app/views/NamedImages.h"

PoolRowDelegate::PoolRowDelegate(EditorFactory editorFactory, QObject* parent)
    : QStyledItemDelegate(parent), editorFactory_(std::move(editorFactory))
{
}

PoolRowDelegate::Geometry PoolRowDelegate::geometry(const QRectF& frame, qreal textWidth, qreal textHeight,
                                                    qreal pointSize, bool isSingleItem, bool hasIcon, bool hasStatus)
{
    Geometry geometry;
    // The title rectangle, centred on the text, then grown by 6 and raised by 1.
    QRectF title = frame;
    if (title.height() > textHeight) {
        title.setY(frame.y() + (frame.height() - textHeight) / 2);
        title.setHeight(textHeight);
    }
    title.setHeight(title.height() + 6);
    title.moveTop(title.y() - 1);
    if (isSingleItem) title.moveLeft(22);
    geometry.selection = QRectF(title.x(), frame.y(), frame.width() - 5, frame.height());
    title.moveTop(title.y() - std::trunc((frame.height() - pointSize) / 2 + 0.5));
    if (hasIcon) {
        geometry.icon = QRectF(title.x() + 3, title.y() + title.height() - (pointSize + 5) / 2, 10, 5);
        title.moveLeft(title.x() + 15);
    } else {
        title.moveLeft(title.x() + 10);
    }
    if (hasStatus) {
        const qreal side = std::trunc(frame.height() - 2);
        const QRectF status(title.x() + 5 + textWidth, frame.y() + 1, side, side);
        if (status.right() <= frame.right()) geometry.status = status;
    }
    // The title stops 5 short of the row's right edge.
    if (title.right() > frame.right() - 5) title.setWidth(frame.right() - title.x() - 5);
    geometry.title = title;
    return geometry;
}

void PoolRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) return;
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    // While the row is renamed only the editor shows.
    if (view != nullptr && view->indexWidget(index) != nullptr) return;
    const QFont font = index.data(Qt::FontRole).value<QFont>();
    const QFontMetricsF metrics(font);
    const QImage icon = index.data(PatchPoolModel::IconImageRole).value<QImage>();
    const QImage status = index.data(PatchPoolModel::StatusImageRole).value<QImage>();
    const Geometry g = geometry(option.rect, metrics.horizontalAdvance(text), metrics.height(), font.pixelSize(),
                                index.data(PatchPoolModel::IsSingleItemRole).toBool(), !icon.isNull(), !status.isNull());
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (option.state & QStyle::State_Selected) {
        const QImage top = NamedImages::image(QStringLiteral("patch_pool_focused_selection_top"));
        if (!top.isNull()) {
            ThreePartImage::drawHorizontal(*painter, g.selection, top,
                                           NamedImages::image(QStringLiteral("patch_pool_focused_selection_mid")),
                                           NamedImages::image(QStringLiteral("patch_pool_focused_selection_bottom")));
        } else {
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(245, 147, 31, 110));
            painter->drawRoundedRect(g.selection.adjusted(0, 1, 0, -1), 5, 5);
        }
    }
    if (g.icon) painter->drawImage(*g.icon, icon);
    if (g.status) painter->drawImage(*g.status, status);
    painter->setFont(font);
    painter->setPen(index.data(Qt::ForegroundRole).value<QColor>());
    // The text is centred on the row, the swatch sitting at its baseline.
    painter->setClipRect(QRectF(g.title.x(), option.rect.y(), g.title.width(), option.rect.height()));
    painter->drawText(QRectF(g.title.x(), option.rect.y(), g.title.width(), option.rect.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

QSize PoolRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QSize hint = index.data(Qt::SizeHintRole).toSize();
    return QSize(option.rect.width(), hint.height() > 0 ? hint.height() : 24);
}

QWidget* PoolRowDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    return editorFactory_ ? editorFactory_(index, parent) : nullptr;
}

void PoolRowDelegate::setEditorData(QWidget*, const QModelIndex&) const
{
    // The editor starts from the name it was made with.
}

void PoolRowDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (auto* nameEditor = qobject_cast<PoolNameEditor*>(editor))
        model->setData(index, QString::fromStdString(nameEditor->textShouldEndEditing()), Qt::EditRole);
}

void PoolRowDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const
{
    QRect rect = option.rect;
    if (index.data(PatchPoolModel::IsSingleItemRole).toBool()) rect.setLeft(22);
    editor->setGeometry(rect.adjusted(8, 1, -5, -1));
}
