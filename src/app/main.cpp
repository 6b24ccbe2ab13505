#include <QApplication>

#include "app/QtMainExecutor.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/AppLifecycle.h"
#include "platform/dispatch/Dispatch.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PEXO Rigmora"));
    QApplication::setApplicationVersion(QStringLiteral(RIG_VERSION));

    QtMainExecutor mainExecutor(&application);
    platform::Dispatch dispatch(mainExecutor);
    platform::Dispatch::setShared(&dispatch);

    AppLifecycle lifecycle(AppDelegate::getInstance(), dispatch, RIG_VERSION);
    QObject::connect(&application, &QApplication::aboutToQuit, &lifecycle, &AppLifecycle::applicationWillTerminate);
    lifecycle.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    platform::Dispatch::setShared(nullptr);
    return status;
}
