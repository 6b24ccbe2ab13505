// The effect screen end to end: an effect updated at the connection, loaded, deleted, made a favourite
// and recovered, each held by the unit's list and files, and all of it still there after a reconnection;
// a deletion the unit leaves unanswered, finished by the connections after it.

#include <QAction>
#include <QTableView>

#include <stdexcept>

#include <gtest/gtest.h>

#include "DemoCatalogue.h"
#include "DemoUnit.h"
#include "EffectTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/views/InterfaceTexts.h"
#include "app/effect/EffectListModel.h"
#include "device/formats/OKVEffect.h"
#include "library/models/EffectItem.h"

using namespace std::chrono_literals;

namespace {

const DemoCatalogue::Effect& effectNamed(const std::string& name)
{
    for (const DemoCatalogue::Effect& effect : DemoCatalogue::models().front().effects)
        if (effect.name == name) return effect;
    throw std::logic_error("no such effect: " + name);
}

std::string fileOf(const std::string& name) { return DemoCatalogue::typeText(effectNamed(name).type) + ".QF2"; }

// The row of the effect list showing the effect, as the screen holds it.
std::shared_ptr<EffectItem> shownEffect(QWidget& window, const std::string& name)
{
    auto* table = window.findChild<QTableView*>(QStringLiteral("EffectTable"));
    auto* model = table != nullptr ? qobject_cast<EffectListModel*>(table->model()) : nullptr;
    if (model == nullptr) return nullptr;
    for (int row = 0; row < model->rowCount(); ++row)
        if (auto item = model->itemAtRow(row); item && item->effectName == name) return item;
    return nullptr;
}

// The version the module file on the unit carries; empty when the unit lacks the file.
std::string versionOnUnit(DemoUnit& unit, const std::string& name)
{
    const auto file = unit.unit().files().file(fileOf(name));
    const auto header = file ? OKVEffect::initWithData(*file) : std::nullopt;
    return header ? header->version() : std::string();
}

std::optional<bool> loadedOn(DemoUnit& unit, const std::string& name) { return unit.isEffectLoaded(effectNamed(name).type); }
std::optional<bool> favouriteOn(DemoUnit& unit, const std::string& name) { return unit.isEffectFavourite(effectNamed(name).type); }
bool holdsFile(DemoUnit& unit, const std::string& name) { return unit.unit().files().file(fileOf(name)).has_value(); }

// How many requests of the file system's `sub` the unit has heard so far; the length and free-space queries.
std::size_t asked(DemoUnit& unit, std::uint8_t sub) { return unit.unit().device().requestCount(sim::RequestKey::fileSystem(sub)); }
std::size_t queries(DemoUnit& unit) { return asked(unit, 0x28) + asked(unit, 0x29); }

// The unit's list and files as the four edits below leave them; the favourite may have been taken back.
void expectEditsOnTheUnit(DemoUnit& unit, bool favourite = true)
{
    const DemoCatalogue::Effect& updated = DemoCatalogue::updatedEffect();
    EXPECT_EQ(unit.effectVersion(updated.type), updated.version);
    EXPECT_EQ(versionOnUnit(unit, updated.name), updated.version);
    EXPECT_EQ(loadedOn(unit, EffectTour::kLoadedEffect), std::optional<bool>(true));
    EXPECT_TRUE(holdsFile(unit, EffectTour::kLoadedEffect));
    EXPECT_EQ(loadedOn(unit, EffectTour::kDeletedEffect), std::optional<bool>(false));
    EXPECT_FALSE(holdsFile(unit, EffectTour::kDeletedEffect));
    EXPECT_EQ(favouriteOn(unit, "Overdrive"), std::optional<bool>(favourite));
    EXPECT_EQ(loadedOn(unit, "HallReverb"), std::optional<bool>(true));
    EXPECT_TRUE(holdsFile(unit, "HallReverb"));
}

void expectEditsOnTheScreen(QWidget& window, bool favourite = true)
{
    const auto deleted = shownEffect(window, EffectTour::kDeletedEffect);
    ASSERT_TRUE(deleted);
    EXPECT_TRUE(deleted->isDeleted);
    const auto shown = shownEffect(window, "Overdrive");
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->isFavourite, favourite);
    for (const char* loaded : {EffectTour::kLoadedEffect, "HallReverb"}) {
        const auto item = shownEffect(window, loaded);
        ASSERT_TRUE(item) << loaded;
        EXPECT_FALSE(item->isDeleted) << loaded;
    }
    const auto updated = shownEffect(window, DemoCatalogue::updatedEffect().name);
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->effectVersion, DemoCatalogue::updatedEffect().version);
}

// Opens the menu of the named effect's row (none: the tour's own row), clicks an item that asks first, and
// answers OK.
void useMenuOf(QWidget& window, const char* name, void (*click)(QWidget&))
{
    ASSERT_TRUE(ProgramRig::waitUntil([&] {
        if (EffectTour::menuShown()) return true;
        if (name != nullptr) EffectTour::openMenuOf(window, name);
        else EffectTour::openMenu(window);
        return EffectTour::menuShown();
    }, 10s)) << (name != nullptr ? name : "the tour's row");
    click(window);
    ASSERT_TRUE(ProgramRig::waitUntil(EffectTour::deleteQuestionShown, 10s)) << name;
    EffectTour::confirmDelete(window);
}

}  // namespace

TEST(EffectScreen, EditsAreHeldByTheUnitAndOutliveAReconnection)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        QWidget& window = rig.window();
        // The unit's outdated effect was updated at the connection, on the unit too.
        EXPECT_TRUE(rig.updateNoticeSeen());
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return versionOnUnit(unit, DemoCatalogue::updatedEffect().name) == DemoCatalogue::updatedEffect().version; }));

        EffectTour::loadEffect(window);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return loadedOn(unit, EffectTour::kLoadedEffect) == std::optional<bool>(true); }));

        useMenuOf(window, nullptr, EffectTour::askToDelete);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return !holdsFile(unit, EffectTour::kDeletedEffect); }));

        useMenuOf(window, "Overdrive", EffectTour::clickFavourite);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return favouriteOn(unit, "Overdrive") == std::optional<bool>(true); }));
        // The listed effect the unit does not hold is recovered from the pool's copy.
        useMenuOf(window, "HallReverb", EffectTour::askToDelete);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return holdsFile(unit, "HallReverb"); }));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return loadedOn(unit, "HallReverb") == std::optional<bool>(true); }));
        expectEditsOnTheUnit(unit);
        expectEditsOnTheScreen(window);

        const std::size_t readsBefore = unit.patchRequests();
        // The unit's working folders go with it.
        EXPECT_EQ(rig.unitFolders(), (std::vector<std::string>{"Temp/Device", "Temp/Effect/List", "Device/Patch"}));
        WindowGestures::clickButton(window, "ejectButton");
        ASSERT_TRUE(ProgramRig::offers("Connect", 30s));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return rig.unitFolders().empty(); }, 10s))
            << testing::PrintToString(rig.unitFolders());
        ProgramRig::choose("Connect");
        ASSERT_TRUE(rig.readAgain(readsBefore));
        // The favourite taken back: it reaches the unit behind whatever the connection queued, so an update
        // of an effect still outdated would have run, and its notice shown, before it. Nothing is outdated
        // any more: the notice stays away, and every other edit is where it was.
        useMenuOf(window, "Overdrive", EffectTour::clickFavourite);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return favouriteOn(unit, "Overdrive") == std::optional<bool>(false); }));
        EXPECT_FALSE(EffectTour::updateNoticeShown());
        expectEditsOnTheUnit(unit, false);
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            const auto shown = shownEffect(window, "Overdrive");
            return shown && !shown->isFavourite;
        }));
        expectEditsOnTheScreen(window, false);

        // An effect's properties shown and closed.
        EffectTour::showProperties(window);
        ASSERT_TRUE(ProgramRig::waitUntil(EffectTour::propertiesShown, 10s));
        EffectTour::closeProperties(window);
        EXPECT_TRUE(ProgramRig::waitUntil([] { return !EffectTour::propertiesShown(); }, 10s));
    });
}

TEST(EffectScreen, AFullUnitTakesNoFurtherEffectAndSaysSo)
{
    // Room for the five effects its list already names.
    ProgramRig rig(ProgramRig::Options{false, DemoUnit::kListedEffects});
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        QWidget& window = rig.window();
        // The deleted one first: a recover needs room too.
        useMenuOf(window, "HallReverb", EffectTour::askToDelete);
        EXPECT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 10s));
        ProgramRig::closeInformation();
        // A favourite needs no room: it reaches the unit behind anything the refusal might have queued.
        const bool favourite = favouriteOn(unit, "Overdrive").value_or(false);
        useMenuOf(window, "Overdrive", EffectTour::clickFavourite);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return favouriteOn(unit, "Overdrive") == std::optional<bool>(!favourite); }));
        EXPECT_FALSE(holdsFile(unit, "HallReverb"));
        EXPECT_EQ(loadedOn(unit, "HallReverb"), std::optional<bool>(false));
        const auto shown = shownEffect(window, "HallReverb");
        ASSERT_TRUE(shown);
        EXPECT_TRUE(shown->isDeleted);
    });
}

// The unit answers the list's unlink of a deletion only after the deletion was given up (its silence), and
// that late code lands at the next connection, just after the unit's answer to the nth query of a file's
// length (the check that tells the unit the deletion was left on without its list): the connection reads
// the unit whole and finishes the deletion, the late code taken for no answer of it.
class LateDeletionAnswer : public testing::TestWithParam<int> {};

TEST_P(LateDeletionAnswer, IsTakenForNoAnswerOfTheNextConnection)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        QWidget& window = rig.window();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return versionOnUnit(unit, DemoCatalogue::updatedEffect().name) == DemoCatalogue::updatedEffect().version; }));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return WindowGestures::busyLine(window).isEmpty(); }, 20s));
        // The module's unlink, then the list's.
        unit.unit().lateReplyAt(sim::RequestKey::fileSystem(0x24), 2, 1 << 20);
        useMenuOf(window, nullptr, EffectTour::askToDelete);
        ASSERT_TRUE(ProgramRig::offers("Connect", 40s));
        ASSERT_FALSE(unit.unit().files().file(sim::DeviceUnit::kEffectList)) << "the unit unlinked its list before the cut";
        ASSERT_TRUE(rig.replug([&] { unit.unit().handInLateReplyAfter(sim::RequestKey::fileSystem(0x28), GetParam(), true); }));
        // The deletion finished on the unit is told; nothing failed.
        EXPECT_EQ(ProgramRig::informationText(),
                  InterfaceTexts::localizedString("Main_DeviceEffectListRepaired").toStdString());
        EXPECT_TRUE(unit.unit().files().file(sim::DeviceUnit::kEffectList).has_value());
        EXPECT_EQ(loadedOn(unit, EffectTour::kDeletedEffect), std::optional<bool>(false));
        EXPECT_FALSE(holdsFile(unit, EffectTour::kDeletedEffect));
        const auto deleted = shownEffect(window, EffectTour::kDeletedEffect);
        ASSERT_TRUE(deleted);
        EXPECT_TRUE(deleted->isDeleted);
    });
}

INSTANTIATE_TEST_SUITE_P(LengthQueries, LateDeletionAnswer, testing::Range(1, 3));

// The unit never answers the list's unlink of a deletion: a Disconnect waits behind it, the unit is let go,
// and the connections after it finish the deletion and ask each length and free-space query once, but for
// the one ask that writes the owed answer off.
TEST(EffectScreen, AnUnansweredDeletionCostsTheNextConnectionOneAskAndNoneAfter)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        QWidget& window = rig.window();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return WindowGestures::busyLine(window).isEmpty(); }, 20s));
        // What a connection asks when nothing is owed.
        std::size_t before = queries(unit);
        ASSERT_TRUE(rig.replug());
        const std::size_t plain = queries(unit) - before;
        ASSERT_GT(plain, 0u);

        // The module's unlink is answered; the list's, which follows it, never is.
        const std::size_t unlinks = asked(unit, 0x24);
        unit.unit().faultAt(sim::RequestKey::fileSystem(0x24), 2, sim::DeviceUnit::Fault::SilentOnce);
        useMenuOf(window, nullptr, EffectTour::askToDelete);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return asked(unit, 0x24) >= unlinks + 2; }, 10s));
        ASSERT_TRUE(WindowGestures::chooseMenuItem(window, QStringLiteral("Control"), QStringLiteral("Disconnect")));
        ASSERT_TRUE(ProgramRig::offers("Connect", 40s));
        ASSERT_FALSE(holdsFile(unit, EffectTour::kDeletedEffect)) << "the module's unlink went unanswered";

        // The next connection finishes the deletion, asking its first query in doubt once more.
        ASSERT_TRUE(rig.replug());
        EXPECT_EQ(loadedOn(unit, EffectTour::kDeletedEffect), std::optional<bool>(false));
        EXPECT_FALSE(holdsFile(unit, EffectTour::kDeletedEffect));

        // The one after asks as a connection that owes nothing.
        before = queries(unit);
        ASSERT_TRUE(rig.replug());
        EXPECT_EQ(queries(unit) - before, plain);
    });
}
