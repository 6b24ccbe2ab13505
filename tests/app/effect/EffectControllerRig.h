#pragma once

#include <chrono>

#include "EffectScreenFakes.h"
#include "app/effect/CustomTableViewForEffect.h"
#include "app/effect/EffectListModel.h"
#include "app/effect/EffectManagerViewController.h"
#include "app/effect/EffectPoolOutlineView.h"
#include "app/shell/AppDelegate.h"
#include "support/app/Events.h"
#include "support/app/TestApplication.h"

namespace effect_test {

using testing_app::click;
using testing_app::mouse;

// A press, its release, a double click and its release, as the platform delivers a double click.
inline void doubleClick(QWidget* target, QPoint point)
{
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                            QEvent::MouseButtonRelease})
        mouse(target, type, point);
}

// The real screen, offscreen, over fake neighbours.
class EffectManagerViewControllerTest : public ::testing::Test {
protected:
    EffectManagerViewControllerTest()
    {
        appDelegate.setDeviceConnected(true);
        controller.view()->resize(1200, 700);
        controller.view()->show();
        settle();
    }
    void settle() { testing_app::processEventsUntil([] { return false; }, std::chrono::milliseconds(30)); }
    CustomTableViewForEffect& table() { return *controller.leftPanelTableView(); }
    EffectPoolOutlineView& pool() { return *controller.rightPanelOutlineView(); }
    QRect cell(int row, const std::string& column)
    {
        return table().visualRect(controller.effectListModel()->index(row, EffectListModel::columnOfIdentifier(column)));
    }
    // The list shown with its use counts in: a count still out would overwrite what a test sets next.
    void setList(std::vector<std::shared_ptr<EffectItem>> list)
    {
        const bool counted = appDelegate.isDeviceConnected() && !list.empty();
        controller.setEffectList(std::move(list));
        controller.setIsEffectListLoaded(true);
        controller.reloadDataInEffectList();
        settle();
        if (counted) testing_app::processEventsUntil([this] { return controller.logic().isUpdatedEffectUsedTimesNumber(); });
    }
    QPoint poolRowCentre(int row) { return pool().visualRect(pool().indexForRow(row)).center(); }
    QApplication& application = testing_app::application();
    testing_app::CallLog log;
    AppDelegate appDelegate;
    testing_app::FakeEffectCoordinator coordinator{log};
    testing_app::FakeEffectDialogs dialogs{log};
    EffectManagerViewController controller{{appDelegate, coordinator, dialogs}};
};

}  // namespace effect_test
