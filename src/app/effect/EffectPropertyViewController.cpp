#include "app/effect/EffectPropertyViewController.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/InterfaceTexts.h"
#include "library/models/EffectItem.h"
#include "platform/bundle/StringFormat.h"

namespace {

QString caption(const std::string& key, const char* format)
{
    return QString::fromStdString(
        platform::StringFormat::format(format, {InterfaceTexts::localizedString(key).toStdString()}));
}

}  // namespace

EffectPropertyViewController::EffectPropertyViewController(std::shared_ptr<EffectItem> effectItem, bool isUsedTimesKnown,
                                                           QWidget* parent)
    : QWidget(parent),
      effectItem_(std::move(effectItem)),
      isUsedTimesKnown_(isUsedTimesKnown),
      okButton_(new QPushButton(InterfaceTexts::localizedString("Common_Ok"), this)),
      effectNameLabel_(new QLabel(QStringLiteral("Effect name:"), this)),
      effectCategoryLabel_(new QLabel(QStringLiteral("Category:"), this)),
      effectVersionLabel_(new QLabel(QStringLiteral("Version: "), this)),
      effectNameTextLabel_(new QLabel(QStringLiteral("-"), this)),
      effectCategoryTextLabel_(new QLabel(QStringLiteral("-"), this)),
      effectVersionTextLabel_(new QLabel(QStringLiteral("-"), this)),
      effectUsedTimesLabel_(new QLabel(this)),
      effectCommentTextView_(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("EffectPropertyViewController"));
    // The comment is shown, never edited; its keys (Return among them) go on to the sheet.
    effectCommentTextView_->setReadOnly(true);
    effectCommentTextView_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    effectCommentTextView_->setFocusPolicy(Qt::NoFocus);
    effectCommentTextView_->setFixedHeight(90);
    for (QLabel* value : {effectNameTextLabel_, effectCategoryTextLabel_, effectVersionTextLabel_})
        value->setTextFormat(Qt::PlainText);
    auto* fields = new QGridLayout;
    fields->addWidget(effectNameLabel_, 0, 0, Qt::AlignRight);
    fields->addWidget(effectNameTextLabel_, 0, 1);
    fields->addWidget(effectCategoryLabel_, 1, 0, Qt::AlignRight);
    fields->addWidget(effectCategoryTextLabel_, 1, 1);
    fields->addWidget(effectVersionLabel_, 2, 0, Qt::AlignRight);
    fields->addWidget(effectVersionTextLabel_, 2, 1);
    fields->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    okButton_->setMinimumWidth(100);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->addLayout(fields);
    layout->addWidget(effectUsedTimesLabel_);
    layout->addWidget(effectCommentTextView_);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    connect(okButton_, &QPushButton::clicked, this, &EffectPropertyViewController::okButtonClick);
    viewDidLoad();
}

EffectPropertyViewController::~EffectPropertyViewController() { dismissActionBlock_ = nullptr; }

void EffectPropertyViewController::viewDidLoad()
{
    if (effectItem_) {
        const EffectItem& item = *effectItem_;
        effectNameLabel_->setText(caption("Effect_EffectName", "%@:"));
        effectCategoryLabel_->setText(caption("Effect_Category", "%@:"));
        effectCommentTextView_->setPlainText(QString::fromStdString(item.effectNote));
        const auto usedTimes = isUsedTimesKnown_ ? platform::StringFormat::Argument(item.effectUsedTimes)
                                                 : platform::StringFormat::Argument("-");
        effectUsedTimesLabel_->setText(QString::fromStdString(platform::StringFormat::format(
            InterfaceTexts::localizedString("Effect_UsedTimesDescription").toStdString(), {usedTimes})));
        effectVersionLabel_->setText(caption("Effect_Version", "%@: "));
        effectNameTextLabel_->setText(QString::fromStdString(item.effectName));
        effectCategoryTextLabel_->setText(QString::fromStdString(item.effectCategory));
        effectVersionTextLabel_->setText(QString::fromStdString(item.effectVersion));
    }
    // Return is the OK button's key, as the sheet's default button.
    okButton_->setDefault(true);
    okButton_->setAutoDefault(true);
}

void EffectPropertyViewController::okButtonClick()
{
    if (dismissActionBlock_) dismissActionBlock_();
}
