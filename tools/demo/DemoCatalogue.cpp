#include "DemoCatalogue.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "platform/bundle/Configuration.h"
#include "support/image/ImageMaker.h"
#include "support/library/LibraryFiles.h"
#include "support/server/LoopbackServer.h"
#include "support/server/ZipMaker.h"

namespace {

std::string text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

std::string picturePath(std::int32_t modelId) { return "/img/" + DemoCatalogue::modelIdText(modelId) + ".png"; }

// A grey icon of the kind the server's effects carry: dark opaque strokes (the list shows them white)
// on a light ground (the list drops it), a curve that tells the category.
Bytes greyIcon(const std::string& category)
{
    constexpr int kWidth = 40, kHeight = 30;
    std::vector<std::uint8_t> pixels(kWidth * kHeight * 4);
    const auto put = [&pixels](int x, int y, std::uint8_t grey) {
        if (x < 0 || x >= kWidth || y < 0 || y >= kHeight) return;
        std::uint8_t* p = &pixels[static_cast<std::size_t>(y * kWidth + x) * 4];
        p[0] = p[1] = p[2] = grey;
        p[3] = 255;
    };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) put(x, y, 205);
    const auto curve = [&category](double t) {
        constexpr double pi = 3.141592653589793;
        if (category == "MOD") return std::sin(2 * pi * t);
        if (category == "DRIVE") return std::clamp(3 * std::sin(2 * pi * t), -1.0, 1.0);
        if (category == "DELAY") return std::fmod(t * 3, 1.0) < 0.12 ? 1.0 - t : 0.0;
        if (category == "REVERB") return std::exp(-3 * t) * std::sin(6 * pi * t);
        if (category == "FILTER") return std::exp(-std::pow((t - 0.5) * 5, 2)) * 2 - 1;
        return t < 0.5 ? t * 2 - 1 : 0.0;  // a level that climbs, then holds
    };
    int previous = -1;
    for (int x = 3; x < kWidth - 3; ++x) {
        const double t = (x - 3) / double(kWidth - 7);
        const int y = static_cast<int>(std::lround(kHeight / 2.0 - curve(t) * (kHeight / 2.0 - 5)));
        const int from = previous < 0 ? y : std::min(previous, y), to = previous < 0 ? y : std::max(previous, y);
        for (int each = from; each <= to; ++each) {
            put(x, each, 40);
            put(x, each + 1, 40);
        }
        previous = y;
    }
    for (int x = 1; x < kWidth - 1; ++x) put(x, kHeight - 2, 70);
    return imagemaker::png(kWidth, kHeight, pixels);
}

}  // namespace

library_files::EffectLooks DemoCatalogue::looksOf(const Effect& effect)
{
    static const std::map<std::string, std::array<std::uint8_t, 3>> colours{
        {"DYNAMICS", {{60, 170, 90}}}, {"DRIVE", {{230, 120, 30}}}, {"MOD", {{60, 130, 230}}},
        {"DELAY", {{150, 90, 220}}},   {"REVERB", {{40, 180, 200}}}, {"FILTER", {{220, 200, 40}}}};
    static const std::map<std::string, std::string> notes{
        {"Compressor", "Evens out the picking; sustain with a soft knee."},
        {"Overdrive", "Warm tube-style drive that cleans up with the volume knob."},
        {"Chorus", "Two voices, slow and wide.\r\n"},
        {"TapeDelay", "Warm repeats with a little wow and flutter."},
        {"HallReverb", "A large hall with a long, dark tail."},
        {"NoiseGate", "Silences hum between phrases."},
        {"Distortion", "Hard clipping with a tight low end."},
        {"Flanger", "Jet sweeps, from subtle to extreme."},
        {"Phaser", "Four stages of slow swirl."},
        {"Tremolo", "Volume pulses, sine or square."},
        {"AutoWah", "Follows the pick attack."},
        {"GraphicEQ", "Seven bands for the last touch."}};
    library_files::EffectLooks looks;
    looks.icon = greyIcon(effect.category);
    const auto colour = colours.find(effect.category);
    if (colour != colours.end()) {
        looks.red = colour->second[0];
        looks.green = colour->second[1];
        looks.blue = colour->second[2];
    }
    const auto note = notes.find(effect.name);
    if (note != notes.end()) looks.note = note->second;
    return looks;
}

const std::vector<DemoCatalogue::Model>& DemoCatalogue::models()
{
    // A type's top byte is its category's number, which its module file carries; each category has its
    // own, in the order of their names.
    static const std::vector<Model> all{
        {kUnitModelId, "Rigmora One", "1.20",
         {{0x03000101, "Compressor", "DYNAMICS", "1.00"}, {0x02000102, "Overdrive", "DRIVE", "1.00"},
          {0x05000103, "Chorus", "MOD", "1.10"}, {0x01000104, "TapeDelay", "DELAY", "1.00"},
          {0x06000105, "HallReverb", "REVERB", "1.00"}, {0x03000106, "NoiseGate", "DYNAMICS", "1.00"}}},
        {0x00700002, "Rigmora Two", "2.05",
         {{0x02000201, "Distortion", "DRIVE", "1.00"}, {0x05000202, "Flanger", "MOD", "1.00"},
          {0x05000203, "Phaser", "MOD", "1.00"}, {0x05000204, "Tremolo", "MOD", "1.00"},
          {0x04000205, "AutoWah", "FILTER", "1.00"}, {0x04000206, "GraphicEQ", "FILTER", "1.00"}}},
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

const DemoCatalogue::Effect& DemoCatalogue::updatedEffect() { return models().front().effects[2]; }

bool DemoCatalogue::serve(support::LoopbackServer& server, const std::filesystem::path& scratch)
{
    nlohmann::json firmware = nlohmann::json::array();
    for (const Model& model : models()) {
        for (const Effect& effect : model.effects) {
            const std::string name = typeText(effect.type);
            const auto archive = scratch / (name + ".zip");
            const Bytes module =
                library_files::effectModule(effect.type, effect.name, effect.category, 1, 1, effect.version, looksOf(effect));
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
        for (const Effect& effect : model.effects) {
            nlohmann::json entry = library_files::catalogueEffect(effect.type);
            entry["version"] = effect.version;
            effects.push_back(std::move(entry));
        }
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
