#include "app/dialogs/ShowDeviceIconImageView.h"

#include <QMouseEvent>

#include "app/controls/ControlClick.h"
#include "app/dialogs/DevicePropertyViewController.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/shell/AppDelegate.h"

ShowDeviceIconImageView::ShowDeviceIconImageView(ShowingDialogQueue& dialogQueue, QWidget* parent)
    : QLabel(parent), dialogQueue_(dialogQueue)
{
}

void ShowDeviceIconImageView::mousePressEvent(QMouseEvent* event) { event->accept(); }

void ShowDeviceIconImageView::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    // The sheet is the left button's; a right or middle click, or a Control-click (a right click by the
    // program's rule), opens nothing.
    if (event->button() != Qt::LeftButton || ControlClick::isRightClick(event->button(), event->modifiers())) return;
    showDeviceProperty();
}

void ShowDeviceIconImageView::showDeviceProperty()
{
    const AppDelegate& appDelegate = dialogQueue_.appDelegate();
    if (!appDelegate.isDeviceConnected() || appDelegate.isShowingDialog()) return;
    QPointer<ShowDeviceIconImageView> self(this);
    dialogQueue_.addBlockActionQueue([self]() -> QDialog* {
        if (!self) return nullptr;  // the picture went while the sheet waited
        auto* sheet = new DevicePropertyViewController(self->deviceName_, self->deviceVersion_);
        self->devicePropertyViewController_ = sheet;
        sheet->setActionForOkButton([self] {
            if (self && self->devicePropertyViewController_) {
                self->dialogQueue_.closeSheetOf(self->devicePropertyViewController_);
            }
        });
        return self->dialogQueue_.sheetWindowWithView(sheet);
    });
}
