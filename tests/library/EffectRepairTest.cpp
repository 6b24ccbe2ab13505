// A kept effect edit and the known list against the unit they are meant for, when the unit that comes back
// is another one of the same model.
#include <chrono>
#include <filesystem>

#include "support/library/EffectLibraryFixture.h"
#include "support/files/FaultyFileManager.h"

using namespace effectfiles;
using Fault = sim::DeviceUnit::Fault;
using sim::RequestKey;

namespace {

const Module kComp{0x05000002, "Comp", "10.0"};
// Unit A: Comp and Echo loaded, Tape deleted.
const std::vector<Category> kListA{{0x05, {{"Comp.QF2", "10.0", kComp.type}}}, {0x0D, {kEchoOn, kTapeOff}}};
// Unit B, of the same model: Echo and Tape loaded, Delay deleted.
const std::vector<Category> kListB{
    {0x0D, {kEchoOn, {"Tape.QF2", "1.30", kTape.type}, {"Delay.QF2", "1.00", kDelay.type, false}}}};

}  // namespace

class EffectRepair : public EffectLibrary {
protected:
    struct UnitFiles {
        std::map<std::string, Bytes> files;
    };

    void prepare(platform::FileManager* fileManager = nullptr)
    {
        start(fileManager ? *fileManager : files);
        holdUnit(unitA());
        for (const auto& module : {kComp, kEcho, kTape, kDelay}) storeModule(module);
        utils->dataFromServer(catalogueListing({kComp, kEcho, kTape, kDelay}));
        effectsOnDevice = 3;
        utils->downloadFileSuccess(true);
        ASSERT_EQ(until("idle").back(), "idle");
    }
    static UnitFiles unitA()
    {
        return {{{"FLST_SEQ.QT2", listFile(kListA, 260)}, {"Comp.QF2", moduleFile(kComp)}, {"Echo.QF2", moduleFile(kEcho)}}};
    }
    static UnitFiles unitB()
    {
        return {{{"FLST_SEQ.QT2", listFile(kListB, 260)}, {"Echo.QF2", moduleFile(kEcho)}, {"Tape.QF2", moduleFile(kTape)}}};
    }
    UnitFiles unitNow()
    {
        UnitFiles now;
        for (const std::string& name : unit.files().fileNames()) now.files[name] = *unit.files().file(name);
        return now;
    }
    void holdUnit(const UnitFiles& held)
    {
        for (const std::string& name : unit.files().fileNames()) unit.files().removeFile(name);
        for (const auto& [name, bytes] : held.files) unit.files().setFile(name, bytes);
    }
    // The unit pulled (if it is not already), `next` plugged in instead; hands over what the connection told.
    Strings plugIn(const UnitFiles& next)
    {
        return plugInAgain([&] { holdUnit(next); });
    }
    // Unit A pulled as a delete's new list is written: the module's file is gone, the list half written.
    UnitFiles cutDelete(const char* module)
    {
        unit.faultAt(RequestKey::fileSystem(kWrite), 1, Fault::Unplug);
        utils->deleteEffectItem(storeItem(module));
        runOutIdle();
        return unitNow();
    }
    // The unit read whole at a connection: its patches were told once.
    static void readWhole(const Strings& heard) { EXPECT_EQ(count(heard, "patches 6"), 1) << ::testing::PrintToString(heard); }
    static UnitFiles withoutList(UnitFiles unit)
    {
        unit.files.erase("FLST_SEQ.QT2");
        return unit;
    }
    Strings shown()
    {
        Strings out;
        for (const auto& e : recorder.effects()) out.push_back(e->fileName + (e->isDeleted ? " deleted" : ""));
        return out;
    }
};

TEST_F(EffectRepair, AnEditCutShortIsFinishedOnTheUnitItWasLeftOnAndNoOther)
{
    prepare();
    const UnitFiles cutA = cutDelete("Echo.QF2");
    ASSERT_FALSE(cutA.files.contains("Echo.QF2"));

    // Unit B of the same model comes next: its list and files stay as they are, and it is read as it is.
    readWhole(plugIn(unitB()));
    EXPECT_EQ(unitNow().files, unitB().files);
    EXPECT_EQ(shown(), (Strings{"Echo.QF2", "Tape.QF2", "Delay.QF2 deleted"}));

    // Unit A again: the kept delete is finished on it.
    readWhole(plugIn(cutA));
    EXPECT_EQ(shown(), (Strings{"Comp.QF2", "Echo.QF2 deleted", "Tape.QF2 deleted"}));
    EXPECT_FALSE(unit.files().file("Echo.QF2"));
}

TEST_F(EffectRepair, AKnownListGoesBackOnlyOntoAUnitHoldingItsModules)
{
    prepare();
    // Unit B without a list: A's list would name Comp, which B lacks; it is not written, and the unit is
    // let go as one whose list no one knows.
    const Strings heardB = plugIn(withoutList(unitB()));
    EXPECT_EQ(count(heardB, "listFailed 0"), 1) << ::testing::PrintToString(heardB);
    EXPECT_EQ(unitNow().files, withoutList(unitB()).files);
    // Unit A without its list gets it back.
    readWhole(plugIn(withoutList(unitA())));
    EXPECT_EQ(unit.files().file("FLST_SEQ.QT2"), unitA().files.at("FLST_SEQ.QT2"));
}

// A known list naming no loaded module tells no unit apart by its modules: a listless unit of the model
// is let go as it is, never given another unit's list.
TEST_F(EffectRepair, AKnownListNamingNoLoadedModuleGoesOntoNoUnit)
{
    prepare();
    const UnitFiles noneLoaded{{{"FLST_SEQ.QT2", listFile({{0x0D, {kTapeOff}}}, 260)}}};
    plugIn(noneLoaded);
    ASSERT_EQ(unit.files().file("FLST_SEQ.QT2"), noneLoaded.files.at("FLST_SEQ.QT2"));

    const Strings heard = plugIn(withoutList(unitB()));
    EXPECT_EQ(count(heard, "listFailed 0"), 1) << ::testing::PrintToString(heard);
    EXPECT_EQ(unitNow().files, withoutList(unitB()).files);
}

TEST_F(EffectRepair, ADeleteWhoseListCannotBeStoredIsToldOnceAndFinishedLater)
{
    FaultyFileManager disk;
    prepare(&disk);
    // Echo's file leaves the unit, then the edited list cannot be stored on this machine.
    disk.fail(FaultyFileManager::Op::Write, "Temp/Device/FLST_SEQ.QT2");
    const Strings heard = heardAfter([&] { utils->deleteEffectItem(storeItem("Echo.QF2")); }, "idle");
    EXPECT_EQ(count(heard, "delete 0 Echo.QF2"), 1) << ::testing::PrintToString(heard);
    EXPECT_EQ(count(heard, "effectListChanged"), 0) << ::testing::PrintToString(heard);
    EXPECT_FALSE(unit.files().file("Echo.QF2"));
    // The unit's next connection finishes the delete: its list no longer names the file it lacks.
    disk.heal();
    readWhole(plugIn(unitNow()));
    EXPECT_EQ(shown(), (Strings{"Comp.QF2", "Echo.QF2 deleted", "Tape.QF2 deleted"}));
    utils.reset();
}

TEST_F(EffectRepair, AnEditOnAnotherUnitOfTheModelLeavesTheFirstUnitsEditKept)
{
    prepare();
    const UnitFiles cutA = cutDelete("Echo.QF2");
    // Unit B: one edit ends whole, a second is cut as its list is written. Neither takes A's place.
    plugIn(unitB());
    auto echo = storeItem("Echo.QF2");
    echo->isFavourite = true;
    utils->addFavouriteOfEffectItem(echo);
    runOutIdle();
    ASSERT_NE(unitNow().files.at("FLST_SEQ.QT2"), unitB().files.at("FLST_SEQ.QT2"));
    const UnitFiles cutB = cutDelete("Tape.QF2");
    ASSERT_FALSE(cutB.files.contains("Tape.QF2"));

    // Each unit, back in either order, gets its own edit finished, and no other.
    readWhole(plugIn(cutA));
    EXPECT_EQ(shown(), (Strings{"Comp.QF2", "Echo.QF2 deleted", "Tape.QF2 deleted"}));
    EXPECT_TRUE(unit.files().file("Comp.QF2"));
    readWhole(plugIn(cutB));
    EXPECT_EQ(shown(), (Strings{"Echo.QF2", "Tape.QF2 deleted", "Delay.QF2 deleted"}));
    EXPECT_TRUE(unit.files().file("Echo.QF2"));
    // Nothing is kept any more: A, whole now, is read as it is.
    const UnitFiles wholeA = unitNow();
    plugIn(wholeA);
    EXPECT_EQ(unitNow().files, wholeA.files);
}

TEST_F(EffectRepair, AUnitWhoseListNamesNoEffectIsJudgedByItsModules)
{
    prepare();
    const UnitFiles cutA = cutDelete("Echo.QF2");

    // Unit B's own list was cut at its start (empty), or before its first record (the category's opening
    // alone): a prefix of A's edited list that tells nothing. B lacks Comp, which A's list names: A's
    // delete is not made on it.
    const Bytes listA = unitA().files.at("FLST_SEQ.QT2");
    for (const Bytes& cut : {Bytes{}, Bytes(listA.begin(), listA.begin() + 26)}) {
        UnitFiles cutB = unitB();
        cutB.files["FLST_SEQ.QT2"] = cut;
        plugIn(cutB);
        EXPECT_EQ(unitNow().files, cutB.files);
    }

    // A itself is still finished.
    readWhole(plugIn(cutA));
    EXPECT_EQ(shown(), (Strings{"Comp.QF2", "Echo.QF2 deleted", "Tape.QF2 deleted"}));
}

// A quit asked while a unit without its list is read: the known list is not written onto it, nor the unit
// read again, ahead of the closing eject; the next connection gives the list back.
TEST_F(EffectRepair, AQuitDuringTheReadOfAUnitWithoutItsListLeavesTheRepairToTheNextConnection)
{
    prepare();
    unit.device().unplug();
    settle();
    holdUnit(withoutList(unitA()));
    const auto find = RequestKey::fileSystem(0x25);
    const auto writes = unit.device().requestCount(RequestKey::fileSystem(kWrite));
    unit.holdReplies(find);
    const auto finds = unit.device().requestCount(find);
    unit.device().plugIn();
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(find) > finds; }, std::chrono::seconds(30)));
    utils->closeApp();
    unit.releaseReplies();
    for (int round = 0; round < 100 && lifecycle.terminated == 0; ++round) {
        settle();
        if (lifecycle.terminated == 0) loop.advance(std::chrono::seconds(2));
    }
    ASSERT_EQ(lifecycle.terminated, 1);
    EXPECT_FALSE(unit.files().file("FLST_SEQ.QT2"));
    EXPECT_EQ(unit.device().requestCount(RequestKey::fileSystem(kWrite)), writes);
    EXPECT_EQ(unit.device().requestCount(find), finds + 1) << "the unit was read again";
}

// An edit whose replaced list names no loaded module but its own tells no unit apart by its modules: a
// listless unit of the model is left as it is, and the edit waits for a unit whose list matches. A kept
// edit ends after ninety days without its unit.
TEST_F(EffectRepair, AnEditWhoseListNamesNoOtherModuleWaitsForItsListAndEnds)
{
    prepare();
    const UnitFiles echoOnly{{{"FLST_SEQ.QT2", listFile(kDeviceList, 260)}, {"Echo.QF2", moduleFile(kEcho)}}};
    plugIn(echoOnly);
    cutDelete("Echo.QF2");
    const auto pendingFiles = [&] {
        std::vector<std::filesystem::path> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(programFolder()) / "QFXMacApplication" / "DeviceEdit", error))
            if (entry.path().filename() == "Pending" && entry.path().parent_path().filename().string().starts_with("edit-"))
                found.push_back(entry.path());
        return found;
    };
    ASSERT_EQ(pendingFiles().size(), 1U);

    plugIn(withoutList(unitB()));
    EXPECT_EQ(unitNow().files, withoutList(unitB()).files) << "another unit lost its module and got the first unit's list";
    ASSERT_EQ(pendingFiles().size(), 1U) << "the edit was used up on another unit";

    const std::filesystem::path pending = pendingFiles().front();
    const auto keptAt = [&] {
        const auto bytes = *files.readFile(pending.string());
        const std::string text(bytes.begin(), bytes.end());
        const auto line = text.rfind('\n', text.size() - 2);
        return std::make_pair(text.substr(0, line + 1), std::stoll(text.substr(line + 1)));
    };
    const auto secondsNow = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
    // Kept under a clock ten years ahead, set back since: the record's time runs from now, or it would
    // outlive its end by years.
    const std::string ahead = keptAt().first + std::to_string(secondsNow() + 10LL * 365 * 24 * 3600) + "\n";
    ASSERT_TRUE(files.writeAtomically(pending.string(), Bytes(ahead.begin(), ahead.end())));
    plugIn(unitB());
    ASSERT_EQ(pendingFiles().size(), 1U);
    EXPECT_LE(keptAt().second, secondsNow());

    // Ninety days and a second on, the next connection of the model drops it.
    const std::string then = keptAt().first + std::to_string(secondsNow() - 90LL * 24 * 3600 - 1) + "\n";
    ASSERT_TRUE(files.writeAtomically(pending.string(), Bytes(then.begin(), then.end())));
    plugIn(unitB());
    EXPECT_TRUE(pendingFiles().empty());
}
