// An effect edit cut at any message of the effect list's rewrite, by any fault the unit can show, leaves a
// unit that the next connection reads whole again, with the edit finished on it.
#include <ostream>

#include "support/library/EffectLibraryFixture.h"

using namespace effectfiles;
using Fault = sim::DeviceUnit::Fault;
using sim::RequestKey;

namespace {

enum class Action { Delete, Add, Recover, Favourite };

// One message of the list's rewrite: its key and which of that key's requests, counted from the list's
// unlink, it is (the acknowledgements and chunks come more than once).
struct Step {
    const char* name;
    std::uint8_t sub;
    int nthInList;
};

// The 260-byte list goes out as one chunk and the closing empty one.
constexpr Step kListWrite[] = {
    {"unlink", kUnlink, 1}, {"open", 0x20, 1}, {"openAck", 0x05, 1}, {"chunk", kWrite, 1},
    {"chunkAck", 0x05, 2}, {"endChunk", kWrite, 2}, {"endChunkAck", 0x05, 3}, {"close", 0x21, 1},
};

struct Case {
    Action action;
    Step step;
    Fault fault;
};

std::string nameOf(const Case& c)
{
    static const char* const actions[] = {"Delete", "Add", "Recover", "Favourite"};
    static const char* const faults[] = {"Unplug", "SilentOnce", "SilentForGood", "Cut", "Grown", "ErrorCode"};
    return std::string(actions[static_cast<int>(c.action)]) + "_" + c.step.name + "_" +
           faults[static_cast<int>(c.fault)];
}

void PrintTo(const Case& c, std::ostream* out) { *out << nameOf(c); }

// Every message with every fault for a deletion; for the other actions a third of those pairs, turned
// with the action, so each still meets every message and every fault kind.
std::vector<Case> allCases()
{
    std::vector<Case> cases;
    constexpr Fault kFaults[] = {Fault::Unplug, Fault::SilentOnce, Fault::SilentForGood, Fault::Cut, Fault::ErrorCode};
    for (Action action : {Action::Delete, Action::Add, Action::Recover, Action::Favourite})
        for (std::size_t step = 0; step < std::size(kListWrite); ++step)
            for (std::size_t fault = 0; fault < std::size(kFaults); ++fault)
                if (action == Action::Delete || (step + fault) % 3 == static_cast<std::size_t>(action) - 1)
                    cases.push_back({action, kListWrite[step], kFaults[fault]});
    return cases;
}

}  // namespace

class EffectEditFault : public EffectLibrary, public ::testing::WithParamInterface<Case> {
protected:
    // The unit holds Echo (loaded) and names Tape unloaded; the store holds Echo, Tape and Delay.
    void prepare()
    {
        start(files);
        unit.files().setFile("FLST_SEQ.QT2", listFile(kDeviceList, 260));
        unit.files().setFile("Echo.QF2", moduleFile(kEcho));
        for (const auto& module : {kEcho, kTape, kDelay}) storeModule(module);
        utils->dataFromServer(catalogueListing({kEcho, kTape, kDelay}));
        effectsOnDevice = 2;
        utils->downloadFileSuccess(true);
        ASSERT_EQ(until("idle").back(), "idle");
    }
    // How many requests of `sub` the module step sends ahead of the list's rewrite.
    int beforeList(Action action, std::uint8_t sub)
    {
        if (action == Action::Favourite) return 0;
        if (action == Action::Delete) return sub == kUnlink ? 1 : 0;
        const auto module = files.readFile(store(action == Action::Add ? "Delay.QF2" : "Tape.QF2"));
        const int chunks = static_cast<int>((module->size() + 511) / 512) + 1;
        switch (sub) {
        case kWrite: return chunks;
        case 0x05: return chunks + 1;
        default: return 1;
        }
    }
    void act(Action action)
    {
        switch (action) {
        case Action::Delete: utils->deleteEffectItem(storeItem("Echo.QF2")); break;
        case Action::Add: utils->addEffectItem(storeItem("Delay.QF2")); break;
        case Action::Recover: utils->recoverEffectItem(storeItem("Tape.QF2")); break;
        case Action::Favourite: {
            auto echo = storeItem("Echo.QF2");
            echo->isFavourite = true;
            utils->addFavouriteOfEffectItem(echo);
            break;
        }
        }
    }
    Strings shown()
    {
        Strings out;
        for (const auto& e : recorder.effects())
            out.push_back(e->fileName + (e->isDeleted ? " deleted" : "") + (e->isFavourite ? " favourite" : ""));
        return out;
    }
};

TEST_P(EffectEditFault, TheNextConnectionReadsTheUnitWithTheEditFinished)
{
    const Case c = GetParam();
    prepare();
    unit.faultAt(RequestKey::fileSystem(c.step.sub), beforeList(c.action, c.step.sub) + c.step.nthInList, c.fault);
    act(c.action);
    runOutIdle();
    ASSERT_GE(unit.device().requestCount(RequestKey::fileSystem(c.step.sub)),
              static_cast<std::size_t>(beforeList(c.action, c.step.sub) + c.step.nthInList))
        << "the fault was never met";

    const Strings heard = plugInAgain();
    ASSERT_EQ(std::count(heard.begin(), heard.end(), "patches 6"), 1) << ::testing::PrintToString(heard);
    switch (c.action) {
    case Action::Delete:
        EXPECT_EQ(shown(), (Strings{"Echo.QF2 deleted", "Tape.QF2 deleted"}));
        EXPECT_FALSE(unit.files().file("Echo.QF2"));
        break;
    case Action::Add:
        EXPECT_EQ(shown(), (Strings{"Echo.QF2", "Delay.QF2", "Tape.QF2 deleted"}));
        EXPECT_EQ(unit.files().file("Delay.QF2"), moduleFile(kDelay));
        break;
    case Action::Recover:
        EXPECT_EQ(shown(), (Strings{"Echo.QF2", "Tape.QF2"}));
        EXPECT_EQ(unit.files().file("Tape.QF2"), moduleFile(kTape));
        break;
    case Action::Favourite:
        EXPECT_EQ(shown(), (Strings{"Echo.QF2 favourite", "Tape.QF2 deleted"}));
        break;
    }
    EXPECT_EQ(unit.files().file("Echo.QF2").has_value(), c.action != Action::Delete);
    // Nothing is left kept: the same unit, connected again, is read as it is.
    const Bytes list = deviceList();
    const Strings again = plugInAgain();
    ASSERT_EQ(std::count(again.begin(), again.end(), "patches 6"), 1) << ::testing::PrintToString(again);
    EXPECT_EQ(deviceList(), list);
}

// The unit the edit was left on may hold a module its list names unloaded (a repair whose unlink it refused
// leaves it so): it is still told apart as the edit's, and read whole again.
class EditsUnitWithAnUnnamedModule : public EffectEditFault {
protected:
    void check(Action action)
    {
        prepare();
        unit.files().setFile("Tape.QF2", moduleFile(kTape));
        unit.faultAt(RequestKey::fileSystem(0x20), beforeList(action, 0x20) + 1, Fault::Unplug);
        act(action);
        runOutIdle();
        const Strings heard = plugInAgain();
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "patches 6"), 1) << ::testing::PrintToString(heard);
        EXPECT_EQ(unit.files().file("Echo.QF2").has_value(), action != Action::Delete);
    }
};

TEST_F(EditsUnitWithAnUnnamedModule, Delete) { check(Action::Delete); }
TEST_F(EditsUnitWithAnUnnamedModule, Add) { check(Action::Add); }
TEST_F(EditsUnitWithAnUnnamedModule, Favourite) { check(Action::Favourite); }

// The unit answers the list's unlink of a deletion only after the deletion was given up, and that late code
// lands as the next connection asks the unit whether the deleted module is gone (the unit without its list
// is told apart as the edit's by its files): it is taken for no answer of that connection, which finishes
// the deletion and reads the unit whole.
class LateAnswerOfACutDeletion : public EffectEditFault {
protected:
    // Lands just before (or after) the unit's answer to the nth request of `sub` in the next connection.
    // cleanUp: the unit falls silent at the list's first chunk instead, and the late code is its answer to
    // the close the cut write's clean-up sends, which nobody waits for.
    void landing(std::uint8_t sub, int nth, bool after, bool cleanUp = false)
    {
        prepare();
        if (cleanUp) {
            unit.faultAt(RequestKey::fileSystem(kWrite), 1, Fault::SilentOnce);
            unit.lateReplyAt(RequestKey::fileSystem(0x21), 1, 1 << 20);
        } else {
            unit.lateReplyAt(RequestKey::fileSystem(kUnlink), beforeList(Action::Delete, kUnlink) + 1, 1 << 20);
        }
        act(Action::Delete);
        runOutIdle();
        ASSERT_FALSE(unit.files().file("FLST_SEQ.QT2")) << "the unit unlinked its list before the cut";
        unit.device().unplug();
        settle();
        unit.handInLateReplyAfter(RequestKey::fileSystem(sub), nth, after);
        unit.device().plugIn();
        Strings heard;
        loop.runUntil([&] {
            for (auto& e : recorder.take()) heard.push_back(std::move(e));
            return !heard.empty() && heard.back() == "idle" && timers.activeCount() == 0 &&
                   std::count(heard.begin(), heard.end(), "connect 1") == 1;
        }, std::chrono::seconds(30));
        for (auto& e : settle()) heard.push_back(e);
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "patches 6"), 1) << ::testing::PrintToString(heard);
        EXPECT_EQ(shown(), (Strings{"Echo.QF2 deleted", "Tape.QF2 deleted"}));
        EXPECT_FALSE(unit.files().file("Echo.QF2"));
    }
};

TEST_F(LateAnswerOfACutDeletion, BeforeTheLength) { landing(0x28, 1, false); }
TEST_F(LateAnswerOfACutDeletion, BeforeTheLengthsCode) { landing(0x28, 1, true); }
TEST_F(LateAnswerOfACutDeletion, BeforeTheSecondLength) { landing(0x28, 2, false); }
TEST_F(LateAnswerOfACutDeletion, BeforeTheSecondLengthsCode) { landing(0x28, 2, true); }
TEST_F(LateAnswerOfACutDeletion, BeforeTheListsFind) { landing(0x25, 1, false); }
TEST_F(LateAnswerOfACutDeletion, CleanUpsCloseBeforeTheLengthsCode) { landing(0x28, 1, true, true); }
TEST_F(LateAnswerOfACutDeletion, CleanUpsCloseBeforeTheSecondLengthsCode) { landing(0x28, 2, true, true); }

INSTANTIATE_TEST_SUITE_P(EveryMessageEveryFault, EffectEditFault, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return nameOf(info.param); });
