#pragma once

#include <QLabel>
#include <QPointer>
#include <QString>

class DevicePropertyViewController;
class ShowingDialogQueue;

// The device picture of the main window. A click while a device is connected and no dialog shows
// opens the device property sheet through the dialog queue.
class ShowDeviceIconImageView final : public QLabel {
    Q_OBJECT
public:
    explicit ShowDeviceIconImageView(ShowingDialogQueue& dialogQueue, QWidget* parent = nullptr);

    // Set when the device reports them; cleared (null) with the application data.
    void setDeviceName(const QString& name) { deviceName_ = name; }
    const QString& deviceName() const { return deviceName_; }
    void setDeviceVersion(const QString& version) { deviceVersion_ = version; }
    const QString& deviceVersion() const { return deviceVersion_; }

    void showDeviceProperty();
    DevicePropertyViewController* devicePropertyViewController() const { return devicePropertyViewController_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    ShowingDialogQueue& dialogQueue_;
    QString deviceName_;
    QString deviceVersion_;
    QPointer<DevicePropertyViewController> devicePropertyViewController_;
};
