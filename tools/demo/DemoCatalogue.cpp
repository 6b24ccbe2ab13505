#include "DemoCatalogue.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/bundle/Configuration.h"
#include "support/image/ImageMaker.h"
#include "support/library/LibraryFiles.h"
#include "support/server/LoopbackServer.h"
#include "support/server/ZipMaker.h"

namespace {

std::string text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

std::string picturePath(std::int32_t modelId) { return "/img/" + DemoCatalogue::modelIdText(modelId) + ".png"; }

}  // namespace

const std::vector<DemoCatalogue::Model>& DemoCatalogue::models()
{
    static const std::vector<Model> all{
        {kUnitModelId, "Rigmora One", "1.20",
         {{0x0B000101, "Compressor", "DYNAMICS"}, {0x0B000102, "Overdrive", "DRIVE"},
          {0x0B000103, "Chorus", "MOD"}, {0x0B000104, "TapeDelay", "DELAY"},
          {0x0B000105, "HallReverb", "REVERB"}, {0x0B000106, "NoiseGate", "DYNAMICS"}}},
        {0x00700002, "Rigmora Two", "2.05",
         {{0x0B000201, "Distortion", "DRIVE"}, {0x0B000202, "Flanger", "MOD"}, {0x0B000203, "Phaser", "MOD"},
          {0x0B000204, "Tremolo", "MOD"}, {0x0B000205, "AutoWah", "FILTER"}, {0x0B000206, "GraphicEQ", "FILTER"}}},
    };
    return all;
}

std::string DemoCatalogue::modelIdText(std::int32_t modelId)
{
    const auto v = static_cast<std::uint32_t>(modelId);
    const std::uint32_t swapped = ((v & 0x00FF00FFU) << 8) | ((v & 0xFF00FF00U) >> 8);
    return library_files::hex(swapped);
}

std::string DemoCatalogue::typeText(std::uint32_t type) { return library_files::hex(type); }

bool DemoCatalogue::serve(support::LoopbackServer& server, const std::filesystem::path& scratch)
{
    nlohmann::json firmware = nlohmann::json::array();
    for (const Model& model : models()) {
        for (const Effect& effect : model.effects) {
            const std::string name = typeText(effect.type);
            const auto archive = scratch / (name + ".zip");
            const Bytes module = library_files::effectModule(effect.type, effect.name, effect.category);
            if (!zipmaker::write(archive, {zipmaker::file(name + ".QF2", text(module))}))
                return false;
            server.serve("/qfx/" + name + ".zip", zipmaker::readFile(archive), "application/zip");
        }
        server.serve(picturePath(model.modelId), text(imagemaker::png(320, 200)), "image/png");
        firmware.push_back({{"modelId", modelIdText(model.modelId)}, {"modelVersion", model.firmwareVersion}});
    }
    server.serve("/v1/effects.json", catalogueDocument(server), "application/json");
    server.serve("/v1/apps.json",
                 nlohmann::json{{"apps", {{{"appName", "PEXO Rigmora"}, {"appVersionMac", RIG_VERSION}}}}}.dump(),
                 "application/json");
    server.serve("/v1/models.json", nlohmann::json{{"models", firmware}}.dump(), "application/json");
    server.serve("/history/en.html", "<p>1.0.0: the first release.</p>", "text/html");
    server.serve("/history/ja.html", "<p>1.0.0: the first release.</p>", "text/html");
    return true;
}

std::string DemoCatalogue::catalogueDocument(const support::LoopbackServer& server)
{
    nlohmann::json entries = nlohmann::json::array();
    for (const Model& model : models()) {
        nlohmann::json effects = nlohmann::json::array();
        for (const Effect& effect : model.effects) effects.push_back(library_files::catalogueEffect(effect.type));
        entries.push_back({{"modelId", modelIdText(model.modelId)},
                           {"modelName", model.name},
                           {"jpegImage", server.url(picturePath(model.modelId))},
                           {"effects", effects}});
    }
    return nlohmann::json{{"qfx_url", server.url("/qfx/")}, {"models", entries}}.dump();
}

std::vector<std::pair<std::string, std::string>> DemoCatalogue::configurationEntries(
    const support::LoopbackServer& server)
{
    using platform::Configuration;
    return {{Configuration::kServerURLAllQFX, server.url("/v1/effects.json")},
            {Configuration::kServerURLAppVersion, server.url("/v1/apps.json")},
            {Configuration::kServerURLModelVersion, server.url("/v1/models.json")},
            {Configuration::kServerVersionUpdateHistory_EN, server.url("/history/en.html")},
            {Configuration::kServerVersionUpdateHistory_JP, server.url("/history/ja.html")}};
}
