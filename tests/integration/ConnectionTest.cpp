// The unit's connection end to end: pulled out while connected, then plugged in again.

#include <QAction>

#include <gtest/gtest.h>

#include "DemoUnit.h"
#include "ProgramRig.h"
#include "WindowGestures.h"

using namespace std::chrono_literals;

TEST(Connection, AUnitPulledOutIsToldAndIsReadAgainOncePluggedIn)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        QWidget& window = rig.window();
        ASSERT_TRUE(rig.showPatchScreen());

        unit.unit().device().unplug();
        EXPECT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown));
        // Connect is offered again.
        EXPECT_TRUE(ProgramRig::waitUntil(
            [&] { return WindowGestures::enabledAction(window, QStringLiteral("Connect")) != nullptr; }));
        ProgramRig::closeInformation();

        const std::size_t readsBefore = unit.patchRequests();
        unit.editOnUnit(7, "While Away", "Changed while unplugged");
        unit.unit().device().plugIn();
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            return unit.patchRequests() >= readsBefore + static_cast<std::size_t>(unit.patchCount()) &&
                   rig.connectedAndRead();
        }));
        EXPECT_TRUE(ProgramRig::waitUntil(
            [] { return WindowGestures::patchListText(7, 1) == QStringLiteral("While Away"); }));
        EXPECT_FALSE(ProgramRig::informationShown());
    });
}
