// An effect deletion cut while the unit owes the answer to the list's unlink, which it never sends: a Disconnect
// waits behind it, the unit is let go, and the connections after it finish the deletion and ask each length
// and free-space query of the unit once, but for the one ask that writes the owed answer off.

#include <stdexcept>

#include <gtest/gtest.h>

#include "DemoCatalogue.h"
#include "DemoUnit.h"
#include "EffectTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"

using namespace std::chrono_literals;

namespace {

// How many requests of the file system's `sub` the unit has heard so far.
std::size_t asked(DemoUnit& unit, std::uint8_t sub)
{
    return unit.unit().device().requestCount(sim::RequestKey::fileSystem(sub));
}

std::size_t queries(DemoUnit& unit) { return asked(unit, 0x28) + asked(unit, 0x29); }

const DemoCatalogue::Effect& deletedEffect()
{
    for (const DemoCatalogue::Effect& effect : DemoCatalogue::models().front().effects)
        if (effect.name == EffectTour::kDeletedEffect) return effect;
    throw std::logic_error("the catalogue lacks the deleted effect");
}

auto deletedEffectType() { return deletedEffect().type; }

bool holdsDeletedEffect(DemoUnit& unit)
{
    return unit.unit().files().file(DemoCatalogue::typeText(deletedEffect().type) + ".QF2").has_value();
}

// Pulls the unit out and plugs it back in once the program let it go, then waits until its next connection is read and idle.
bool reconnect(ProgramRig& rig)
{
    if (ProgramRig::informationShown()) ProgramRig::closeInformation();
    rig.unit().unit().device().unplug();
    // Plugged in before the program saw it go, the unit would still count as read by the last connection.
    if (!ProgramRig::offers("Connect", 30s)) return false;
    if (ProgramRig::informationShown()) ProgramRig::closeInformation();
    rig.unit().unit().device().plugIn();
    return ProgramRig::waitUntil([&] { return rig.connectedAndRead(); }, 60s) &&
           ProgramRig::waitUntil([&] { return WindowGestures::busyLine(rig.window()).isEmpty(); }, 20s);
}

}  // namespace

TEST(UnansweredDeletion, CostsTheNextConnectionOneAskAndNoneAfter)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        QWidget& window = rig.window();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return WindowGestures::busyLine(window).isEmpty(); }, 20s));
        // What a connection asks when nothing is owed.
        std::size_t before = queries(unit);
        ASSERT_TRUE(reconnect(rig));
        const std::size_t plain = queries(unit) - before;
        ASSERT_GT(plain, 0u);

        // The module's unlink is answered; the list's, which follows it, never is.
        const std::size_t unlinks = asked(unit, 0x24);
        unit.unit().faultAt(sim::RequestKey::fileSystem(0x24), 2, sim::DeviceUnit::Fault::SilentOnce);
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            if (!EffectTour::menuShown()) EffectTour::openMenu(window);
            return EffectTour::menuShown();
        }, 10s));
        EffectTour::askToDelete(window);
        ASSERT_TRUE(ProgramRig::waitUntil(EffectTour::deleteQuestionShown, 10s));
        EffectTour::confirmDelete(window);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return asked(unit, 0x24) >= unlinks + 2; }, 10s));
        ASSERT_TRUE(WindowGestures::chooseMenuItem(window, QStringLiteral("Control"), QStringLiteral("Disconnect")));
        ASSERT_TRUE(ProgramRig::waitUntil(
            [&] { return WindowGestures::enabledAction(window, QStringLiteral("Connect")) != nullptr; }, 40s));
        ASSERT_FALSE(holdsDeletedEffect(unit)) << "the unit deleted the module before the cut";

        // The next connection finishes the deletion, asking its first query in doubt once more.
        ASSERT_TRUE(reconnect(rig));
        EXPECT_EQ(unit.isEffectLoaded(deletedEffectType()), std::optional<bool>(false));
        EXPECT_FALSE(holdsDeletedEffect(unit));

        // The one after asks as a connection that owes nothing.
        before = queries(unit);
        ASSERT_TRUE(reconnect(rig));
        EXPECT_EQ(queries(unit) - before, plain);
    });
}
