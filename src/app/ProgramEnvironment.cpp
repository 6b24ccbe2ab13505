#include "app/ProgramEnvironment.h"

#include "platform/bundle/Bundle.h"
#include "platform/files/ApplicationSupport.h"
#include "platform/midi/AlsaMidiSystem.h"

ProgramEnvironment ProgramEnvironment::standard()
{
    ProgramEnvironment environment;
    environment.midiSystem = [](platform::Dispatch& dispatch) {
        return std::make_shared<platform::AlsaMidiSystem>(dispatch);
    };
    environment.rootFolder = platform::ApplicationSupport::rootFolder();
    environment.configuration = platform::Configuration::load(platform::Bundle::main());
    return environment;
}
