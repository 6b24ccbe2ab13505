// The unit's connection end to end: pulled out while connected, then plugged in again.

#include <QAction>
#include <QRegularExpression>

#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DemoCatalogue.h"
#include "DemoUnit.h"
#include "ProgramRig.h"
#include "WindowGestures.h"

using namespace std::chrono_literals;

TEST(Connection, AUnitPulledOutIsToldAndIsReadAgainOncePluggedIn)
{
    ProgramRig::onThePatchScreen([](ProgramRig& rig, DemoUnit& unit, QWidget&) {
        EXPECT_EQ(rig.unitFolders(), (std::vector<std::string>{"Temp/Device", "Temp/Effect/List", "Device/Patch"}));
        ASSERT_TRUE(rig.replug([&] {
            EXPECT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown));
            // A lost unit's working folders go with it.
            EXPECT_TRUE(ProgramRig::waitUntil([&] { return rig.unitFolders().empty(); }, 10s)) << testing::PrintToString(rig.unitFolders());
            unit.editOnUnit(7, "While Away", "Changed while unplugged");
        }));
        EXPECT_TRUE(ProgramRig::waitUntil([] { return WindowGestures::patchListText(7, 1) == QStringLiteral("While Away"); }));
        EXPECT_FALSE(ProgramRig::informationShown());
    });
}

namespace {

// Watches the busy line through a read of the unit's patches that `start` begins, at a MIDI cable's pace,
// and answers the lines seen at several points of it, the patches the unit had been asked for at each.
std::vector<std::pair<std::size_t, QString>> linesThroughASlowRead(ProgramRig& rig, const std::function<void()>& start)
{
    DemoUnit& unit = rig.unit();
    QWidget& window = rig.window();
    const std::size_t before = unit.patchRequests();
    unit.unit().setPacing(3125.0, std::chrono::microseconds(0));
    start();
    std::vector<std::pair<std::size_t, QString>> seen;
    for (const std::size_t at : {1, 25, 50, 75, 99}) {
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchRequests() >= before + at; }, 60s)) << at;
        seen.emplace_back(unit.patchRequests() - before, WindowGestures::busyLine(window));
    }
    unit.unit().setPacing(0.0, std::chrono::microseconds(0));
    return seen;
}

}  // namespace

// The busy line names the read at its start and counts its patches to its end, whether the unit came
// by Connect or by being plugged in again, and goes with it.
TEST(Connection, TheBusyLineTellsTheReadFromItsStartToItsEnd)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        QWidget& window = rig.window();
        const auto expectCounted = [](const std::vector<std::pair<std::size_t, QString>>& seen) {
            int last = -1;
            for (const auto& [asked, line] : seen) {
                // The count is told every fifth patch: it stands at most five behind the unit.
                const QRegularExpressionMatch count =
                    QRegularExpression(QStringLiteral("^Reading patches: (\\d+)\u00A0of\u00A0100$")).match(line);
                if (asked <= 5 && !count.hasMatch()) {
                    EXPECT_FALSE(line.isEmpty()) << asked;
                    continue;
                }
                ASSERT_TRUE(count.hasMatch()) << asked << ": " << line.toStdString();
                const int done = count.captured(1).toInt();
                EXPECT_LE(done, static_cast<int>(asked)) << asked;
                EXPECT_GE(done + 5, static_cast<int>(asked) - 1) << asked;
                EXPECT_GE(done, last);
                last = done;
            }
        };

        WindowGestures::clickButton(window, "ejectButton");
        ASSERT_TRUE(ProgramRig::offers("Connect", 30s));
        expectCounted(linesThroughASlowRead(rig, [&] {
            ProgramRig::choose("Connect");
        }));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return rig.connectedAndRead() && WindowGestures::busyLine(window).isEmpty(); }));

        unit.unit().device().unplug();
        ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown));
        ProgramRig::closeInformation();
        expectCounted(linesThroughASlowRead(rig, [&] { unit.unit().device().plugIn(); }));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return rig.connectedAndRead() && WindowGestures::busyLine(window).isEmpty(); }));
    });
}

// Quit chosen while the unit's patches are read: the read ends, and the update of the unit's outdated effect
// that would follow it never starts; the program ends with the unit's effects as they were.
TEST(Connection, AQuitDuringTheReadLetsItEndAndChangesNoEffectOnTheUnit)
{
    ProgramRig rig;
    const DemoCatalogue::Effect& outdated = DemoCatalogue::updatedEffect();
    std::optional<std::string> versionAtEnd;
    std::size_t readAtEnd = 0;
    std::size_t readsBefore = 0;
    std::size_t patches = 0;
    rig.atUnitEnd([&](DemoUnit& unit) {
        versionAtEnd = unit.effectVersion(outdated.type);
        readAtEnd = unit.patchRequests();
    });
    std::optional<std::string> versionAtQuit;
    rig.runToTheEnd([&](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        QWidget& window = rig.window();
        WindowGestures::clickButton(window, "ejectButton");
        ASSERT_TRUE(ProgramRig::offers("Connect", 30s));
        // The unit's effects as before the first connection's update: one is outdated again.
        unit.loadEffects();
        versionAtQuit = unit.effectVersion(outdated.type);
        readsBefore = unit.patchRequests();
        patches = static_cast<std::size_t>(unit.patchCount());
        unit.unit().setPacing(3125.0, std::chrono::microseconds(0));
        ProgramRig::choose("Connect");
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchRequests() >= readsBefore + 10; }, 60s));
        rig.quitFromMenu();
        unit.unit().setPacing(0.0, std::chrono::microseconds(0));
    });
    ASSERT_TRUE(versionAtQuit.has_value());
    EXPECT_NE(*versionAtQuit, outdated.version);
    EXPECT_EQ(versionAtEnd, versionAtQuit);
    EXPECT_GE(readAtEnd, readsBefore + patches) << "the read was not let end";
}
