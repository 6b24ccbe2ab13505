#include "app/patch/PatchListItemDelegate.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QPainter>

#include "app/controls/ChangingColorWhenEditingTextField.h"
#include "app/controls/ChangingColorWhenEditingTextView.h"
#include "app/controls/RuleText.h"
#include "app/patch/PatchListTableModel.h"
#include "app/views/NamedImages.h"
#include "library/models/PatchItem.h"

namespace {

QString editorText(QWidget* editor)
{
    if (auto* line = qobject_cast<QLineEdit*>(editor)) return line->text();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(editor)) return plain->toPlainText();
    return {};
}

void setEditorText(QWidget* editor, const QString& text)
{
    if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setText(text);
    if (auto* plain = qobject_cast<QPlainTextEdit*>(editor)) plain->setPlainText(text);
}

// The sizes are the layout's points, one pixel each.
QFont sizedFont(int pixels, bool bold)
{
    QFont font(QStringLiteral("Helvetica Neue"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace

PatchListItemDelegate::PatchListItemDelegate(PatchCellContext context, QObject* parent)
    : QStyledItemDelegate(parent), context_(context), nameCell_(context), commentCell_(context)
{
}

std::vector<QFont> PatchListItemDelegate::cellFonts()
{
    return {sizedFont(23, true), sizedFont(25, true), sizedFont(11, false)};
}

PatchTextCellView* PatchListItemDelegate::editingCell() const
{
    if (!editor_) return nullptr;
    return editingComment_ ? static_cast<PatchTextCellView*>(&commentCell_) : &nameCell_;
}

void PatchListItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* table = qobject_cast<const QAbstractItemView*>(option.widget);
    const int width = table ? table->viewport()->width() : option.rect.right() + 1;
    const QRect rowRect(0, option.rect.y(), width, option.rect.height());
    const bool empty = index.data(PatchListTableModel::IsEmptyRowRole).toBool();
    const bool selected = option.state.testFlag(QStyle::State_Selected);

    const CustomTableRowView& rowView = this->rowView(index.model(), index.row());

    painter->save();
    painter->setClipRect(option.rect);
    rowView.drawRect(*painter, rowRect, false);
    if (empty) {
        painter->restore();
        return;
    }
    const QRect cell = option.rect.adjusted(kCellInset, kCellInset, -kCellInset, -kCellInset);
    const QVariant color = index.data(PatchListTableModel::BankColorRole);
    // The cell being edited shows its editor's text only.
    const QString text = editor_ && editingIndex_ == index ? QString() : index.data(Qt::DisplayRole).toString();
    painter->setPen(Qt::white);
    switch (index.column()) {
    case PatchListTableModel::BankColumn: {
        if (color.isValid()) painter->fillRect(cell, color.value<QColor>());
        painter->setFont(sizedFont(23, true));
        painter->drawText(cell, Qt::AlignCenter, text);
        break;
    }
    case PatchListTableModel::PatchColumn: {
        if (color.isValid()) painter->fillRect(cell, color.value<QColor>());
        QRect textRect = cell.adjusted(8, 0, -4, 0);
        if (index.data(PatchListTableModel::IsWarningRole).toBool()) {
            const QImage warning = NamedImages::image(QStringLiteral("warning-icon"));
            const QRect icon(textRect.right() - 20, textRect.center().y() - 10, 20, 20);
            painter->drawImage(icon, warning);
            textRect.setRight(icon.left() - 4);
        }
        painter->setFont(sizedFont(25, true));
        painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                          painter->fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
        break;
    }
    default:
        painter->setFont(sizedFont(11, false));
        painter->drawText(cell.adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, text);
        break;
    }
    // The frame goes over the cells, so a selected row shows whichever cell covers it.
    if (selected) rowView.drawSelectionInRect(*painter, rowRect);
    painter->restore();
}

const CustomTableRowView& PatchListItemDelegate::rowView(const QAbstractItemModel* model, int row) const
{
    CustomTableRowView& view = rowViews_[row];
    view.clearView();
    view.setRow(static_cast<std::uint64_t>(row));
    view.setIsEffectRow(false);
    view.setIsEmptyRow(!model || model->index(row, 0).data(PatchListTableModel::IsEmptyRowRole).toBool());
    return view;
}

const CustomTableRowView* PatchListItemDelegate::rowViewForRow(int row) const
{
    const auto* table = qobject_cast<const QAbstractItemView*>(parent());
    const QAbstractItemModel* model = table ? table->model() : nullptr;
    if (!model || row < 0 || row >= model->rowCount()) return nullptr;
    return &rowView(model, row);
}

QWidget* PatchListItemDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const auto* model = qobject_cast<const PatchListTableModel*>(index.model());
    if (!model || index.column() == PatchListTableModel::BankColumn) return nullptr;
    const auto patch = model->patchItemAt(index.row());
    if (!patch) return nullptr;
    editingComment_ = index.column() != PatchListTableModel::PatchColumn;
    PatchTextCellView& cell = editingComment_ ? static_cast<PatchTextCellView&>(commentCell_) : nameCell_;
    cell.clearCell();
    cell.setPatchItem(patch);
    cell.setIndex(static_cast<std::uint64_t>(index.row()));
    cell.setOriginalText(editingComment_ ? patch->patchComment : patch->patchName);

    QWidget* editor = nullptr;
    if (editingComment_) {
        auto* text = new ChangingColorWhenEditingTextView(parent);
        text->setObjectName(QStringLiteral("PatchCommentEditor"));
        text->setFont(sizedFont(11, false));
        text->setDelegate(&cell);
        text->setOriginalText(QString::fromStdString(cell.originalText()));
        editor = text;
    } else {
        auto* line = new ChangingColorWhenEditingTextField(parent);
        line->setObjectName(QStringLiteral("PatchNameEditor"));
        line->setFont(sizedFont(25, true));
        line->setDelegate(&cell);
        line->setOriginalText(QString::fromStdString(cell.originalText()));
        editor = line;
    }
    editor_ = editor;
    editingIndex_ = index;
    return editor;
}

void PatchListItemDelegate::setEditorData(QWidget* editor, const QModelIndex&) const
{
    // Filled once: a reload while editing must not take the typed text away.
    if (editor->property("filled").toBool()) return;
    editor->setProperty("filled", true);
    if (editor != editor_) return;
    setEditorText(editor, QString::fromStdString(editingCell()->originalText()));
}

void PatchListItemDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (editor != editor_ || editor->property("committed").toBool()) return;
    editor->setProperty("committed", true);
    std::string text = RuleText::of(editorText(editor));
    const std::string before = text;
    editingCell()->textShouldEndEditing(text);
    if (text != before) setEditorText(editor, QString::fromStdString(text));
    if (auto* list = qobject_cast<PatchListTableModel*>(model)) list->rowChanged(index.row());
}

void PatchListItemDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                 const QModelIndex&) const
{
    editor->setGeometry(option.rect.adjusted(kCellInset, kCellInset, -kCellInset, -kCellInset));
}

std::optional<PatchListItemDelegate::HeldEdit> PatchListItemDelegate::holdEdit() const
{
    PatchTextCellView* cell = editingCell();
    if (!cell || !cell->patchItem() || editor_->property("committed").toBool()) return std::nullopt;
    if (auto* line = qobject_cast<ChangingColorWhenEditingTextField*>(editor_.data())) line->handOverEdit();
    if (auto* text = qobject_cast<ChangingColorWhenEditingTextView*>(editor_.data())) text->handOverEdit();
    return HeldEdit{cell->patchItem(), editingIndex_.column(), editor_};
}

void PatchListItemDelegate::continueEdit(const HeldEdit& held) const
{
    if (!editor_ || !held.editor || editor_ == held.editor) return;
    auto* line = qobject_cast<ChangingColorWhenEditingTextField*>(editor_.data());
    if (auto* closed = qobject_cast<ChangingColorWhenEditingTextField*>(held.editor.data()); line && closed)
        line->continueEditOf(*closed);
    auto* text = qobject_cast<ChangingColorWhenEditingTextView*>(editor_.data());
    if (auto* closed = qobject_cast<ChangingColorWhenEditingTextView*>(held.editor.data()); text && closed)
        text->continueEditOf(*closed);
}

void PatchListItemDelegate::followPatch() const
{
    PatchTextCellView* cell = editingCell();
    if (!cell || !cell->patchItem() || editor_->property("committed").toBool()) return;
    const std::string now = editingComment_ ? cell->patchItem()->patchComment : cell->patchItem()->patchName;
    if (now == cell->originalText()) return;
    const QString before = QString::fromStdString(cell->originalText());
    const QString after = QString::fromStdString(now);
    cell->setOriginalText(now);
    const bool untouched = editorText(editor_) == before;
    if (auto* line = qobject_cast<ChangingColorWhenEditingTextField*>(editor_.data())) line->setOriginalText(after);
    if (auto* text = qobject_cast<ChangingColorWhenEditingTextView*>(editor_.data())) text->setOriginalText(after);
    if (untouched) setEditorText(editor_, after);
}

void PatchListItemDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const
{
    if (editor == editor_) editor_ = nullptr;
    QStyledItemDelegate::destroyEditor(editor, index);
}

void PatchListItemDelegate::endEdit()
{
    if (editor_ && !editor_->property("committed").toBool()) commitAndClose(editor_);
}

void PatchListItemDelegate::commitAndClose(QWidget* editor)
{
    emit commitData(editor);
    emit closeEditor(editor, QAbstractItemDelegate::NoHint);
}

bool PatchListItemDelegate::eventFilter(QObject* watched, QEvent* event)
{
    auto* editor = qobject_cast<QWidget*>(watched);
    // Another window or a popup taking the keys for a while leaves the edit open (the item views would
    // commit and close it): the editor is there, with its text, when the window has the keys back.
    if (editor && editor == editor_ && ChangingColorWhenEditingTextField::isFocusLentAway(*event)) return false;
    if (editor && editor == editor_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool returnKey = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const bool tabKey = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        // A comment takes Return and Tab as text (its editor asks the comment rule); only leaving the
        // field ends its edit.
        if (editingComment_ && (returnKey || tabKey)) return false;
        // Tab leaves a name and Return ends its edit: either way the name commits, and no other cell
        // opens for editing.
        if (!editingComment_ && (returnKey || tabKey) && !(key->modifiers() & Qt::ControlModifier)) {
            commitAndClose(editor);
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(watched, event);
}
