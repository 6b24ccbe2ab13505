#include <QApplication>

#include "app/ProgramEnvironment.h"
#include "app/QtMainExecutor.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/AppLifecycle.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/midi/MidiSystem.h"

int runProgram(int argc, char** argv, const ProgramEnvironment& environment)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PEXO Rigmora"));
    QApplication::setApplicationVersion(QStringLiteral(RIG_VERSION));

    QtMainExecutor mainExecutor(&application);
    platform::Dispatch dispatch(mainExecutor);
    platform::Dispatch::setShared(&dispatch);
    const std::shared_ptr<platform::MidiSystem> midiSystem = environment.midiSystem(dispatch);
    platform::MidiSystem::setShared(midiSystem.get());

    AppLifecycle lifecycle(AppDelegate::getInstance(), dispatch, RIG_VERSION);
    QObject::connect(&application, &QApplication::aboutToQuit, &lifecycle, &AppLifecycle::applicationWillTerminate);
    lifecycle.applicationDidFinishLaunching();
    if (environment.launched) environment.launched();
    const int status = QApplication::exec();
    platform::MidiSystem::setShared(nullptr);
    platform::Dispatch::setShared(nullptr);
    return status;
}
