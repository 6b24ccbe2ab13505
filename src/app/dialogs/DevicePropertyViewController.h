#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

// The device's model name and version with an OK button; Return clicks OK.
class DevicePropertyViewController final : public QWidget {
    Q_OBJECT
public:
    DevicePropertyViewController(const QString& modelName, const QString& version, QWidget* parent = nullptr);

    void setActionForOkButton(std::function<void()> action) { actionForOkButton_ = std::move(action); }
    void didClickOkButton();

    QLabel* deviceModelLabel() const { return deviceModelLabel_; }
    QLabel* modelNameTextField() const { return modelNameTextField_; }
    QLabel* versionTextField() const { return versionTextField_; }
    QPushButton* okButton() const { return okButton_; }

private:
    QLabel* deviceModelLabel_;
    QLabel* modelNameTextField_;
    QLabel* versionTextField_;
    QPushButton* okButton_;
    std::function<void()> actionForOkButton_;
};
