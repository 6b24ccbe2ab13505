#include "app/patch/PoolNameEditor.h"

#include "app/controls/RuleText.h"
#include "app/controls/TypedChange.h"
#include "app/views/SelectionColours.h"
#include "library/text/GroupNameTextEditingManagement.h"
#include "library/text/PatchNameTextEditingManagement.h"

PoolNameEditor::PoolNameEditor(bool isGroup, std::string oldName, TextRuleContext context, QWidget* parent)
    : QLineEdit(parent), isGroup_(isGroup), oldName_(std::move(oldName)), context_(std::move(context))
{
    setFrame(false);
    // The list it sits on draws its own selection and has no highlight of its own to lend.
    SelectionColours::apply(*this);
    setString(oldName_);
    selectAll();
    connect(this, &QLineEdit::textEdited, this, &PoolNameEditor::filterEdit);
}

void PoolNameEditor::setString(const std::string& value)
{
    const bool filtering = filtering_;
    filtering_ = true;
    setText(QString::fromStdString(value));
    accepted_ = text();
    filtering_ = filtering;
}

std::string PoolNameEditor::string() const { return accepted_.toStdString(); }

void PoolNameEditor::setSelectedRange(TextRange range)
{
    setSelection(static_cast<int>(range.location), static_cast<int>(range.length));
    if (range.length == 0) setCursorPosition(static_cast<int>(range.location));
}

bool PoolNameEditor::delegateShouldChangeText(const std::vector<TextRange>& ranges,
                                              const std::vector<std::string>& replacements)
{
    return applyRule(ranges, replacements);
}

bool PoolNameEditor::applyRule(const std::vector<TextRange>& ranges, const std::vector<std::string>& replacements)
{
    return isGroup_ ? GroupNameTextEditingManagement::groupNameInTextView(*this, ranges, replacements)
                    : PatchNameTextEditingManagement::patchNameInTextView(*this, ranges, replacements, context_);
}

void PoolNameEditor::filterEdit(const QString& edited)
{
    if (filtering_) return;
    // The change as one range of the text before it (UTF-16 units) and its replacement.
    const QString before = accepted_;
    int prefix = 0;
    while (prefix < before.size() && prefix < edited.size() && before[prefix] == edited[prefix]) ++prefix;
    int suffix = 0;
    while (suffix < before.size() - prefix && suffix < edited.size() - prefix &&
           before[before.size() - 1 - suffix] == edited[edited.size() - 1 - suffix])
        ++suffix;
    const TextRange range{static_cast<std::uint64_t>(prefix), static_cast<std::uint64_t>(before.size() - prefix - suffix)};
    const std::string replacement = RuleText::of(edited.mid(prefix, edited.size() - prefix - suffix));
    filtering_ = true;
    setText(before);
    filtering_ = false;
    if (applyRule({range}, {replacement})) {
        filtering_ = true;
        setText(edited);
        accepted_ = edited;
        setCursorPosition(prefix + static_cast<int>(QString::fromStdString(replacement).size()));
        filtering_ = false;
    }
}

void PoolNameEditor::inputMethodEvent(QInputMethodEvent* event)
{
    // A commit goes to the rule before the field takes it: one the rule refuses is taken out, so the
    // composition ends with nothing entered and the name it took away as it began comes back.
    const std::size_t longest = isGroup_ ? GroupNameTextEditingManagement::kMaxLength : PatchNameTextEditingManagement::kMaxBytes;
    const auto before = InputMethodComposition::stateOf(*this);
    const auto check = [this, &before](QInputMethodEvent& checked) {
        const auto change =
            TypedChange::forInputMethod(checked, before.selectionStart, before.selectionLength, before.cursor);
        if (!change) return false;
        if (applyRule({change->range}, {RuleText::of(change->replacement)})) return true;
        checked.setCommitString(QString());
        return false;
    };
    const auto outcome = composition_.handle(*event, before, longest, check, [this] { return text(); },
                                             [this](QInputMethodEvent& taken) { QLineEdit::inputMethodEvent(&taken); });
    if (!outcome.putBack) return;
    filtering_ = true;
    InputMethodComposition::putBack(*this, *outcome.putBack);
    accepted_ = text();
    filtering_ = false;
}

std::string PoolNameEditor::textShouldEndEditing()
{
    const std::string typed = RuleText::of(text());
    // A name left as it was passes, whatever tool gave it: the added limits are for what is typed.
    if (typed == oldName_) return oldName_;
    const bool accepted =
        isGroup_ ? GroupNameTextEditingManagement::groupNameTextShouldEndEditing(typed, true, context_)
                 : PatchNameTextEditingManagement::patchNameTextShouldEndEditing(typed, true, context_);
    if (!accepted) setString(oldName_);
    return accepted ? typed : oldName_;
}

void PoolNameEditor::cancelOperation() { setString(oldName_); }

void PoolNameEditor::continueTypingOf(const PoolNameEditor& closed)
{
    // Nothing typed yet: the editor shows the item's name as the reload left it, selected as a new edit's
    // is, so that leaving it changes nothing. The old name stays this editor's own either way.
    if (closed.accepted_.toStdString() == closed.oldName_) return;
    // The closed editor's text already passed the rule as it was typed.
    setString(closed.accepted_.toStdString());
    if (closed.hasSelectedText())
        setSelection(closed.selectionStart(), static_cast<int>(closed.selectedText().size()));
    else
        setCursorPosition(closed.cursorPosition());
}
