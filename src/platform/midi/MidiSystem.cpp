#include "platform/midi/MidiSystem.h"

#include <atomic>
#include <cstdlib>

namespace platform {

namespace {
std::atomic<MidiSystem*> g_shared{nullptr};
}

const char* midiPropertyName(MidiProperty property)
{
    switch (property) {
    case MidiProperty::Offline: return "offline";
    case MidiProperty::Name: return "name";
    case MidiProperty::DisplayName: return "displayName";
    case MidiProperty::MaxSysExSpeed: return "maxSysExSpeed";
    }
    return "";
}

MidiSystem& MidiSystem::shared()
{
    MidiSystem* system = g_shared.load();
    if (system == nullptr) std::abort();  // the program sets it before the first device is looked for
    return *system;
}

void MidiSystem::setShared(MidiSystem* system) { g_shared.store(system); }

}  // namespace platform
