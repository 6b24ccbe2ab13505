#include "app/patch/PatchPropertyViewController.h"

#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QPushButton>

#include <algorithm>

#include "app/controls/ChangingColorWhenEditingTextField.h"
#include "app/controls/RuleText.h"
#include "app/patch/SheetNameFieldFilter.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/shell/AppDelegate.h"
#include "app/views/InterfaceTexts.h"
#include "app/views/SelectionColours.h"
#include "library/models/PatchItem.h"
#include "library/text/PatchCommentTextEditingManagement.h"
#include "library/text/PatchNameTextEditingManagement.h"
#include "platform/text/Utf8.h"

namespace {

// A patch file's slot count is the device's; one far beyond any device is not read line by line.
constexpr std::int64_t kMaximumSlots = 1000;

std::string slotNumber(std::int64_t slot) { return "(" + std::to_string(slot + 1) + ")"; }

}  // namespace

PatchPropertyViewController::PatchPropertyViewController(AppDelegate& appDelegate, TextRuleContext textRules,
                                                         QWidget* parent)
    : ViewForKeyDown(parent),
      appDelegate_(appDelegate),
      textRules_(std::move(textRules)),
      patchNameTextField_(new QLineEdit(this)),
      nameText_(*patchNameTextField_)
{
    setObjectName(QStringLiteral("PatchPropertyViewController"));
    // Its fields show a selected name white on a blue deep enough to read.
    SelectionColours::apply(*this);
    patchNameLabel_ = new QLabel(this);
    patchCommentLabel_ = new QLabel(this);
    effectLabel_ = new QLabel(this);
    patchNameTextField_->setObjectName(QStringLiteral("patchNameTextField"));
    patchCommentTextView_ = new CustomTextViewForPatchProperty(this);
    effectListTextView_ = new QPlainTextEdit(this);
    effectListTextView_->setObjectName(QStringLiteral("effectListTextView"));
    effectListTextView_->setReadOnly(true);
    effectListTextView_->setFocusPolicy(Qt::NoFocus);
    saveButton_ = new SheetButton(this);
    cancelButton_ = new SheetButton(this);
    for (QPushButton* button : {saveButton_, cancelButton_}) button->setMinimumWidth(90);
    saveButton_->setObjectName(QStringLiteral("saveButton"));
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    patchCommentTextView_->setFixedHeight(70);
    effectListTextView_->setFixedHeight(110);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setVerticalSpacing(8);
    layout->addWidget(patchNameLabel_, 0, 0, Qt::AlignRight);
    layout->addWidget(patchNameTextField_, 0, 1);
    layout->addWidget(patchCommentLabel_, 1, 0, Qt::AlignRight | Qt::AlignTop);
    layout->addWidget(patchCommentTextView_, 1, 1);
    layout->addWidget(effectLabel_, 2, 0, Qt::AlignRight | Qt::AlignTop);
    layout->addWidget(effectListTextView_, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(saveButton_);
    layout->addLayout(buttons, 3, 0, 1, 2);
    setMinimumWidth(420);

    connect(saveButton_, &QPushButton::clicked, this, &PatchPropertyViewController::saveButtonClicked);
    connect(cancelButton_, &QPushButton::clicked, this, &PatchPropertyViewController::cancelButtonClicked);
}

PatchPropertyViewController::~PatchPropertyViewController()
{
    cancelActionBlock_ = nullptr;
    saveActionBlock_ = nullptr;
}

QWidget* PatchPropertyViewController::view()
{
    if (!loaded_) {
        loaded_ = true;
        viewDidLoad();
    }
    return this;
}

void PatchPropertyViewController::viewDidLoad()
{
    nameText_.setDelegate(this);
    patchCommentTextView_->setDelegate(this);
    patchNameTextField_->installEventFilter(this);
    patchNameLabel_->setText(InterfaceTexts::localizedString("Patch_PatchName"));
    patchCommentLabel_->setText(InterfaceTexts::localizedString("Patch_PatchComment"));
    effectLabel_->setText(InterfaceTexts::localizedString("Patch_EffectList"));
    saveButton_->setText(InterfaceTexts::localizedString("Common_Save"));
    cancelButton_->setText(InterfaceTexts::localizedString("Common_Cancel"));
    for (QPlainTextEdit* text : {static_cast<QPlainTextEdit*>(patchCommentTextView_), effectListTextView_})
        text->document()->setDocumentMargin(5);
    const std::string name = patchItem_ ? patchItem_->patchName : std::string();
    const std::string comment = patchItem_ ? patchItem_->patchComment : std::string();
    patchNameTextField_->setText(QString::fromStdString(name));
    patchCommentTextView_->setPlainText(QString::fromStdString(comment));
    usedEffectList_.clear();
    if (appDelegate_.isDeviceConnected() && patchItem_) usedEffectList_ = parseUsedEffectInPatch(patchItem_->effectDictionnary);
    QStringList lines;
    for (const auto& line : usedEffectList_) lines << QString::fromStdString(line);
    effectListTextView_->setPlainText(lines.join(QLatin1Char('\n')));
    saveButton_->setEnabled(!patchNameTextField_->text().isEmpty());
    setDelegate(this);
    focusedButton_ = saveButton_;
    saveButton_->setDefault(true);
    cancelButton_->setDefault(false);
    QFont font = patchNameTextField_->font();
    font.setPointSize(13);
    patchNameTextField_->setFont(font);
    patchCommentTextView_->setFont(font);
    previousPatchComment_ = comment;
    previousPatchName_ = name;
    // The live checks follow every change, typed, pasted or set by a rule.
    connect(patchNameTextField_, &QLineEdit::textChanged, this, &PatchPropertyViewController::nameDidChange);
    connect(patchCommentTextView_, &QPlainTextEdit::textChanged, this, &PatchPropertyViewController::commentDidChange);
}

void PatchPropertyViewController::setSelection()
{ SheetNameFieldFilter::focusWhenShown(*patchNameTextField_); }

std::vector<std::string> PatchPropertyViewController::parseUsedEffectInPatch(const platform::PlistDictionary& effects)
{
    std::vector<std::string> lines;
    const auto count = effects.find("NumberOfSlot");
    const std::int64_t slotCount =
        count == effects.end() ? 0 : std::clamp<std::int64_t>(count->second.asInteger().value_or(0), 0, kMaximumSlots);
    std::int64_t slot = 0;
    while (slot < slotCount) {
        const auto entry = effects.find("slot " + std::to_string(slot));
        const platform::PlistDictionary* effect =
            entry == effects.end() ? nullptr : entry->second.dictionary();
        if (effect == nullptr || effect->empty()) {
            lines.push_back(slotNumber(slot));
            ++slot;
            continue;
        }
        const auto nameValue = effect->find("effectName");
        const std::string name = nameValue == effect->end() ? std::string() : nameValue->second.asString().value_or("");
        lines.push_back(name);
        const auto unitsValue = effect->find("useUnitNum");
        // A negative count reads as none, one past the remaining slotCount as those slotCount.
        const std::int64_t units = std::clamp<std::int64_t>(
            unitsValue == effect->end() ? 0 : unitsValue->second.asInteger().value_or(0), 0, slotCount - slot);
        if (units == 0) {
            lines.push_back(slotNumber(slot));
            ++slot;
            continue;
        }
        for (std::int64_t extra = 1; extra < units; ++extra) lines.push_back("(" + name + ")");
        slot += units;
    }
    return lines;
}

// ---- live checks and typing filters ----

void PatchPropertyViewController::nameDidChange()
{
    const std::string name = RuleText::of(patchNameTextField_->text());
    wrongName_ = nameChanged(name) && !PatchNameTextEditingManagement::patchNameTextShouldEndEditing(name, false, textRules_);
    previousPatchName_ = name;
    updateSaveButton();
}

void PatchPropertyViewController::commentDidChange()
{
    wrongComment_ = commentChanged() && !PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextView(
                                           patchCommentTextView_->editableText(), false, textRules_);
    previousPatchComment_ = patchCommentTextView_->toPlainText().toStdString();
    updateSaveButton();
}

bool PatchPropertyViewController::nameChanged(const std::string& name) const
{
    return !patchItem_ || name != patchItem_->patchName;
}

bool PatchPropertyViewController::commentChanged() const
{
    return !patchItem_ || patchCommentTextView_->editableText().string() != patchItem_->patchComment;
}

void PatchPropertyViewController::updateSaveButton() { saveButton_->setEnabled(!wrongName_ && !wrongComment_); }

bool PatchPropertyViewController::shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                                                   const std::vector<std::string>& replacements)
{
    if (&editor == &nameText_) {
        // Half a character (a clipboard or an input method may hold one) is refused with the message
        // that names it.
        if (!replacements.empty() && !platform::Utf8::isValid(replacements.front()))
            return PatchNameTextEditingManagement::patchNameTextShouldEndEditing(replacements.front(), true, textRules_);
        return PatchNameTextEditingManagement::patchNameInTextView(editor, ranges, replacements, textRules_);
    }
    if (&editor == &patchCommentTextView_->editableText())
        return PatchCommentTextEditingManagement::patchCommentInTextView(editor, ranges, replacements, textRules_);
    return true;
}

std::size_t PatchPropertyViewController::longestText(const EditableText& editor)
{
    return &editor == &nameText_ ? PatchNameTextEditingManagement::kMaxBytes : PatchCommentTextEditingManagement::kMaxBytes;
}

void PatchPropertyViewController::textDidChange(QWidget* control)
{
    if (control == patchNameTextField_) nameDidChange();
    else if (control == patchCommentTextView_) commentDidChange();
}

bool PatchPropertyViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == patchNameTextField_ && event->type() == QEvent::FocusOut) {
        nameDidChange();
        // Another window or a popup only borrows the keys: back here, the typing goes on where it was.
        if (!ChangingColorWhenEditingTextField::isFocusLentAway(*event)) {
            patchNameTextField_->setCursorPosition(0);
            patchNameTextField_->deselect();
        }
    }
    if (watched != patchNameTextField_) return ViewForKeyDown::eventFilter(watched, event);
    keptSelection_.see(*patchNameTextField_, *event);
    if (SheetNameFieldFilter::filterEvent(*patchNameTextField_, *event, textRules_.pasteboardString,
                                        [this](const auto& ranges, const auto& replacements) {
                                            return shouldChangeText(nameText_, ranges, replacements);
                                        },
                                          PatchNameTextEditingManagement::kMaxBytes, nameComposition_))
        return true;
    return ViewForKeyDown::eventFilter(watched, event);
}

// ---- keys and buttons ----

void PatchPropertyViewController::view(ViewForKeyDown* view, QKeyEvent* event)
{
    if (view != this) return;
    // Escape answers as Cancel does, from the fields too: the keyboard alone can leave the sheet unchanged.
    if (event->key() == Qt::Key_Escape) {
        cancelButtonClicked();
        return;
    }
    focusedButton_ = ViewForKeyDown::keyDownToSwichButtonWithEvent(*event, {saveButton_, cancelButton_}, focusedButton_);
    showKeys();
}

void PatchPropertyViewController::focusInEvent(QFocusEvent* event)
{
    ViewForKeyDown::focusInEvent(event);
    showKeys();
}

void PatchPropertyViewController::focusOutEvent(QFocusEvent* event)
{
    ViewForKeyDown::focusOutEvent(event);
    focusedButton_ = SheetButton::markedAfterFocusOut(*event, {saveButton_, cancelButton_}, focusedButton_);
    showKeys();
}

void PatchPropertyViewController::saveButtonClicked()
{
    if (!saveActionBlock_) return;
    const std::string name = RuleText::of(patchNameTextField_->text());
    // Only a field the user changed meets the rules (a stored text from another tool passes as it is);
    // each rule shows its own message, and a refusal keeps the sheet with all its typing.
    if (nameChanged(name) && !PatchNameTextEditingManagement::patchNameTextShouldEndEditing(name, true, textRules_))
        return;
    if (commentChanged() && !PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextView(
                                patchCommentTextView_->editableText(), true, textRules_))
        return;
    if (patchItem_) {
        patchItem_->patchName = name;
        patchItem_->patchComment = patchCommentTextView_->toPlainText().toStdString();
    }
    saveActionBlock_();
}

void PatchPropertyViewController::cancelButtonClicked()
{
    if (cancelActionBlock_) cancelActionBlock_();
}
