#include "app/controls/UndoMenu.h"

#include <QVBoxLayout>

#include "app/controls/RightClickButton.h"
#include "app/controls/UndoMenuDelegate.h"
#include "app/shell/AppDelegate.h"
#include "app/views/InterfaceTexts.h"

UndoMenu::UndoMenu(bool undoEnabled, AppDelegate& appDelegate, QWidget* parent)
    : QWidget(parent), appDelegate_(appDelegate),
      undoButton_(new RightClickButton(InterfaceTexts::localizedString("Patch_Undo"), this))
{
    setObjectName(QStringLiteral("UndoMenu"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    undoButton_->setObjectName(QStringLiteral("undoButton"));
    undoButton_->setMinimumWidth(110);
    undoButton_->setEnabled(undoEnabled);
    undoButton_->setAction([this] { didClickOnUndoButton(); });
    undoButton_->setRightAction([this] { didClickOnUndoButton(); });
    layout->addWidget(undoButton_);
}

void UndoMenu::didClickOnUndoButton()
{
    if (appDelegate_.isShowingDialog()) return;
    if (delegate_) delegate_->undoMenuDidClickOnUndoButton();
}
