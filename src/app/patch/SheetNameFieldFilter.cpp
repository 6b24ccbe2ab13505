#include "app/patch/SheetNameFieldFilter.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QTimer>

#include "app/controls/InputMethodComposition.h"
#include "app/controls/RuleText.h"
#include "app/controls/TypedChange.h"

namespace {

bool insertionRefused(std::size_t at, const QString& text, const SheetNameFieldFilter::Rule& rule)
{
    return !rule({TextRange{at, 0}}, {RuleText::of(text)});
}

}  // namespace

bool SheetNameFieldFilter::filterEvent(QLineEdit& field, QEvent& event, const Pasteboard& pasteboard, const Rule& rule,
                                       std::size_t longest, InputMethodComposition& composition)
{
    if (field.isReadOnly()) return false;
    switch (event.type()) {
        case QEvent::KeyPress:
            return filterKey(field, static_cast<QKeyEvent&>(event), pasteboard, rule);
        case QEvent::InputMethod: {
            // The event handed on below comes back through here and goes to the field as it is.
            static const QEvent* handingOn = nullptr;
            if (&event == handingOn) return false;
            auto& method = static_cast<QInputMethodEvent&>(event);
            const auto before = InputMethodComposition::stateOf(field);
            const auto check = [&](QInputMethodEvent& checked) {
                const auto change = TypedChange::forInputMethod(checked, before.selectionStart, before.selectionLength,
                                                                before.cursor);
                if (!change) return false;
                if (rule({change->range}, {RuleText::of(change->replacement)})) return true;
                checked.setCommitString(QString());
                return false;
            };
            const auto take = [&](QInputMethodEvent& taken) {
                handingOn = &taken;
                QCoreApplication::sendEvent(&field, &taken);
                handingOn = nullptr;
            };
            const auto outcome = composition.handle(method, before, longest, check, [&] { return field.text(); }, take);
            if (outcome.putBack) InputMethodComposition::putBack(field, *outcome.putBack);
            return true;
        }
        case QEvent::MouseButtonRelease: {
            // The field pastes the selection where the middle press put the cursor.
            const auto& mouse = static_cast<const QMouseEvent&>(event);
            if (mouse.button() != Qt::MiddleButton || !QApplication::clipboard()->supportsSelection()) return false;
            const QString pasted = QApplication::clipboard()->text(QClipboard::Selection);
            return !pasted.isEmpty() &&
                   insertionRefused(static_cast<std::size_t>(field.cursorPosition()), pasted, rule);
        }
        case QEvent::Drop: {
            auto& drop = static_cast<QDropEvent&>(event);
            const QString dropped = drop.mimeData() ? drop.mimeData()->text() : QString();
            if (dropped.isEmpty()) return false;
            const int at = field.cursorPositionAt(drop.position().toPoint());
            if (!insertionRefused(static_cast<std::size_t>(at), dropped, rule)) return false;
            drop.ignore();
            return true;
        }
        default:
            return false;
    }
}

bool SheetNameFieldFilter::filterKey(QLineEdit& field, const QKeyEvent& key, const Pasteboard& pasteboard,
                                     const Rule& rule)
{
    if ((key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) &&
        (key.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier)
        return true;
    const int start = field.hasSelectedText() ? field.selectionStart() : field.cursorPosition();
    const int length = field.hasSelectedText() ? static_cast<int>(field.selectedText().size()) : 0;
    if (key.matches(QKeySequence::Paste)) {
        const TextRange range{static_cast<std::size_t>(start), static_cast<std::size_t>(length)};
        const std::string pasted = pasteboard ? pasteboard().value_or("") : "";
        if (!pasted.empty() && rule({range}, {pasted})) field.insert(QString::fromStdString(pasted));
        return true;
    }
    const auto change = TypedChange::forKey(key, field.text(), start, length, field.cursorPosition(), false);
    return change && !rule({change->range}, {RuleText::of(change->replacement)});
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
