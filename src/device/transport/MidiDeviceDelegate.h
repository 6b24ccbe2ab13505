#pragma once

#include "device/transport/PatchObject.h"

// Hears what the transport learns about the device. The arrival and removal notices come on the main queue;
// the unsolicited patch notice comes on the MIDI input thread, where replies are recognised.
class MidiDeviceDelegate {
public:
    virtual ~MidiDeviceDelegate() = default;
    // A device was added or came online; the transport does not connect it by itself.
    virtual void getANewDevicePlugIn() = 0;
    // The connected device was removed or went offline.
    virtual void notifyRemoveCurrentConnectedDevice() = 0;
    // The device sent a patch of its own accord; it is stored at patch.path.
    virtual void notifyPatchDataChange(const PatchObject& patch) = 0;
};
