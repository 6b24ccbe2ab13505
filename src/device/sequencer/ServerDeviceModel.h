#pragma once

#include <array>
#include <cstdint>
#include <optional>

// What the sequencer takes from one model of the server's catalogue: the identity the command layer
// accepts, and the values that stand in for the device's own description where the server gives them
// (the server's word is newer than a device's firmware). Absent tables and a unit count of 0 leave the
// device's values in place. The coordinator builds these from the catalogue, so this layer never depends
// on the server documents.
struct ServerDeviceModel {
    std::int32_t modelIdInt = 0;
    std::optional<std::array<std::uint8_t, 4>> qfxGenerationModel;
    std::optional<std::array<std::uint8_t, 8>> qfxSupportRegionsModel;
    std::optional<std::array<std::uint8_t, 64>> qfxRegionLevelsModel;
    std::int64_t qfxMaxNumOfUnit = 0;
    std::optional<std::array<std::uint8_t, 4>> ptcGenerationModel;
    std::optional<std::array<std::uint8_t, 8>> ptcSupportRegionsModel;
    std::int64_t ptcMaxNumOfUnit = 0;
};
