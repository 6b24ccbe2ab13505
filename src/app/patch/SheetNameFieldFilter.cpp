#include "app/patch/SheetNameFieldFilter.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include "app/controls/TypedChange.h"

bool SheetNameFieldFilter::filterKey(QLineEdit& field, const QKeyEvent& key, const std::string& pasteboard,
                                     const Rule& rule)
{
    if ((key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) &&
        (key.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier)
        return true;
    const int start = field.hasSelectedText() ? field.selectionStart() : field.cursorPosition();
    const int length = field.hasSelectedText() ? static_cast<int>(field.selectedText().size()) : 0;
    if (key.matches(QKeySequence::Paste)) {
        const TextRange range{static_cast<std::size_t>(start), static_cast<std::size_t>(length)};
        if (!pasteboard.empty() && rule({range}, {pasteboard})) field.insert(QString::fromStdString(pasteboard));
        return true;
    }
    const auto change = TypedChange::forKey(key, field.text(), start, length, field.cursorPosition(), false);
    return change && !rule({change->range}, {change->replacement.toStdString()});
}

void SheetNameFieldFilter::focusWhenShown(QLineEdit& field)
{
    QPointer<QLineEdit> shown(&field);
    QTimer::singleShot(0, &field, [shown] {
        if (!shown) return;
        // A window not yet active gives the focus to this field when it becomes active.
        shown->setFocus(Qt::OtherFocusReason);
        shown->selectAll();
    });
}
