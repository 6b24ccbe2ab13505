#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"
#include "support/library/CoordinatorFixture.h"
#include "support/library/EffectFiles.h"

namespace effectfiles {

inline const Module kEcho{0x0D000002, "Echo", "1.20"};
inline const Module kDelay{0x0D000004, "Delay", "1.00"};
inline const Module kTape{0x0D000008, "Tape", "1.30"};
inline const Module kBoost{0x08000001, "Boost", "1.00"};
// Loaded in the store's version, so a connection has nothing to update.
inline const Record kEchoOn{"Echo.QF2", "1.20", kEcho.type};
inline const Record kTapeOff{"Tape.QF2", "1.01", kTape.type, false};
// The device's list at connection: Echo loaded, Tape deleted.
inline const std::vector<Category> kDeviceList = {{0x0D, {kEchoOn, kTapeOff}}};

// File-system sub-functions of the simulated unit.
constexpr std::uint8_t kWrite = 0x23, kUnlink = 0x24, kFlush = 0x09, kRead = 0x22;

}  // namespace effectfiles

// The coordinator connected to the simulated unit after a synchronisation that filled the effect store.
class EffectLibrary : public Coordinator {
public:
    using Request = void (CommonUtils::*)(const std::shared_ptr<EffectItem>&);

protected:
    std::string store(const std::string& name) const { return root / ("PEXO Rigmora/QFXMacApplication/Effect/" + name); }
    void storeModule(const effectfiles::Module& module)
    {
        std::filesystem::create_directories(std::filesystem::path(store("")).parent_path());
        files.writeAtomically(store(module.typeName + ".QF2"), effectfiles::moduleFile(module));
    }
    // The unit holds `list` (in a 260-byte file) and Echo's file; the store holds `storeModules`, the pool is
    // built from `data` before the unit connects. Hands over what the interface heard until `last`.
    Strings connectHearing(const std::vector<effectfiles::Category>& list,
                           const std::vector<effectfiles::Module>& storeModules, const AllQFXData& data,
                           const std::string& last, platform::FileManager* fileManager = nullptr)
    {
        start(fileManager ? *fileManager : files);
        unit.files().setFile("FLST_SEQ.QT2", effectfiles::listFile(list, 260));
        unit.files().setFile("Echo.QF2", effectfiles::moduleFile(effectfiles::kEcho));
        for (const auto& module : storeModules) storeModule(module);
        utils->dataFromServer(data);
        utils->downloadFileSuccess(true);
        return until(last);
    }
    void connectWith(const std::vector<effectfiles::Category>& list, int effects = 2,
                     const std::vector<effectfiles::Module>& storeModules = {effectfiles::kEcho, effectfiles::kDelay,
                                                                              effectfiles::kTape, effectfiles::kBoost})
    {
        effectsOnDevice = effects;
        Strings expected{"effectPool", "syncFinish"};
        for (const std::string& e : connectRead()) expected.push_back(e);
        ASSERT_EQ(connectHearing(list, storeModules, catalogue(), "idle"), expected);
    }
    // A catalogue whose one model (the unit's) lists the modules' effects, in order.
    static AllQFXData catalogueListing(const std::vector<effectfiles::Module>& modules)
    {
        nlohmann::json effects = nlohmann::json::array();
        for (const auto& module : modules)
            effects.push_back(
                {{"type", library_files::hex(module.type)}, {"fileName", module.typeName + ".zip"}, {"version", module.version}});
        return catalogue(kModelId, effects);
    }
    std::shared_ptr<EffectItem> storeItem(const std::string& name) { return utils->getEffectItemWithPath(store(name)); }
    Bytes deviceList() { return unit.files().file("FLST_SEQ.QT2").value_or(Bytes{}); }
    std::string storedCopy() const { return root / "PEXO Rigmora/Temp/Device/FLST_SEQ.QT2"; }
    // The unit answers `sub` with an error code, more often than the command layer retries.
    void failNext(std::uint8_t sub)
    {
        unit.files().changeFaults([&](SimulatedFileSystem::Faults& f) { f.failCount[sub] = 50; });
    }
    // Runs `request` and hands over what the interface heard until `last`, and after it.
    Strings heardAfter(const std::function<void()>& request, const std::string& last)
    {
        request();
        Strings heard = until(last);
        for (auto& e : settle()) heard.push_back(e);
        return heard;
    }
    // Runs the fake clock out until the coordinator was idle and nothing is left to happen; hands over what
    // it heard.
    Strings runOutIdle()
    {
        Strings heard;
        for (int round = 0; round < 100; ++round) {
            const Strings now = settle();
            heard.insert(heard.end(), now.begin(), now.end());
            if (now.empty() && timers.activeCount() == 0 && std::count(heard.begin(), heard.end(), "idle") > 0) break;
            loop.advance(std::chrono::seconds(2));
        }
        return heard;
    }
    // The unit pulled (if it is not already), `meanwhile` run, and the unit plugged in again; hands over what
    // the connection told.
    Strings plugInAgain(const std::function<void()>& meanwhile = {})
    {
        unit.clearFaults();
        unit.device().unplug();
        settle();
        if (meanwhile) meanwhile();
        unit.device().plugIn();
        Strings heard;
        loop.runUntil([&] {
            for (auto& e : recorder.take()) heard.push_back(std::move(e));
            return !heard.empty() && heard.back() == "idle" && timers.activeCount() == 0 &&
                   (std::count(heard.begin(), heard.end(), "patches 6") == 1 ||
                    std::count(heard.begin(), heard.end(), "listFailed 0") == 1 ||
                    std::count(heard.begin(), heard.end(), "readListFail") == 1);
        }, std::chrono::seconds(30));
        for (auto& e : settle()) heard.push_back(e);
        return heard;
    }
};
