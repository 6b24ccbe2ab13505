#pragma once

#include <QTableView>

// The device patch list's table: one row per patch slot of the device, 55 points high.
class CustomTableViewForPatch : public QTableView {
    Q_OBJECT
public:
    explicit CustomTableViewForPatch(QWidget* parent = nullptr);

    // The list ignores the mouse and refuses drops while locked.
    bool lockTableView() const { return lockTableView_; }
    void setLockTableView(bool locked) { lockTableView_ = locked; }

private:
    bool lockTableView_ = false;
};
