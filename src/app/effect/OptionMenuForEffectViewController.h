#pragma once

#include <QPointer>
#include <QWidget>

#include <cstddef>
#include <memory>

class AppDelegate;
class EffectDialogs;
class EffectItem;
class OptionMenuForEffectViewControllerDelegate;
class RightClickButton;

// The option menu of one effect row: favourite on or off, delete or restore, properties. Favouring and
// deleting are asked first through the dialog queue; restoring and the properties answer at once.
// Both mouse buttons press its buttons, and none does anything while a sheet shows.
class OptionMenuForEffectViewController final : public QWidget {
    Q_OBJECT
public:
    // `delegateLife` is the delegate as an object: answers given after it has gone reach nobody.
    OptionMenuForEffectViewController(AppDelegate& appDelegate, EffectDialogs& dialogs, std::size_t targetIndex,
                                      std::shared_ptr<EffectItem> effectItem,
                                      OptionMenuForEffectViewControllerDelegate* delegate, QObject* delegateLife,
                                      QWidget* parent = nullptr);

    std::size_t targetIndex() const { return targetIndex_; }
    const std::shared_ptr<EffectItem>& effectItem() const { return effectItem_; }
    RightClickButton* favoriteButton() const { return favoriteButton_; }
    RightClickButton* deletingOrRecoveryButton() const { return deletingOrRecoveryButton_; }
    RightClickButton* propertyButton() const { return propertyButton_; }

    void didClickFavoriteButton();
    void didClickDeletingOrRecoveryButton();
    void didClickPropertyButton();

private:
    void viewDidLoad();

    AppDelegate& appDelegate_;
    EffectDialogs& dialogs_;
    std::size_t targetIndex_;
    std::shared_ptr<EffectItem> effectItem_;
    OptionMenuForEffectViewControllerDelegate* delegate_;
    QPointer<QObject> delegateLife_;
    RightClickButton* favoriteButton_;
    RightClickButton* deletingOrRecoveryButton_;
    RightClickButton* propertyButton_;
};
