#include "app/patch/EditorEditableText.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <algorithm>

EditorEditableText::EditorEditableText(QWidget* editor)
    : line_(qobject_cast<QLineEdit*>(editor)), plain_(qobject_cast<QPlainTextEdit*>(editor))
{
}

std::string EditorEditableText::string() const
{
    if (line_) return line_->text().toStdString();
    if (plain_) return plain_->toPlainText().toStdString();
    return {};
}

void EditorEditableText::setString(const std::string& text)
{
    if (line_) line_->setText(QString::fromStdString(text));
    if (plain_) plain_->setPlainText(QString::fromStdString(text));
}

void EditorEditableText::setSelectedRange(TextRange range)
{
    const int start = static_cast<int>(range.location);
    const int length = static_cast<int>(range.length);
    if (line_) line_->setSelection(start, length);
    if (plain_) {
        QTextCursor cursor = plain_->textCursor();
        const int size = static_cast<int>(plain_->toPlainText().size());
        cursor.setPosition(std::min(start, size));
        cursor.setPosition(std::min(start + length, size), QTextCursor::KeepAnchor);
        plain_->setTextCursor(cursor);
    }
}

TextRange EditorEditableText::selectedRange() const
{
    if (line_) {
        if (!line_->hasSelectedText()) return {static_cast<std::size_t>(line_->cursorPosition()), 0};
        return {static_cast<std::size_t>(line_->selectionStart()), static_cast<std::size_t>(line_->selectionLength())};
    }
    if (plain_) {
        const QTextCursor cursor = plain_->textCursor();
        return {static_cast<std::size_t>(cursor.selectionStart()),
                static_cast<std::size_t>(cursor.selectionEnd() - cursor.selectionStart())};
    }
    return {};
}

void EditorEditableText::insert(const std::string& text)
{
    if (line_) line_->insert(QString::fromStdString(text));
    if (plain_) plain_->insertPlainText(QString::fromStdString(text));
}
