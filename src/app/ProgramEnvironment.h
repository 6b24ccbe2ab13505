#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/bundle/Configuration.h"

namespace platform {
class Dispatch;
class FileManager;
class MidiSystem;
}  // namespace platform

// What the program runs on, chosen by whoever starts it: the MIDI backend, the data folder and the
// "Configuration" table. The program itself takes the real ones; the demo launcher hands in the virtual
// backend with a simulated unit, a folder of its own and a table pointing at its local catalogue.
struct ProgramEnvironment {
    // Made once the main queue exists; it becomes the process's MIDI system for the program's life.
    using MidiSystemFactory = std::function<std::shared_ptr<platform::MidiSystem>(platform::Dispatch& dispatch)>;

    MidiSystemFactory midiSystem;
    // The program's root folder (the library and its working copies live under it).
    std::string rootFolder;
    // What reads and writes the files under it; the local file system's when none is given.
    std::shared_ptr<platform::FileManager> files;
    platform::Configuration configuration;
    // Called on the main thread once the launch has begun, before the event loop runs.
    std::function<void()> launched;
    // Called when the display named cannot be opened, just before the process ends with status 1.
    std::function<void()> cannotOpenWindows;

    // The ALSA sequencer, the user's data folder and the shipped table.
    static ProgramEnvironment standard();
};

// The program: the application object, the main queue, the launch, the event loop. Answers the exit status.
int runProgram(int argc, char** argv, const ProgramEnvironment& environment);
