#include <QApplication>

#include "app/MainWindow.h"
#include "app/QtMainExecutor.h"
#include "platform/dispatch/Dispatch.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PEXO Rigmora"));
    QApplication::setApplicationVersion(QStringLiteral(RIG_VERSION));

    QtMainExecutor mainExecutor(&application);
    platform::Dispatch dispatch(mainExecutor);
    platform::Dispatch::setShared(&dispatch);

    MainWindow window;
    window.show();
    const int status = QApplication::exec();
    platform::Dispatch::setShared(nullptr);
    return status;
}
