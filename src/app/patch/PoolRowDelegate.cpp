#include "app/patch/PoolRowDelegate.h"

#include <QKeyEvent>

#include "app/controls/ChangingColorWhenEditingTextField.h"
#include "app/patch/PoolNameEditor.h"

PoolRowDelegate::PoolRowDelegate(EditorFactory editorFactory, QObject* parent)
    : CustomCellForAttributedString(parent), editorFactory_(std::move(editorFactory))
{
}

QWidget* PoolRowDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const
{
    // The cell learns which row is being edited from its own editor, which the pool's replaces.
    delete CustomCellForAttributedString::createEditor(parent, option, index);
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
    const auto content = index.data(kRowContentRole).value<PoolRowContent>();
    if (content.isSingleItem) rect.setLeft(static_cast<int>(kSingleItemTitleX));
    editor->setGeometry(rect.adjusted(8, 1, -static_cast<int>(kRightMargin), -1));
}

bool PoolRowDelegate::eventFilter(QObject* watched, QEvent* event)
{
    // Return commits the name at once. Left to the item views' own handling it would commit on a later
    // turn of the loop, and a reload of the tree landing in between (the pool's background work ends
    // whenever it ends) would drop the name the user had confirmed.
    auto* editor = qobject_cast<PoolNameEditor*>(watched);
    // Another window or a popup taking the keys for a while leaves the name being typed as it is.
    if (editor != nullptr && ChangingColorWhenEditingTextField::isFocusLentAway(*event)) return false;
    if (editor != nullptr && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            return true;
        }
    }
    return CustomCellForAttributedString::eventFilter(watched, event);
}
