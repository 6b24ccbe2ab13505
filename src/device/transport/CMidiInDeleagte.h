#pragma once

#include <vector>

#include "device/transport/OKVSysExMessage.h"

// Hears the complete messages that one delivery of input finished, in arrival order. Called on the MIDI
// input thread: an adopter hands the batch on and returns at once.
class CMidiInDeleagte {
public:
    virtual ~CMidiInDeleagte() = default;
    virtual void receiveMessagesFromDevice(std::vector<OKVSysExMessage> messages) = 0;
};
