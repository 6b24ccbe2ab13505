#include "app/patch/PatchGroupPropertyViewController.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/controls/RuleText.h"
#include "app/patch/SheetNameFieldFilter.h"
#include "app/views/InterfaceTexts.h"
#include "app/views/SelectionColours.h"
#include "library/models/DirectoryObject.h"
#include "library/text/GroupNameTextEditingManagement.h"
#include "platform/text/Utf8.h"

PatchGroupPropertyViewController::PatchGroupPropertyViewController(TextRuleContext textRules, QWidget* parent)
    : ViewForKeyDown(parent),
      textRules_(std::move(textRules)),
      groupNameTextField_(new QLineEdit(this)),
      nameText_(*groupNameTextField_)
{
    setObjectName(QStringLiteral("PatchGroupPropertyViewController"));
    // Its fields show a selected name white on a blue deep enough to read.
    SelectionColours::apply(*this);
    groupNameTextField_->setObjectName(QStringLiteral("groupNameTextField"));
    groupNameLabel_ = new QLabel(this);
    titleLabel1_ = new QLabel(this);
    informationLabel1_ = new QLabel(this);
    titleLabel2_ = new QLabel(this);
    informationLabel2_ = new QLabel(this);
    saveButton_ = new SheetButton(this);
    cancelButton_ = new SheetButton(this);
    for (QPushButton* button : {saveButton_, cancelButton_}) button->setMinimumWidth(90);
    for (QLabel* label : {informationLabel1_, informationLabel2_}) label->setTextFormat(Qt::PlainText);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setVerticalSpacing(8);
    layout->addWidget(groupNameLabel_, 0, 0, Qt::AlignRight);
    layout->addWidget(groupNameTextField_, 0, 1);
    layout->addWidget(titleLabel1_, 1, 0, Qt::AlignRight);
    layout->addWidget(informationLabel1_, 1, 1);
    layout->addWidget(titleLabel2_, 2, 0, Qt::AlignRight);
    layout->addWidget(informationLabel2_, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(saveButton_);
    layout->addLayout(buttons, 3, 0, 1, 2);
    setMinimumWidth(460);
    connect(saveButton_, &QPushButton::clicked, this, &PatchGroupPropertyViewController::saveButtonClicked);
    connect(cancelButton_, &QPushButton::clicked, this, &PatchGroupPropertyViewController::cancelButtonClicked);
}

PatchGroupPropertyViewController::~PatchGroupPropertyViewController()
{
    cancelActionBlock_ = nullptr;
    saveActionBlock_ = nullptr;
}

QWidget* PatchGroupPropertyViewController::view()
{
    if (!loaded_) {
        loaded_ = true;
        viewDidLoad();
    }
    return this;
}

void PatchGroupPropertyViewController::viewDidLoad()
{
    groupNameLabel_->setText(InterfaceTexts::localizedString("PatchPool_GroupName"));
    groupNameTextField_->setText(QString::fromStdString(group_ ? group_->name.value_or("") : std::string()));
    const QString count = QString::number(group_ ? static_cast<qlonglong>(group_->childDirectories.size()) : 0);
    if (group_ && group_->isBackUpAllGroup) {
        titleLabel1_->setText(InterfaceTexts::localizedString("PatchPool_DeviceModel"));
        informationLabel1_->setText(QString::fromStdString(group_->modelName.value_or("")));
        titleLabel2_->setText(InterfaceTexts::localizedString("PatchPool_NumberOfPatch"));
        informationLabel2_->setText(count);
    } else {
        titleLabel1_->setText(InterfaceTexts::localizedString("PatchPool_NumberOfPatch"));
        informationLabel1_->setText(count);
        titleLabel2_->hide();
        informationLabel2_->hide();
    }
    saveButton_->setText(InterfaceTexts::localizedString("Common_Save"));
    cancelButton_->setText(InterfaceTexts::localizedString("Common_Cancel"));
    // A style sheet takes the field's palette: the selection's colours go in it too.
    groupNameTextField_->setStyleSheet(
        QStringLiteral("QLineEdit { border: 1px solid black; %1 }").arg(SelectionColours::styleSheetRules()));
    nameText_.setDelegate(this);
    groupNameTextField_->installEventFilter(this);
    setDelegate(this);
    focusedButton_ = saveButton_;
    saveButton_->setDefault(true);
    cancelButton_->setDefault(false);
}

void PatchGroupPropertyViewController::setSelection()
{ SheetNameFieldFilter::focusWhenShown(*groupNameTextField_); }

bool PatchGroupPropertyViewController::shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                                                        const std::vector<std::string>& replacements)
{
    // Half a character (a clipboard or an input method may hold one) is refused with the message that
    // names it.
    if (!replacements.empty() && !platform::Utf8::isValid(replacements.front()))
        return GroupNameTextEditingManagement::groupNameTextShouldEndEditing(replacements.front(), true, textRules_);
    return GroupNameTextEditingManagement::groupNameInTextView(editor, ranges, replacements);
}

std::size_t PatchGroupPropertyViewController::longestText(const EditableText&)
{
    return GroupNameTextEditingManagement::kMaxLength;
}

bool PatchGroupPropertyViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != groupNameTextField_) return ViewForKeyDown::eventFilter(watched, event);
    keptSelection_.see(*groupNameTextField_, *event);
    if (SheetNameFieldFilter::filterEvent(*groupNameTextField_, *event, textRules_.pasteboardString,
                                        [this](const auto& ranges, const auto& replacements) {
                                            return shouldChangeText(nameText_, ranges, replacements);
                                        },
                                          GroupNameTextEditingManagement::kMaxLength, nameComposition_))
        return true;
    return ViewForKeyDown::eventFilter(watched, event);
}

void PatchGroupPropertyViewController::view(ViewForKeyDown* view, QKeyEvent* event)
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

void PatchGroupPropertyViewController::focusInEvent(QFocusEvent* event)
{
    ViewForKeyDown::focusInEvent(event);
    showKeys();
}

void PatchGroupPropertyViewController::focusOutEvent(QFocusEvent* event)
{
    ViewForKeyDown::focusOutEvent(event);
    focusedButton_ = SheetButton::markedAfterFocusOut(*event, {saveButton_, cancelButton_}, focusedButton_);
    showKeys();
}

void PatchGroupPropertyViewController::saveButtonClicked()
{
    if (!saveActionBlock_) return;
    const std::string name = RuleText::of(groupNameTextField_->text());
    // A name left as it was passes, whatever tool gave it; a refused one keeps the sheet and its typing.
    const bool changed = !group_ || group_->name.value_or("") != name;
    if (changed && !GroupNameTextEditingManagement::groupNameTextShouldEndEditing(name, true, textRules_)) return;
    if (group_ && group_->name.value_or("") != name) group_->name = name;
    saveActionBlock_();
}

void PatchGroupPropertyViewController::cancelButtonClicked()
{
    if (cancelActionBlock_) cancelActionBlock_();
}
