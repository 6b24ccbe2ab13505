#include "support/app/FakeShellNeighbours.h"

namespace testing_app {

FakeMainWindowController::FakeMainWindowController(CallLog& log)
    : log_(log), view_(new QWidget), indicator_(new QWidget(view_))
{
    indicator_->setObjectName(QStringLiteral("viewForIndicator"));
    indicator_->hide();
}

FakeMainWindowController::~FakeMainWindowController()
{
    if (view_ && view_->parent() == nullptr) delete view_;
}

}  // namespace testing_app
