#pragma once

#include <QPointer>
#include <QPushButton>
#include <QString>

#include <functional>

#include "app/dialogs/KeyDownInViewDelegate.h"
#include "app/dialogs/ViewForKeyDown.h"

class QLabel;

// A question with a title, a description and two buttons, answered with the mouse or the keys (Right,
// Tab and Left move the focus, Return clicks the focused button).
class ConfirmationView final : public ViewForKeyDown, public KeyDownInViewDelegate {
    Q_OBJECT
public:
    using Action = std::function<void()>;

    explicit ConfirmationView(QWidget* parent = nullptr);

    void setTitleText(const QString& text);
    void setDescriptionText(const QString& text);
    void setFirstButtonTitleText(const QString& text);
    void setSecondButtonTitleText(const QString& text);
    void setActionForFirstButton(Action action) { actionForFirstButton_ = std::move(action); }
    void setActionForSecondButton(Action action) { actionForSecondButton_ = std::move(action); }
    // Which button has the focus when the sheet opens.
    void setIsDefaultSecondButton(bool isDefaultSecondButton);

    QLabel* titleLabel() const { return titleLabel_; }
    QLabel* descriptionLabel() const { return descriptionLabel_; }
    QPushButton* firstButton() const { return firstButton_; }
    QPushButton* secondButton() const { return secondButton_; }
    QPushButton* focusedButton() const { return focusedButton_; }

    void firstButtonClicked();
    void secondButtonClicked();
    void view(ViewForKeyDown* view, QKeyEvent* event) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* titleLabel_;
    QLabel* descriptionLabel_;
    QPushButton* firstButton_;
    QPushButton* secondButton_;
    QPointer<QPushButton> focusedButton_;
    Action actionForFirstButton_;
    Action actionForSecondButton_;
};
