#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

// A message with an OK button; Return clicks OK.
class UpdateInformationView final : public QWidget {
    Q_OBJECT
public:
    explicit UpdateInformationView(const QString& information, QWidget* parent = nullptr);

    void setActionForOkButton(std::function<void()> action) { actionForOkButton_ = std::move(action); }
    void didClickOkButton();

    QLabel* informationTextField() const { return informationTextField_; }
    QPushButton* okButton() const { return okButton_; }

private:
    QLabel* informationTextField_;
    QPushButton* okButton_;
    std::function<void()> actionForOkButton_;
};
