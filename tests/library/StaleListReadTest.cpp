// The unit's late answer to the read of its effect list at a connection cut by the watchdog, handed in while
// the read of the next connection (the unit plugged in again) waits on any of its messages.
#include "support/library/EffectLibraryFixture.h"

using namespace effectfiles;
using sim::RequestKey;

namespace {

struct Message {
    std::uint8_t sub;
    int occurrence;
};

// Find, its acknowledgement, find close, open, its acknowledgement, three chunks (count, data, and the code
// after the data's acknowledgement), close.
constexpr Message kListRead[] = {{0x25, 1}, {0x05, 1}, {0x27, 1}, {0x20, 1}, {0x05, 2}, {0x22, 1}, {0x05, 3}, {0x05, 4},
                             {0x22, 2}, {0x05, 5}, {0x05, 6}, {0x22, 3}, {0x05, 7}, {0x05, 8}, {0x21, 1}};

}  // namespace

class StaleListRead : public EffectLibrary, public ::testing::WithParamInterface<std::size_t> {
protected:
    // The connection acknowledges its information read before the list's read begins.
    static int inConnection(const Message& m) { return m.occurrence + (m.sub == 0x05 ? 1 : 0); }
};

TEST_P(StaleListRead, TheNextConnectionReadsTheListWhole)
{
    const Message& held = kListRead[GetParam()];
    const Bytes list = listFile(kDeviceList, 1300);
    start(files);
    for (const auto& module : {kEcho, kTape}) storeModule(module);
    unit.device().unplug();
    settle();
    utils->dataFromServer(catalogueListing({kEcho, kTape}));
    utils->downloadFileSuccess(true);
    settle();
    // A third of the landings for each held message, turned with it: every landing still met (the
    // sequencer's sweep takes every pair).
    for (std::size_t at = 0; at < std::size(kListRead); ++at) {
        if ((at + GetParam()) % 3 != 0) continue;
        const Message& landing = kListRead[at];
        char trace[64];
        std::snprintf(trace, sizeof trace, "landing before the answer to 60 %02X #%d", landing.sub, landing.occurrence);
        SCOPED_TRACE(trace);
        unit.clearFaults();
        unit.files().setFile("FLST_SEQ.QT2", list);
        unit.files().setFile("Echo.QF2", moduleFile(kEcho));
        unit.lateReplyAt(RequestKey::fileSystem(held.sub), inConnection(held), 1 << 20);
        unit.device().plugIn();
        const Strings first = runOutIdle();
        ASSERT_EQ(std::count(first.begin(), first.end(), "lost"), 1) << ::testing::PrintToString(first);

        unit.device().unplug();
        settle();
        unit.handInLateReplyAfter(RequestKey::fileSystem(landing.sub), inConnection(landing), false);
        unit.device().plugIn();
        const Strings second = runOutIdle();
        EXPECT_EQ(std::count(second.begin(), second.end(), "patches 6"), 1) << ::testing::PrintToString(second);
        EXPECT_EQ(files.readFile(storedCopy()), list);
        unit.device().unplug();
        settle();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryHeldMessage, StaleListRead, ::testing::Range<std::size_t>(0, std::size(kListRead)));
