#include <gtest/gtest.h>

#include <QImage>

#include <atomic>
#include <filesystem>
#include <set>

#include "DemoCatalogue.h"
#include "DemoFolder.h"
#include "DemoLargePool.h"
#include "DemoPool.h"
#include "DemoUnit.h"
#include "WindowShot.h"
#include "device/formats/OKVEffect.h"
#include "device/formats/OKVPatch.h"
#include "device/formats/OKVQFXList.h"
#include "library/store/BackupFile.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/Configuration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/ApplicationSupport.h"
#include "platform/files/LocalFileManager.h"
#include "platform/image/BitmapImageRep.h"
#include "platform/text/Utf8.h"
#include "server/OKVServerController.h"
#include "support/files/TemporaryFolder.h"
#include "support/server/LoopbackServer.h"

namespace fs = std::filesystem;

namespace {

struct SyncResult : OKVServerDelegate {
    std::atomic<int> files{-1};
    std::atomic<int> pictures{0};
    std::atomic<bool> models{false};
    void downloadFileSuccess(bool success) override { files = success ? 1 : 0; }
    void downloadImageSuccess(bool success) override { pictures += success ? 1 : 0; }
    void modelVersionFromServer(std::optional<ModelsVersion> v) override { models = v && v->modelsList().size() == 2; }
};

// The server client synchronises with the demo's catalogue as with the real one: every archive unpacks to
// an effect module file of its type, and the pictures and version documents arrive.
TEST(DemoCatalogue, SynchronisesWithTheProgramsServerClient)
{
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    TemporaryFolder folder;
    support::LoopbackServer server;
    ASSERT_TRUE(DemoCatalogue::serve(server, folder.path()));
    std::string table;
    for (const auto& [key, value] : DemoCatalogue::configurationEntries(server)) table += "\"" + key + "\" = \"" + value + "\";\n";
    const fs::path root = fs::path(folder.path()) / "root";
    auto result = std::make_shared<SyncResult>();
    auto controller = OKVServerController::create(dispatch, root.string(), platform::Configuration(platform::StringsTable::parse(table)));
    controller->setDelegate(result);
    controller->getAllQFXFileFromServer();
    ASSERT_TRUE(loop.runUntil([&] { return result->files >= 0 && result->pictures == 2 && result->models; }));
    EXPECT_EQ(result->files, 1);
    int effects = 0;
    platform::LocalFileManager files;
    for (const DemoCatalogue::Model& model : DemoCatalogue::models()) {
        for (const DemoCatalogue::Effect& effect : model.effects) {
            const std::string type = DemoCatalogue::typeText(effect.type);
            const auto module = files.readFile(root / "QFXMacApplication/Effect" / type / (type + ".QF2"));
            ASSERT_TRUE(module) << type;
            const auto parsed = OKVEffect::initWithData(*module);
            ASSERT_TRUE(parsed) << type;
            EXPECT_EQ(std::tuple(parsed->type(), parsed->typeName(), parsed->version()), std::tuple(effect.type, effect.name, effect.version));
            // What the lists show: a grey icon with dark strokes, the category's colour, a note.
            const auto icon = platform::BitmapImageRep::imageRepWithData(parsed->icon().content().data(), parsed->icon().content().size());
            ASSERT_TRUE(icon) << type;
            const auto& pixels = icon->bitmapData();
            EXPECT_TRUE(std::any_of(pixels.begin(), pixels.end(), [](std::uint8_t v) { return v < 76; })) << type;
            EXPECT_NE(int(parsed->dispColorR()) + parsed->dispColorG() + parsed->dispColorB(), 0) << type;
            EXPECT_GT(parsed->textCkEN().content().size(), 1U) << type;
            ++effects;
        }
    }
    EXPECT_EQ(effects, 12);
    loop.runUntilIdle();
}

// A unit in use: every slot holds a readable patch with a name and a comment in each interface language
// (a Japanese interface shows the Japanese one), the names all differ, the effect list holds the unit
// model's effects with the first few loaded, and their files take memory.
TEST(DemoUnit, HoldsAHundredNamedPatchesAndLoadedEffects)
{
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    auto unit = std::make_shared<DemoUnit>(dispatch);
    ASSERT_EQ(unit->patchCount(), 100);
    const auto layout = sim::DeviceUnit::defaultLayout();
    std::set<std::string> names;
    for (std::int32_t group = 0; group < layout.groups; ++group)
        for (std::int32_t bank = 0; bank < layout.banks; ++bank)
            for (std::int32_t slot = 0; slot < layout.patchs; ++slot) {
                const auto record = unit->unit().patches().patch(group, bank, slot);
                ASSERT_TRUE(record);
                EXPECT_LE(static_cast<std::int64_t>(record->size()), layout.maxPatchSize);
                const auto patch = OKVPatch::initWithData(*record);
                ASSERT_TRUE(patch) << group << "/" << slot;
                EXPECT_LE(patch->patchName().size(), 10U);
                // Each uses an effect of the unit's model, so the effect list has use counts to show.
                ASSERT_GE(patch->effectTypes().size(), 1U);
                EXPECT_EQ(patch->effectTypes()[0] & 0x00FFFF00U, 0x00000100U);
                names.insert(patch->patchName());
            }
    EXPECT_EQ(names.size(), 100U);
    EXPECT_EQ(unit->patchNameAt(5), std::optional<std::string>("Blues 1"));
    EXPECT_FALSE(unit->patchNameAt(100).has_value());
    // Each language's comment as the coordinator shows it under that language, before and after the
    // unit's own edits; an edit that gives no Japanese comment leaves that chunk empty.
    const std::string japanese = "本体で変更";
    const struct {
        const char* language;
        std::int32_t slot;
        std::string before, after;
    } comments[] = {
        {"en", 5, "Warm overdrive, a touch of reverb", "Changed on the unit"},
        {"ja", 5, "暖かいオーバードライブに少しのリバーブ", japanese},
        {"en", 6, "Auto-wah and a short compressor", "English only"},
        {"ja", 6, "オートワウと短いコンプ", ""},
    };
    for (const auto& c : comments) EXPECT_EQ(unit->patchCommentAt(c.slot, c.language), c.before) << c.language << c.slot;
    unit->editOnUnit(5, "On Unit", "Changed on the unit", japanese);
    unit->editOnUnit(6, "Unit Six", "English only");
    EXPECT_EQ(unit->patchNameAt(5), std::optional<std::string>("On Unit"));
    for (const auto& c : comments) EXPECT_EQ(unit->patchCommentAt(c.slot, c.language), c.after) << c.language << c.slot;
    for (std::int32_t slot = 0; slot < unit->patchCount(); ++slot) {
        if (slot == 5 || slot == 6) continue;
        for (const char* language : {"en", "ja"}) {
            const auto shown = unit->patchCommentAt(slot, language);
            ASSERT_TRUE(shown) << slot << language;
            EXPECT_FALSE(shown->empty()) << slot << language;
        }
        EXPECT_FALSE(platform::Utf8::isAscii(*unit->patchCommentAt(slot, "ja"))) << slot;
    }
    const auto list = unit->unit().files().file(sim::DeviceUnit::kEffectList);
    ASSERT_TRUE(list);
    const OKVQFXList parsed = OKVQFXList::initWithByteData(*list);
    // All but the model's last effect are listed, so one can be added; the one the server offers in a
    // newer version is loaded, so it is updated once the unit is connected. Each is listed under the
    // category its module file names, by the name of its file on the unit, the categories in order.
    const auto& model = DemoCatalogue::models().front().effects;
    std::size_t listed = 0;
    std::int32_t previous = -1;
    for (const QFXListCategory& category : parsed.arrayCategory()) {
        EXPECT_GT(category.categoryID(), previous);
        previous = category.categoryID();
        for (const OKVQFXInformation& effect : category.arrayQFXInformation()) {
            const std::size_t i = std::find_if(model.begin(), model.end(), [&](const DemoCatalogue::Effect& e) {
                                      return DemoCatalogue::typeText(e.type) + ".QF2" == effect.nameQFX();
                                  }) - model.begin();
            ASSERT_LT(i, model.size()) << effect.nameQFX();
            ++listed;
            const Bytes file = library_files::effectModule(model[i].type, model[i].name, model[i].category);
            EXPECT_EQ(OKVEffect::initWithData(file)->category(), category.categoryID()) << i;
            EXPECT_EQ(effect.isLoadedQFX(), i < DemoUnit::kLoadedEffects) << i;
            EXPECT_EQ(unit->unit().files().file(effect.nameQFX()).has_value(), effect.isLoadedQFX()) << i;
            EXPECT_EQ(effect.versionQFX(), "1.00");
        }
    }
    EXPECT_EQ(listed, static_cast<std::size_t>(DemoUnit::kListedEffects));
    EXPECT_GT(parsed.arrayCategory().size(), 1U);
    EXPECT_FALSE(unit->isEffectLoaded(model.back().type).has_value());
    const DemoCatalogue::Effect& updated = DemoCatalogue::updatedEffect();
    EXPECT_EQ(unit->isEffectLoaded(updated.type), std::optional<bool>(true));
    EXPECT_EQ(unit->effectVersion(updated.type), std::optional<std::string>("1.00"));
    EXPECT_EQ(updated.version, "1.10");
    for (const auto& each : model) EXPECT_EQ(each.version, each.name == updated.name ? "1.10" : "1.00") << each.name;
    EXPECT_EQ(unit->unit().files().fileNames().size(), DemoUnit::kLoadedEffects + 1U);
    EXPECT_FALSE(unit->patchesRead());
}

// The demo's folder replaces the user's data folder and the shipped "Configuration" for this process only,
// keeps every shipped value it does not override, survives values that need escaping, and goes at the end.
// Without the program's resources the demo stops before it points the process anywhere.
TEST(DemoFolder, TakesThePlaceOfTheUsersFoldersAndGoesAtTheEnd)
{
    const auto shipped = platform::Bundle::locateResources();
    ASSERT_TRUE(shipped);
    const platform::Configuration original = platform::Configuration::load(platform::Bundle(*shipped));
    const std::string xdg = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    fs::path made;
    {
        DemoFolder folder;
        ASSERT_TRUE(folder.valid()) << folder.error();
        made = folder.path();
        const char* before = std::getenv("RIG_RESOURCES");
        EXPECT_FALSE(folder.install((folder.path() / "no-such-resources").string(), {}));
        EXPECT_NE(folder.error().find("no-such-resources"), std::string::npos) << folder.error();
        EXPECT_EQ(std::getenv("RIG_RESOURCES"), before);
        EXPECT_FALSE(fs::exists(folder.resources() / "Configuration.strings"));
        ASSERT_TRUE(folder.install(*shipped, {{platform::Configuration::kServerURLAllQFX, "http://127.0.0.1:9/a\"b\\c"}}))
            << folder.error();
        const auto configuration = platform::Configuration::load(platform::Bundle::main());
        EXPECT_EQ(configuration.string(platform::Configuration::kServerURLAllQFX), "http://127.0.0.1:9/a\"b\\c");
        for (const char* key : {platform::Configuration::kServerURLAppVersion, platform::Configuration::kCommand_Time_Out})
            EXPECT_EQ(configuration.string(key), original.string(key)) << key;
        EXPECT_EQ(fs::path(platform::ApplicationSupport::rootFolder()).parent_path(), folder.dataHome());
        EXPECT_TRUE(fs::exists(folder.resources() / "license.txt"));
    }
    EXPECT_FALSE(fs::exists(made));
    ::unsetenv("RIG_RESOURCES");
    if (xdg.empty()) ::unsetenv("XDG_DATA_HOME");
    else ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
}

TEST(WindowShot, BlankOnlyWhenEveryPixelIsTheSame)
{
    QImage uniform(40, 30, QImage::Format_RGB32);
    uniform.fill(Qt::white);
    QImage corner = uniform;
    corner.setPixel(39, 29, qRgb(0, 0, 0));
    const std::tuple<const char*, QImage, bool> cases[] = {{"null", QImage(), true}, {"uniform", uniform, true}, {"one pixel differs", corner, false}};
    for (const auto& [name, image, blank] : cases) EXPECT_EQ(WindowShot::isBlank(image), blank) << name;
}

// The demo's library lies as a saved pool does: entries numbered in pool order, the backup of the unit's
// model with its record, one patch of a generation the unit does not take; a seeded pool of any size too.
TEST(DemoPool, WritesASavedLibraryWithABackupOfTheUnitsModelOrASeededPoolOfAnySize)
{
    TemporaryFolder root;
    std::string error;
    ASSERT_TRUE(DemoPool::write(root.path(), error)) << error;
    const fs::path library = fs::path(root.path()) / "QFXMacApplication" / "Patch";
    EXPECT_TRUE(fs::is_regular_file(library / "Pool" / "[0] Warm Pad.qptc"));
    EXPECT_EQ(std::distance(fs::directory_iterator(library / "Pool" / "[1] Live Set"), fs::directory_iterator()), 3);
    const fs::path backup = library / "Backup" / (std::string("[4] ") + DemoPool::kBackupName);
    const auto record = BackupFile::readBackupFileWithPath((backup / BackupFile::kFileName).string(), root.path());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->modelName(), DemoCatalogue::models().front().name);
    EXPECT_EQ(record->backupName(), DemoPool::kBackupName);
    platform::LocalFileManager files;
    const auto old = OKVPatch::initWithContentsOfFile(files, (library / "Pool" / "[2] Old Unit.qptc").string());
    ASSERT_TRUE(old);
    EXPECT_NE(old->gen() & 0x01U, 0x01U);

    // A seeded pool is the program's own saved form: a hundred readable patches to a numbered group.
    TemporaryFolder data;
    ASSERT_TRUE(DemoLargePool::seed(data.path(), 250, error)) << error;
    const std::string pool = data.path() + "/QFXMacApplication/Patch/Pool";
    EXPECT_EQ(files.contentsOfDirectory(pool), (std::vector<std::string>{"[100] Set 1", "[101] Set 2", "[102] Set 3"}));
    EXPECT_EQ(files.contentsOfDirectory(pool + "/[102] Set 3")->size(), 50U);
    const auto first = files.readFile(pool + "/[100] Set 1/[0] Pool 1.qptc");
    ASSERT_TRUE(first);
    const auto patch = OKVPatch::initWithData(*first);
    ASSERT_TRUE(patch);
    EXPECT_EQ(std::string(patch->patchName().c_str()), "Pool 1");
}

}  // namespace
