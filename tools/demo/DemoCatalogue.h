#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/library/LibraryFiles.h"

namespace support {
class LoopbackServer;
}

// A small catalogue made up for the demo, in the server's own formats: two models with pictures, six
// effects each whose archives hold effect module files, the application and firmware version documents
// and the update histories. The first model is the simulated unit's; one of the effects loaded on the
// unit is offered in a newer version, so the unit's effects are updated once it is connected.
class DemoCatalogue {
public:
    struct Effect {
        std::uint32_t type;
        std::string name;
        std::string category;
        // The version the server offers; the unit holds each of its effects in "1.00".
        std::string version;
    };
    struct Model {
        std::int32_t modelId;
        std::string name;
        std::string firmwareVersion;
        std::vector<Effect> effects;
    };

    // The model ID of the simulated unit: family 0x0070, member 0x0001.
    static constexpr std::int32_t kUnitModelId = 0x00700001;

    static const std::vector<Model>& models();
    // The server's text of a model ID: the two bytes of each 16-bit half swapped, in hex.
    static std::string modelIdText(std::int32_t modelId);
    static std::string typeText(std::uint32_t type);
    // The unit's loaded effect that the server offers in a newer version.
    static const Effect& updatedEffect();
    // The effect's grey icon, its category's colour and a note, as its module files carry them.
    static library_files::EffectLooks looksOf(const Effect& effect);

    // Puts every document, archive and picture on the server; archives are packed in `scratch`.
    // False when an archive could not be made.
    static bool serve(support::LoopbackServer& server, const std::filesystem::path& scratch);
    static std::string catalogueDocument(const support::LoopbackServer& server);
    // The "Configuration" entries that point the program at the server.
    static std::vector<std::pair<std::string, std::string>> configurationEntries(const support::LoopbackServer& server);
};
