#pragma once

#include <QListWidget>
#include <QPointer>
#include <QTreeWidget>

#include "support/app/FakePatchScreen.h"

namespace testing_app {

// A patch screen for the main window controller's rig: the fake, whose device patches and pool also show
// as plain lists (the pool greyed while locked), so that what the controller hands it shows on the rig's
// pictures.
class PlainPatchScreen final : public FakePatchScreen {
public:
    PlainPatchScreen();
    ~PlainPatchScreen() override { delete view_; }
    QWidget* view() override { return view_; }
    QPushButton* backUpAllOrRestoreAllButton() override { return view_ ? button_ : nullptr; }
    void setLockPatchPool(bool locked) override;
    void resetPatchPoolState() override;
    void reloadData() override { reloadDataInPatchList(), reloadDataInPatchPool(); }
    void reloadDataInPatchList() override;
    void reloadDataInPatchPool() override;
    // Without the list's slot table the change is shown where it arrived; the real screen places it.
    void updatePatchItem(std::shared_ptr<PatchItem> patchItem, const std::string& offset,
                         const UnitPatchChange& origin = {}) override;

private:
    QPointer<QWidget> view_ = new QWidget;  // the window that shows it may delete it first
    QListWidget* list_;
    QTreeWidget* pool_;
    QPushButton* button_;
};

}  // namespace testing_app
