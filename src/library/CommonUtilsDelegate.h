#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/UnitPatchChange.h"

class DirectoryObject;
class EffectItem;
class PatchItem;

// What the coordinator tells the interface, always on the main thread. Every method has an empty default,
// so an adopter overrides only what it shows. A synchronisation code pairs a "do" with its "finish";
// device busy and idle go without one.
class CommonUtilsDelegate {
public:
    using Items = std::vector<std::shared_ptr<PatchItem>>;
    using Tree = std::vector<std::shared_ptr<DirectoryObject>>;

    virtual ~CommonUtilsDelegate() = default;

    // What a queued device request does, told as it starts, so a slow unit's wait is named.
    enum class DeviceWork { Reading, Ejecting, ChangingEffects, SelectingPatch, WritingPatches, Repairing };
    virtual void deviceWorkDidStart(DeviceWork /*work*/) {}
    // How many patches of the running work's dump or write of several are through, told in steps and
    // always at the last.
    virtual void deviceWorkProgress(std::int32_t /*done*/, std::int32_t /*total*/) {}
    // The copies of patch files into the pool made so far, of those asked; (0, 0) once none remains.
    virtual void poolCopiesProgress(std::size_t /*made*/, std::size_t /*asked*/) {}
    // The files dropped on the pool still being read, before their copies are asked; 0 once none is left.
    virtual void poolFilesReading(std::size_t /*files*/) {}
    // No queued device request runs any more: the queue ran dry, or was dropped with the unit. The busy
    // icon's own reports are no such end: the picture of the unit, read meanwhile, tells them too.
    virtual void deviceWorkDidEnd() {}
    // The unit is about to be let go (a Disconnect, a Quit or a signal's end): whatever the interface
    // still owes it is asked for now, and goes to the unit ahead of the eject.
    virtual void deviceWillBeLetGo() {}
    // A sleep lets the unit go behind its work in hand, within the system's delay for a sleep: an edit of
    // the unit asked from now on could be cut with it, so it is refused as while an eject waits.
    virtual void sleepWillLetDeviceGo() {}

    // 1 no catalogue, 2 an empty catalogue.
    virtual void allQFXDataWithState(std::int64_t /*state*/) {}
    // 1 connected, 3 model not supported.
    virtual void deviceConnectWithState(std::int32_t /*state*/) {}
    virtual void serverConnectWithState(bool /*reachable*/) {}
    virtual void internetNoConnect() {}
    // Action types: 1 update, 2 delete, 3 favourite on or off, 4 recover, 5 add. A failed state of
    // kEffectFileMissing: the effect's file on this machine does not read, and nothing went to the unit.
    static constexpr std::int32_t kEffectFileMissing = -7;
    virtual void writeEffectItem(const std::shared_ptr<EffectItem>& /*item*/, std::int32_t /*actionType*/,
                                 std::int32_t /*failedState*/)
    {
    }
    virtual void deleteEffectItem(const std::shared_ptr<EffectItem>& /*item*/, std::int32_t /*failedState*/) {}
    virtual void changeEffectListSuccessfully() {}
    virtual void fileLishFlushWithFailedState(std::int32_t /*state*/) {}
    virtual void writePatchListWithState(std::int32_t /*state*/) {}
    virtual void writePatchItemWithFailedState(std::int32_t /*state*/, const std::shared_ptr<PatchItem>& /*oldPatchItem*/,
                                               std::uint32_t /*index*/)
    {
    }
    virtual void getQFXListwithFailedState(std::int32_t /*state*/) {}
    virtual void getPatchListWithFailedState(std::int32_t /*state*/) {}
    // A failure that the next report tells has made the coordinator let the unit go: from here on it
    // takes no request for it, as after a loss, until a unit connects again.
    virtual void deviceLetGo() {}
    // 1 ejected, -4 disconnected, -2 no unit was connected any more (the coordinator has let it go), 0 the
    // unit refused and stays connected, with the requests behind the eject going on.
    virtual void ejectDeviceWithState(std::int32_t /*state*/) {}
    virtual void deviceDisonnect() {}
    virtual void deviceLostConnectOrNoReply() {}
    // The same, in the middle of a write of ours: the slots, named as the unit names them, that may not
    // hold what the list showed.
    virtual void deviceLostDuringWrite(const std::vector<std::string>& unsure) { (void)unsure; deviceLostConnectOrNoReply(); }
    virtual void didFinishUpdateEffectDevice() {}
    virtual void systemDidSleep() {}
    virtual void applicationDidHaveUpdateWithCurentVersion(const std::string& /*curentVersion*/,
                                                           const std::string& /*newVersion*/)
    {
    }
    virtual void deviceDidHaveUpdateWithCurentVersion(const std::string& /*curentVersion*/,
                                                      const std::string& /*newVersion*/)
    {
    }
    virtual void serverDirectoryObject(const Tree& /*effectPool*/) {}
    virtual void patchPoolDirectoryObject(const Tree& /*patchPool*/) {}
    // The incompatibility marks of the pool's nodes have been set anew.
    virtual void patchPoolMarksUpdated() {}
    // The pool could not be saved, and why; the saved library holds what could be written of it (else it is
    // as it was before), the working copy keeps the edits.
    virtual void patchPoolNotSaved(const std::string& /*reason*/) {}
    // The pool shown is the one the last run kept because it could not be saved.
    virtual void patchPoolKeptFromLastRun() {}
    // The pool the last run was cut with held patches still being copied from files that are gone now
    // (`files` names them): it is shown without them.
    virtual void patchPoolKeptWithout(const std::string& /*files*/) {}
    // A pool an earlier run kept was made against another library than the one shown (changed since, or
    // missing or unreadable then): what it holds that the library does not is shown after the library, in
    // the groups named.
    virtual void patchPoolKeptBesideLibrary(const std::string& /*groups*/) {}
    // A folder of the library could not be read at the start (the reason names it and says why): the pool
    // shows what could be read, and no save of this run replaces the library.
    virtual void patchLibraryNotRead(const std::string& /*reason*/) {}
    // The library's `part` ("Pool", "Backup") is neither a folder nor a link to one: it is not shown, and a
    // save keeps it as it is under the name `aside`; the rest of the library is shown and saved.
    virtual void patchLibraryPartKeptAside(const std::string& /*part*/, const std::string& /*aside*/) {}
    virtual void effectListFromDevice(const std::vector<std::shared_ptr<EffectItem>>& /*effects*/) {}
    virtual void patchListFromDevice(const Items& /*patches*/, const std::vector<std::string>& /*offsetNameList*/) {}
    virtual void didGetDeviceName(const std::string& /*name*/) {}
    virtual void didGetDeviceMemory(float /*percentInUse*/) {}
    // A model picture has been stored while a device is connected: the picture that the connection
    // found missing (the catalogue's pictures are fetched again as the unit connects) may be there now.
    virtual void deviceImageDidArrive() {}
    virtual void readQFXListFail() {}
    // The unit's effect list was written again at its connection (an edit cut short earlier was finished,
    // or a unit found without a list got back the one last read from it), so the list and the module files
    // agree; when `droppedModule` is given, that module could not be written again and the list no longer
    // names it as loaded.
    virtual void deviceEffectListRepaired(const std::optional<std::string>& /*droppedModule*/) {}
    virtual void didDoSynchronizationActionServer(const std::string& /*code*/) {}
    virtual void didFinishSynchronizationActionServer(const std::string& /*code*/) {}
    virtual void didDoSynchronizationActionDevice(const std::optional<std::string>& /*code*/) {}
    virtual void didFinishSynchronizationActionDevice(const std::optional<std::string>& /*code*/) {}
    virtual void didAllowEjectAction() {}
    virtual void didPreventEjectAction() {}
    virtual void effectItem(const std::shared_ptr<EffectItem>& /*item*/, const std::string& /*didUpdateFromOldVersion*/) {}
    virtual void copyPatchFileFrom(const std::string& /*from*/, const std::string& /*toDestination*/,
                                   const std::string& /*isExistedAndCanChangeWithPath*/)
    {
    }
    // A patch the unit changed by itself, at the slot labelled `atOffset`, and which patch it changed.
    virtual void updatePatchItemFromDevice(const std::shared_ptr<PatchItem>& /*item*/, const std::string& /*atOffset*/,
                                           const UnitPatchChange& /*origin*/)
    {
    }
    virtual void selectPatchItem(const std::shared_ptr<PatchItem>& /*item*/, std::int32_t /*withState*/) {}
};
