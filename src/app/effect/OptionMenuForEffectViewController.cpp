#include "app/effect/OptionMenuForEffectViewController.h"

#include <QVBoxLayout>

#include "app/controls/RightClickButton.h"
#include "app/effect/EffectDialogs.h"
#include "app/effect/OptionMenuForEffectViewControllerDelegate.h"
#include "app/shell/AppDelegate.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/EffectItem.h"

namespace {

constexpr int kMenuWidth = 200;

}  // namespace

OptionMenuForEffectViewController::OptionMenuForEffectViewController(
    AppDelegate& appDelegate, EffectDialogs& dialogs, std::size_t targetIndex, std::shared_ptr<EffectItem> effectItem,
    OptionMenuForEffectViewControllerDelegate* delegate, QObject* delegateLife, QWidget* parent)
    : QWidget(parent),
      appDelegate_(appDelegate),
      dialogs_(dialogs),
      targetIndex_(targetIndex),
      effectItem_(std::move(effectItem)),
      delegate_(delegate),
      delegateLife_(delegateLife),
      favoriteButton_(new RightClickButton(this)),
      deletingOrRecoveryButton_(new RightClickButton(this)),
      propertyButton_(new RightClickButton(this))
{
    setObjectName(QStringLiteral("OptionMenuForEffectViewController"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    for (RightClickButton* button : {favoriteButton_, deletingOrRecoveryButton_, propertyButton_})
        layout->addWidget(button);
    setFixedWidth(kMenuWidth);
    viewDidLoad();
    adjustSize();
}

void OptionMenuForEffectViewController::viewDidLoad()
{
    const bool favourite = effectItem_ && effectItem_->isFavourite;
    const bool deleted = effectItem_ && effectItem_->isDeleted;
    favoriteButton_->setText(InterfaceTexts::localizedString(favourite ? "Effect_FavouriteOff" : "Effect_FavouriteOn"));
    deletingOrRecoveryButton_->setText(InterfaceTexts::localizedString(deleted ? "Effect_Recover" : "Effect_Delete"));
    propertyButton_->setText(InterfaceTexts::localizedString("Effect_Property"));
    const auto both = [](RightClickButton* button, auto action) {
        button->setAction(action);
        button->setRightAction(action);
    };
    both(favoriteButton_, [this] { didClickFavoriteButton(); });
    both(deletingOrRecoveryButton_, [this] { didClickDeletingOrRecoveryButton(); });
    both(propertyButton_, [this] { didClickPropertyButton(); });
}

void OptionMenuForEffectViewController::didClickFavoriteButton()
{
    if (appDelegate_.isShowingDialog() || !effectItem_) return;
    // The answer may come after the menu has gone: it keeps only what it needs.
    const auto delegate = delegate_;
    const QPointer<QObject> life = delegateLife_;
    const auto item = effectItem_;
    const std::size_t index = targetIndex_;
    dialogs_.showConfirmation(
        item->isFavourite ? "Effect_RemovingFavouriteConfirmation" : "Effect_AddingFavouriteConfirmation",
        item->effectName, std::nullopt, "Common_Ok", "Common_Cancel",
        [delegate, life, item, index] {
            if (life) delegate->optionMenuDidClickOnFavoriteButton(!item->isFavourite, index, item);
        },
        [delegate, life, index] {
            if (life) delegate->optionMenuDidCancelChangingFavouriteAtIndex(index);
        },
        true);
}

void OptionMenuForEffectViewController::didClickDeletingOrRecoveryButton()
{
    if (appDelegate_.isShowingDialog() || !effectItem_ || !delegateLife_) return;
    const auto delegate = delegate_;
    const QPointer<QObject> life = delegateLife_;
    const auto item = effectItem_;
    const std::size_t index = targetIndex_;
    if (item->isDeleted) {
        delegate->optionMenuDidClickOnRecoveryButtonAtIndex(index, item);
        return;
    }
    // The question states how many patches use the effect: it waits for a patch list still being read.
    EffectDialogs& dialogs = dialogs_;
    delegate->optionMenuWhenUsedTimesAreCounted([&dialogs, delegate, life, item, index] {
        if (!life) return;
        dialogs.showConfirmation(
            "Effect_DeletingConfirmation", item->effectName,
            EffectDialogs::Description{"Effect_DeletingDescription", item->effectUsedTimes}, "Common_Ok",
            "Common_Cancel",
            [delegate, life, item, index] {
                if (life) delegate->optionMenuDidClickOnDeletingButtonAtIndex(index, item);
            },
            [delegate, life, index] {
                if (life) delegate->optionMenuDidCancelDeletingAtIndex(index);
            },
            false);
    });
}

void OptionMenuForEffectViewController::didClickPropertyButton()
{
    if (appDelegate_.isShowingDialog() || !delegateLife_) return;
    delegate_->optionMenuDidClickOnPropertyButtonAtIndex(targetIndex_, effectItem_);
}
