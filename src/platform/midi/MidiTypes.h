#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// A reference to a MIDI object (client, port, device, entity, endpoint). 0 names nothing.
using MidiRef = std::uint32_t;
constexpr MidiRef kMidiNoRef = 0;

enum class MidiObjectType { Other, Client, Port, Device, Entity, Source, Destination };

enum class MidiNotificationKind { SetupChanged, ObjectAdded, ObjectRemoved, PropertyChanged };

// One change of the system's MIDI setup, delivered to a client's notification procedure on the main queue.
// Added and removed name the parent and the child; a property change names the object and the property.
struct MidiNotification {
    MidiNotificationKind kind = MidiNotificationKind::SetupChanged;
    MidiRef parent = kMidiNoRef;
    MidiObjectType parentType = MidiObjectType::Other;
    MidiRef child = kMidiNoRef;
    MidiObjectType childType = MidiObjectType::Other;
    MidiRef object = kMidiNoRef;
    MidiObjectType objectType = MidiObjectType::Other;
    std::string propertyName;
};

enum class MidiProperty { Offline, Name, DisplayName, MaxSysExSpeed };

const char* midiPropertyName(MidiProperty property);

// The bytes of one packet as the backend delivered them; SysEx arrives split over several packets.
using MidiPacket = std::vector<std::uint8_t>;
using MidiPacketList = std::vector<MidiPacket>;

using MidiNotifyProc = std::function<void(const MidiNotification&)>;
// Called on the backend's input thread, one call per packet list, in arrival order.
using MidiReadProc = std::function<void(const MidiPacketList&)>;
using MidiCompletion = std::function<void()>;

}  // namespace platform
