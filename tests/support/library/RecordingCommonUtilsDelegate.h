#pragma once

#include <string>
#include <utility>
#include <vector>

#include "library/CommonUtilsDelegate.h"
#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"
#include "support/Locked.h"

// Records what the coordinator tells the interface, one short text per message, in order. The device busy
// pair (do, prevent eject) shows as "busy", the idle pair (finish, allow eject) as "idle"; a reset's own
// pair (finish, prevent eject) as "reset".
class RecordingCommonUtilsDelegate final : public CommonUtilsDelegate, private support::Locked {
public:
    std::vector<std::string> take() { return locked([&] { return std::exchange(m_events, {}); }); }

    void allQFXDataWithState(std::int64_t state) override { record("catalogue " + std::to_string(state)); }
    void deviceConnectWithState(std::int32_t state) override { record("connect " + std::to_string(state)); }
    void changeEffectListSuccessfully() override { record("effectListChanged"); }
    void getQFXListwithFailedState(std::int32_t state) override { record("listFailed " + std::to_string(state)); }
    void ejectDeviceWithState(std::int32_t state) override { record("eject " + std::to_string(state)); }
    void deviceLetGo() override { record("letGo"); }
    void deviceDisonnect() override { record("disconnect"); }
    void deviceLostConnectOrNoReply() override { record("lost"); }
    void deviceLostDuringWrite(const std::vector<std::string>& unsure) override
    {
        unsureSlots = unsure;
        record("lost");
    }
    // The slots the last write the unit stopped answering in had not reached.
    std::vector<std::string> unsureSlots;
    void systemDidSleep() override { record("sleep"); }
    void readQFXListFail() override { record("readListFail"); }
    void deviceEffectListRepaired(const std::optional<std::string>& dropped) override
    {
        record(dropped ? "unitListDropped " + *dropped : "unitListRepaired");
    }
    void writeEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t actionType,
                         std::int32_t failedState) override
    {
        record("write " + std::to_string(actionType) + " " + std::to_string(failedState) + " " + nameOf(item));
    }
    void deleteEffectItem(const std::shared_ptr<EffectItem>& item, std::int32_t failedState) override
    {
        record("delete " + std::to_string(failedState) + " " + nameOf(item));
    }
    void effectListFromDevice(const std::vector<std::shared_ptr<EffectItem>>& effects) override
    {
        locked([&] { m_effects = effects; });
        record("effects " + std::to_string(effects.size()));
    }
    void effectItem(const std::shared_ptr<EffectItem>& item, const std::string& oldVersion) override
    {
        record("updated " + nameOf(item) + " from " + oldVersion);
    }
    void didFinishUpdateEffectDevice() override { record("updatesDone"); }

    // The last device effect list the interface was given.
    std::vector<std::shared_ptr<EffectItem>> effects() { return locked([&] { return m_effects; }); }

    // Patch transfer: the lists and items are kept for the test to look at.
    void patchListFromDevice(const Items& patches, const std::vector<std::string>& offsets) override
    {
        locked([&] { lastPatches = patches, lastOffsets = offsets; });
        record("patches " + std::to_string(patches.size()));
    }
    void getPatchListWithFailedState(std::int32_t state) override { record("patchesFailed " + std::to_string(state)); }
    void writePatchListWithState(std::int32_t state) override { record("writeAll " + std::to_string(state)); }
    void writePatchItemWithFailedState(std::int32_t state, const std::shared_ptr<PatchItem>& old, std::uint32_t index) override
    {
        record("writeFailed " + std::to_string(state) + " " + std::to_string(index) + " " + (old ? old->patchName : "none"));
    }
    void selectPatchItem(const std::shared_ptr<PatchItem>& item, std::int32_t state) override
    {
        record("select " + std::to_string(state) + " " + (item ? item->patchName : "none"));
    }
    void updatePatchItemFromDevice(const std::shared_ptr<PatchItem>& item, const std::string& label,
                                   const UnitPatchChange& origin) override
    {
        locked([&] { lastUpdated = item, lastOrigin = origin; });
        record("updated " + item->patchName + " " + label);
    }
    Items lastPatches;
    std::vector<std::string> lastOffsets;
    // Why each save the coordinator reported as failed could not be made, in order (main thread).
    std::vector<std::string> notSavedReasons;
    std::shared_ptr<PatchItem> lastUpdated;
    // Which patch the unit changed, as the last change it reported told.
    UnitPatchChange lastChangeOrigin() { return locked([&] { return lastOrigin; }); }
    void deviceImageDidArrive() override { record("picture"); }
    void didGetDeviceMemory(float percentInUse) override
    {
        record("memory " + std::to_string(static_cast<int>(percentInUse)));
    }
    void didGetDeviceName(const std::string& name) override { record("name " + name); }

    // The pools, the server side and the version notices.
    void serverConnectWithState(bool reachable) override { record(std::string("server ") + (reachable ? "1" : "0")); }
    void internetNoConnect() override { record("noInternet"); }
    void poolFilesReading(std::size_t files) override { record("reading " + std::to_string(files)); }
    void didDoSynchronizationActionServer(const std::string&) override { record("syncDo"); }
    void didFinishSynchronizationActionServer(const std::string&) override { record("syncFinish"); }
    void applicationDidHaveUpdateWithCurentVersion(const std::string& current, const std::string& next) override
    {
        record("appUpdate " + current + " " + next);
    }
    void deviceDidHaveUpdateWithCurentVersion(const std::string& current, const std::string& next) override
    {
        record("deviceUpdate " + current + " " + next);
    }
    void serverDirectoryObject(const Tree& tree) override
    {
        locked([&] { effectPool = tree, effectPools.push_back(tree), m_events.push_back("effectPool"); });
    }
    void patchPoolDirectoryObject(const Tree& tree) override
    {
        locked([&] { patchPool = tree, m_events.push_back("patchPool"); });
    }
    void patchPoolMarksUpdated() override { record("patchPoolMarks"); }
    void patchPoolNotSaved(const std::string& reason) override
    {
        notSavedReasons.push_back(reason);
        record("patchPoolNotSaved");
    }
    void patchPoolKeptFromLastRun() override { record("patchPoolKept"); }
    void patchPoolKeptWithout(const std::string& files) override
    {
        keptWithout.push_back(files);
        record("patchPoolKeptWithout");
    }
    void patchPoolKeptBesideLibrary(const std::string& groups) override
    {
        keptBeside.push_back(groups);
        record("patchPoolKeptBeside");
    }
    void patchLibraryNotRead(const std::string& reason) override
    {
        notReadReasons.push_back(reason);
        record("patchLibraryNotRead");
    }
    void patchLibraryPartKeptAside(const std::string& part, const std::string& aside) override
    {
        keptAside.push_back(part + " -> " + aside);
        record("patchLibraryPartKeptAside");
    }
    std::vector<std::string> keptAside;
    // The files named by each pool shown without the patches copied from them (main thread).
    std::vector<std::string> keptWithout;
    // The groups named by each kept pool shown beside the library (main thread).
    std::vector<std::string> keptBeside;
    std::vector<std::string> notReadReasons;
    // The last trees handed over; read after the event was seen.
    Tree effectPool;
    // Every effect tree handed over, in order.
    std::vector<Tree> effectPools;
    Tree patchPool;

    void didDoSynchronizationActionDevice(const std::optional<std::string>&) override { m_pending = "do"; }
    void didFinishSynchronizationActionDevice(const std::optional<std::string>&) override { m_pending = "finish"; }
    void didPreventEjectAction() override { record(m_pending == "do" ? "busy" : "reset"); }
    void didAllowEjectAction() override { record(m_pending == "finish" ? "idle" : "allow"); }
    // Kept apart from the events, which the tests compare whole.
    void deviceWorkDidStart(DeviceWork work) override
    {
        locked([&] { m_works.push_back(work), m_workTrail.push_back("start"); });
    }
    void deviceWorkDidEnd() override { locked([&] { m_workTrail.push_back("end"); }); }
    // Every start and end of device work told, in order.
    std::vector<std::string> workTrail() { return locked([&] { return m_workTrail; }); }
    std::vector<DeviceWork> works() { return locked([&] { return m_works; }); }
    // Kept apart too, as "done/total", and taken.
    void deviceWorkProgress(std::int32_t done, std::int32_t total) override
    {
        locked([&] { m_progress.push_back(std::to_string(done) + "/" + std::to_string(total)); });
    }
    std::vector<std::string> takeProgress() { return locked([&] { return std::exchange(m_progress, {}); }); }

private:
    UnitPatchChange lastOrigin;  // m_mutex
    static std::string nameOf(const std::shared_ptr<EffectItem>& item) { return item ? item->fileName : "(none)"; }
    void record(std::string event) { locked([&] { m_events.push_back(std::move(event)); }); }

    std::vector<std::string> m_events;
    std::vector<DeviceWork> m_works;
    std::vector<std::string> m_workTrail;
    std::vector<std::string> m_progress;
    std::vector<std::shared_ptr<EffectItem>> m_effects;
    std::string m_pending;
};
