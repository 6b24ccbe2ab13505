// The unit's last moments with the program at a MIDI cable's pace: a Disconnect, a Quit or the session's
// end waits for the unit's work in hand. What the list shows then is what the unit holds when it goes: an
// edit tried meanwhile reaches the unit or is refused at once, and a change the unit made within the quiet
// time is merged and kept.

#include <QApplication>
#include <QLineEdit>

#include <algorithm>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "DemoUnit.h"
#include "DragTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/views/InterfaceTexts.h"
#include "support/power/PrivateLoginManager.h"

using namespace std::chrono_literals;
using Gestures = WindowGestures;

namespace {

// One way for the program to let the unit go, whether the program goes with it, and whether the run
// hears sleep and wake from a login manager.
struct End {
    const char* name;
    std::function<void(ProgramRig&)> ask;
    bool programEnds;
    bool sleeps = false;
    // What ends the wait the ask began, if it is not the program's own doing.
    std::function<void(ProgramRig&)> waitEnds = nullptr;
};

// The login manager announces sleep; the machine sleeps once the program lets its delay lock go, and
// wakes.
void announceSleep(ProgramRig& rig)
{
    support::PrivateLoginManager* manager = rig.loginManager();
    ASSERT_NE(manager, nullptr);
    ASSERT_GT(manager->locksTaken(), 0) << "the program took no delay lock on sleep";
    manager->announce("PrepareForSleep", true);
}

void sleepAndWake(ProgramRig& rig)
{
    support::PrivateLoginManager* manager = rig.loginManager();
    ASSERT_TRUE(ProgramRig::waitUntil([&] { return !manager->lastLockHeld(); }, 60s)) << "the sleep was never let go";
    manager->announce("PrepareForSleep", false);
}

const std::vector<End> kEnds{
    {"EjectButton", [](ProgramRig& rig) { Gestures::clickButton(rig.window(), "ejectButton"); }, false},
    {"DisconnectItem",
     [](ProgramRig& rig) { Gestures::chooseMenuItem(rig.window(), QStringLiteral("Control"), QStringLiteral("Disconnect")); }, false},
    {"QuitItem", [](ProgramRig& rig) { rig.quitWhenOffered(); }, true},
    {"Sigterm", [](ProgramRig& rig) { rig.endBySignal(SIGTERM); }, true},
    {"Sleep", announceSleep, false, true, sleepAndWake},
};

// Each end runs the program once, in a process of its own.
class EndWait : public testing::TestWithParam<std::size_t> {
protected:
    const End& end() const { return kEnds.at(GetParam()); }
};

using Clock = std::chrono::steady_clock;

// What the unit holds once it is let go (as the program ends, or once Connect shows again), and when.
struct LetGo {
    std::vector<std::string> names;
    Clock::time_point at;
};

// Runs the program at a cable's pace with `body` moving rows and asking `end`, then `then` once the program
// offers Connect again.
LetGo letGoAfter(const End& end, const std::function<void(ProgramRig&)>& body, int quietSeconds = 0,
                 const std::function<void()>& then = {})
{
    ProgramRig rig(ProgramRig::Options{.slowUnit = true, .quietSeconds = quietSeconds, .loginManager = end.sleeps});
    LetGo left;
    rig.atUnitEnd([&](DemoUnit& unit) {
        if (left.names.empty()) left = {ProgramRig::unitNames(unit), Clock::now()};
    });
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        body(rig);
        if (end.waitEnds) end.waitEnds(rig);
        if (end.programEnds) return;
        ASSERT_TRUE(ProgramRig::offers("Connect", 60s));
        left = {ProgramRig::unitNames(rig.unit()), Clock::now()};
        if (then) then();
    });
    return left;
}

// Moves `rows` of the list to `atRow` and waits until the list shows them moved: the write is under way.
void moveRows(ProgramRig& rig, const std::vector<std::uint64_t>& rows, int atRow)
{
    const auto before = ProgramRig::listNames(0, 30);
    DragTour::dropListRowsOnList(rig.window(), rows, atRow);
    ASSERT_TRUE(ProgramRig::waitUntil([&] { return ProgramRig::listNames(0, 30) != before; }));
}

}  // namespace

// A row renamed while the end waits for a 13-row move's write: the list shows the name only if the unit
// gets it before it goes; otherwise the rename is refused at the double-click and the busy line says why.
// A sleep lets the unit go as an eject does, and its wait may be cut by the system's delay.
TEST_P(EndWait, ARenameTriedWhileTheUnitIsLetGoIsNeverShownAndDropped)
{
    const End& end = this->end();
    const std::string refused =
        InterfaceTexts::localizedString(end.programEnds ? "Main_BusyQuitWaitsEditsOff" : "Main_BusyEjectWaitsEditsOff")
            .toStdString();
    bool shown = false;
    bool told = false;
    const auto names = letGoAfter(end, [&](ProgramRig& rig) {
        moveRows(rig, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 20);
        end.ask(rig);
        told = ProgramRig::waitUntil(
            [&] { return Gestures::busyLine(rig.window()).toStdString().find(refused) != std::string::npos; }, 5s);
        Gestures::doubleClickPatchList(rig.window(), 1, 1);
        if (!ProgramRig::waitUntil([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }, 2s))
            return;
        QCoreApplication::processEvents();
        Gestures::type(QStringLiteral("Lost Name"));
        Gestures::type({}, Qt::Key_Return);
        shown = ProgramRig::waitUntil([] { return Gestures::patchListText(1, 1) == QStringLiteral("Lost Name"); }, 2s);
    }).names;
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(std::count(names.begin(), names.end(), "Lost Name"), shown ? 1 : 0) << testing::PrintToString(names);
    EXPECT_TRUE(shown || told);
}

// The unit changes the patch a move's write is about to replace, and the end comes within the quiet time:
// the change is merged into the list's patch and written before the unit goes, so the unit keeps it once.
// Each end with a quiet time that outlasts the wait, and with the shipped one, which runs out during the
// write and has the list write the patch back behind the eject. A sleep lets the unit go the same way,
// within the time the login manager's delay lock gives.
class EndWaitInQuietTime : public testing::TestWithParam<std::tuple<std::size_t, int>> {};

TEST_P(EndWaitInQuietTime, AChangeOnTheUnitOutlivesTheEnd)
{
    const End& end = kEnds.at(std::get<0>(GetParam()));
    const auto names = letGoAfter(end, [&](ProgramRig& rig) {
        moveRows(rig, {9}, 1);
        // A sleep comes once the write has landed over the change (a write it cut short would leave the
        // change in place): the unit then holds the older copy, and only the list has the change.
        const int slot = end.sleeps ? 8 : 1;
        rig.unit().editOnUnit(slot, "Knob", "Turned while the write came");
        if (end.sleeps) {
            ASSERT_TRUE(ProgramRig::waitUntil([&] { return rig.unit().patchNameAt(slot) != "Knob"; }, 60s));
        }
        end.ask(rig);
    }, std::get<1>(GetParam())).names;
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(std::count(names.begin(), names.end(), "Knob"), 1) << testing::PrintToString(names);
}

// The unit stops answering (hung, or its power gone with the cable still in) in the middle of a 13-row
// move's write, whose own budget is two command time-outs a slot: each end lets it go once it has been
// silent a few command time-outs, not once that budget is spent, and the window names the slots that may
// not hold what the list showed. A unit that answers each slot slowly, later than a command time-out, is
// still waited for, and takes the whole move.
TEST_P(EndWait, AUnitThatStopsAnsweringIsLetGoByItsSilence)
{
    const End& end = this->end();
    // A sleep's wait is bounded by the login manager's delay, not by the unit's silence: the coordinator's
    // sleep table holds a write left unanswered.
    if (end.sleeps) GTEST_SKIP();
    Clock::time_point asked{};
    std::string told;
    const LetGo left = letGoAfter(end, [&](ProgramRig& rig) {
        rig.unit().unit().faultAt(sim::RequestKey::maker(0x45), 4, sim::DeviceUnit::Fault::SilentForGood);
        moveRows(rig, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 20);
        asked = Clock::now();
        end.ask(rig);
    }, 0, [&] {
        ASSERT_TRUE(ProgramRig::waitUntil([] { return ProgramRig::informationShown(); }, 10s));
        told = ProgramRig::informationText();
        ProgramRig::closeInformation();
    });
    ASSERT_FALSE(left.names.empty());
    // The move's budget is 2 minutes; a few command time-outs of silence (3 s each) are the bound.
    EXPECT_LT(left.at - asked, 40s);
    if (end.programEnds) return;
    const std::string format = InterfaceTexts::localizedString("Main_LostDuringWriteSlotsUnsure").toStdString();
    const std::string before = format.substr(0, format.find("%@"));
    EXPECT_EQ(told.rfind(before, 0), 0U) << told;
    // From the fourth slot of the write on, its last one (the 20th) among them.
    EXPECT_NE(told.find("05:4"), std::string::npos) << told;
}

TEST_P(EndWait, AUnitThatAnswersSlowlyIsWaitedFor)
{
    const End& end = this->end();
    // The session's end gives the unit five seconds whatever it does, a sleep the login manager's delay.
    if (std::string(end.name) == "Sigterm" || end.sleeps) GTEST_SKIP();
    std::vector<std::string> first;
    const auto names = letGoAfter(end, [&](ProgramRig& rig) {
        first = ProgramRig::unitNames(rig.unit());
        // Over a command time-out for each slot, within the two the write gives it.
        rig.unit().unit().delayReplies(sim::RequestKey::maker(0x45), 4s);
        moveRows(rig, {1}, 0);
        end.ask(rig);
    }).names;
    ASSERT_FALSE(names.empty());
    ASSERT_GE(first.size(), 2U);
    EXPECT_EQ(names[0], first[1]) << testing::PrintToString(names);
    EXPECT_EQ(names[1], first[0]) << testing::PrintToString(names);
}

INSTANTIATE_TEST_SUITE_P(Ends, EndWait, testing::Range<std::size_t>(0, 5),
                         [](const testing::TestParamInfo<std::size_t>& info) { return std::string(kEnds.at(info.param).name); });
INSTANTIATE_TEST_SUITE_P(Ends, EndWaitInQuietTime, testing::Combine(testing::Range<std::size_t>(0, 5), testing::Values(600, 0)),
                         [](const testing::TestParamInfo<std::tuple<std::size_t, int>>& info) {
                             return std::string(kEnds.at(std::get<0>(info.param)).name) +
                                    (std::get<1>(info.param) == 0 ? "ShippedQuietTime" : "LongQuietTime");
                         });
