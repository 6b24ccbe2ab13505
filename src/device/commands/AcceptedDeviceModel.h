#pragma once

#include <cstdint>

// What the command layer needs of an accepted device model from the server's catalogue: its identity as
// the device reports it. The sequencer builds these from the catalogue's model list, so the device layer
// never depends on the server documents.
struct AcceptedDeviceModel {
    std::int32_t modelIdInt = 0;
};
