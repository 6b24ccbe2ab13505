// An effect edit changes the unit in steps (a module file, then the list "FLST_SEQ.QT2", then a flush),
// and the unit's file system has no rename: the list is unlinked before its successor is written. An edit
// cut short between those steps (the unit unplugged, silent or refusing) would leave the unit without a
// list, or with a list naming a module that is gone. So before its first step an edit keeps, under the
// data folder and per model, what it still has to put on the unit; the kept edit is dropped once the unit
// confirms the new list. At the unit's next connection a kept edit is finished before the list is read:
// the module step again (an unlink of a file already gone, or a rewrite of a file already written, changes
// nothing), then the edited list, then the flush. Should the module step be refused, the list it replaced
// goes back instead, so the unit always keeps a list. A module being written that cannot be written again
// (its newer file gone from this machine) is first looked for on the unit: one it holds whole stays, named
// loaded in the version its header gives; otherwise its file is taken off the unit, the replaced list goes
// back with its records unloaded, and the user is told. The last list read from a unit is kept beside its
// edits too: a unit found without a list gets that one back before it is read. The unit names only its
// model, so each edit is kept in a folder of the model's named after the list it started from, and an edit
// on another unit of the model never takes the place of one a first unit still waits for. A kept edit or
// list goes onto a unit only when that unit's own list is the one the edit started from or made, or that
// one cut short past its first record; a unit with no list, or with one naming no record, tells nothing by
// its list and is judged by its files: the edit's own module as the module step left it (a deleted one
// gone, a written one there), the modules the replaced list names loaded held; an edit whose written
// module is there at its length and whose list names unloaded none the unit holds is preferred, but the
// unit the edit was left on may fail those (the module's file here replaced since, a module the unit kept
// when a repair's unlink was refused), and a list naming loaded only what the unit holds is better than
// none.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "common/Log.h"
#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "device/formats/OKVEffect.h"
#include "library/QFXListEdit.h"
#include "platform/files/FileManager.h"

namespace {

constexpr const char* kPending = "Pending";
constexpr const char* kEditedList = "FLST_SEQ.QT2";
constexpr const char* kReplacedList = "FLST_SEQ.QT2.replaced";
constexpr const char* kKnownList = "FLST_SEQ.QT2.known";
constexpr char kRecordPrefix[] = "edit-";
// How long a kept edit waits for its unit: one kept for a unit never seen again would otherwise have every
// connection of the model read its list twice, for good.
constexpr std::chrono::hours kKeptEditLifetime{24 * 90};

std::int64_t secondsNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct PendingEdit {
    std::string moduleAction;
    std::string fileName;
    std::string path;
    // When the edit was kept, in seconds since the epoch; none in a record of an earlier version.
    std::optional<std::int64_t> keptAt;
};

std::string pendingText(const std::string& moduleAction, const std::string& fileName, const std::string& path,
                        std::int64_t keptAt)
{
    return moduleAction + "\n" + fileName + "\n" + path + "\n" + std::to_string(keptAt) + "\n";
}

// Three lines: the module action, the unit's file name, the module file on this machine; then the time it
// was kept, which earlier versions did not write.
std::optional<PendingEdit> parsePending(const Bytes& bytes)
{
    std::string text(bytes.begin(), bytes.end());
    PendingEdit edit;
    std::string* fields[] = {&edit.moduleAction, &edit.fileName, &edit.path};
    std::size_t at = 0;
    for (std::string* field : fields) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) return std::nullopt;
        *field = text.substr(at, end - at);
        at = end + 1;
    }
    if (edit.moduleAction != "write" && edit.moduleAction != "delete" && edit.moduleAction != "none")
        return std::nullopt;
    const std::size_t end = text.find('\n', at);
    if (end != std::string::npos && end > at && end - at <= 18 &&
        std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at), text.begin() + static_cast<std::ptrdiff_t>(end),
                    [](char c) { return c >= '0' && c <= '9'; }))
        edit.keptAt = std::stoll(text.substr(at, end - at));
    return edit;
}

// Whether a list read from the unit names at least one effect: an empty one, or one cut short before its
// first whole record, is a prefix of every list and tells nothing about which unit it is.
bool namesAnEffect(const Bytes& list)
{
    constexpr std::size_t record = OKVQFXInformation::kRecordSize;
    for (std::size_t at = 0; record <= list.size() - at; at += record) {
        const auto marks = [&](std::uint8_t mark) {
            return list[at] == mark && list[at + 1] == mark && list[at + 2] == mark;
        };
        if (!marks(0x3E) && !marks(0x3C)) return true;
    }
    return false;
}

// The modules a list names loaded (or unloaded), but for the edit's own (which may be either way).
std::vector<std::string> namedModules(const Bytes& listBytes, const std::string& except, bool loaded)
{
    std::vector<std::string> names;
    if (const std::optional<OKVQFXList> list = QFXListEdit::parse(listBytes))
        for (const QFXListCategory& category : list->arrayCategory())
            for (const OKVQFXInformation& record : category.arrayQFXInformation())
                if (record.isLoadedQFX() == loaded && record.nameQFX() != except) names.push_back(record.nameQFX());
    return names;
}

std::vector<std::string> loadedModules(const Bytes& listBytes, const std::string& except)
{
    return namedModules(listBytes, except, true);
}

}  // namespace

std::string CommonUtils::repairFolder() const
{
    char id[16];
    std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(m_deviceID));
    return pathUnderRoot(kStoreDeviceRepair) + "/" + id;
}

std::string CommonUtils::repairRecordFolder(const Bytes& replaced) const
{
    // FNV-1a over the replaced list: the same list always finds the same folder.
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (std::uint8_t byte : replaced) hash = (hash ^ byte) * 0x100000001B3ULL;
    char key[17];
    std::snprintf(key, sizeof key, "%016llX", static_cast<unsigned long long>(hash));
    return repairFolder() + "/" + kRecordPrefix + key;
}

std::vector<std::string> CommonUtils::keptEditFolders() const
{
    const std::string model = repairFolder();
    std::vector<std::string> folders;
    // An edit kept by an earlier version lies in the model's folder itself.
    if (m_files.exists(model + "/" + kPending)) folders.push_back(model);
    if (const auto names = m_files.contentsOfDirectory(model))
        for (const std::string& name : *names)
            if (name.starts_with(kRecordPrefix) && m_files.exists(model + "/" + name + "/" + kPending))
                folders.push_back(model + "/" + name);
    return folders;
}

std::vector<CommonUtils::KeptEdit> CommonUtils::readKeptEdits()
{
    std::vector<KeptEdit> edits;
    for (const std::string& folder : keptEditFolders()) {
        const auto bytes = m_files.readFile(folder + "/" + kPending);
        const std::optional<PendingEdit> pending = bytes ? parsePending(*bytes) : std::nullopt;
        const auto edited = m_files.readFile(folder + "/" + kEditedList);
        const auto replaced = m_files.readFile(folder + "/" + kReplacedList);
        if (!pending || !edited || !replaced) {
            RIG_LOG("the kept effect edit in %s does not read; dropped", folder.c_str());
            dropKeptEdit(folder);
            continue;
        }
        const std::int64_t now = secondsNow();
        if (!pending->keptAt || *pending->keptAt > now) {
            // An earlier version's record, or one kept under a clock set back since (which would hold it
            // past its end, for good if far ahead): its time runs from now.
            const std::string text = pendingText(pending->moduleAction, pending->fileName, pending->path, now);
            platform::Error error;
            if (!m_files.writeAtomically(folder + "/" + kPending, Bytes(text.begin(), text.end()), &error))
                RIG_LOG("cannot date the kept effect edit: %s", error.description.c_str());
        } else if (now - *pending->keptAt > std::chrono::duration_cast<std::chrono::seconds>(kKeptEditLifetime).count()) {
            RIG_LOG("the kept effect edit in %s waited beyond its time for its unit; dropped", folder.c_str());
            dropKeptEdit(folder);
            continue;
        }
        edits.push_back({folder, pending->moduleAction, pending->fileName, pending->path, *edited, *replaced});
    }
    return edits;
}

void CommonUtils::keepEditForRepair(const std::string& moduleAction, const std::string& fileName,
                                    const std::string& path)
{
    m_editRecord.clear();
    if (m_editedList.empty() || m_deviceID == 0) return;
    if (fileName.find('\n') != std::string::npos || path.find('\n') != std::string::npos) return;
    const std::string folder = repairRecordFolder(m_replacedList);
    const std::string pending = pendingText(moduleAction, fileName, path, secondsNow());
    platform::Error error;
    m_editRecord = folder;
    // The lists first and the pending record last: a record on disk always has its lists beside it. One
    // from the same list is the same unit's, or one no list tells apart from it: the new edit takes its place.
    if (m_files.exists(folder + "/" + kPending) && !m_files.removeItem(folder + "/" + kPending, &error))
        RIG_LOG("cannot drop the earlier kept effect edit: %s", error.description.c_str());
    else if (!m_files.createDirectory(folder, true, &error) ||
        !m_files.writeAtomically(folder + "/" + kEditedList, m_editedList, &error) ||
        !m_files.writeAtomically(folder + "/" + kReplacedList, m_replacedList, &error) ||
        !m_files.writeAtomically(folder + "/" + kPending, Bytes(pending.begin(), pending.end()), &error))
        RIG_LOG("cannot keep the effect edit for the unit: %s", error.description.c_str());
}

void CommonUtils::dropEditForRepair()
{
    if (!m_editRecord.empty()) dropKeptEdit(std::exchange(m_editRecord, std::string()));
}

void CommonUtils::dropKeptEdit(const std::string& folder)
{
    if (!m_files.exists(folder + "/" + kPending)) return;
    platform::Error error;
    // The model's own folder also holds the known list: only its record goes.
    const bool own = folder != repairFolder();
    if (!m_files.removeItem(own ? folder : folder + "/" + kPending, &error))
        RIG_LOG("cannot drop the kept effect edit: %s", error.description.c_str());
}

void CommonUtils::queueEffectListRepair()
{
    if (m_deviceID == 0 || keptEditFolders().empty()) return;
    addRequest(RequestKind::RepairEffectList, [this] { repairEffectListFlow(); });
}

void CommonUtils::repairEffectListFlow()
{
    m_repairRecord.clear();
    m_repairCandidates.clear();
    m_repairFallback.reset();
    m_repairDroppedModule.reset();
    // The identity reply names only the model: the unit's own list tells which kept edit, if any, is its.
    m_repairStep = RepairStep::Check;
    m_parser.getQFXList();
}

void CommonUtils::selectKeptEdit(const KeptEdit& edit)
{
    m_repairRecord = edit.folder;
    m_repairModuleAction = edit.moduleAction;
    m_repairFileName = edit.fileName;
    m_repairPath = edit.path;
}

void CommonUtils::repairChecked(std::int32_t state, const std::optional<Bytes>& data)
{
    std::vector<KeptEdit> edits = readKeptEdits();
    if (edits.empty()) {
        finishRequest(RequestKind::RepairEffectList);
        return;
    }
    if (state == 1 && data) {
        // The list an edit started from or the edited one; failing those, the edited one cut short by
        // the unit's going away while it was written.
        const auto whole = std::find_if(edits.begin(), edits.end(), [&](const KeptEdit& edit) {
            return *data == edit.replaced || *data == edit.edited;
        });
        const auto cutShort = std::find_if(edits.begin(), edits.end(), [&](const KeptEdit& edit) {
            return data->size() < edit.edited.size() && std::equal(data->begin(), data->end(), edit.edited.begin());
        });
        if (whole != edits.end() || (cutShort != edits.end() && namesAnEffect(*data))) {
            selectKeptEdit(whole != edits.end() ? *whole : *cutShort);
            startRepairModuleStep();
            return;
        }
        if (namesAnEffect(*data)) {
            leaveRepairForAnotherUnit();
            return;
        }
    } else if (state != kNoSuchFile) {
        // The list could not be read: the edits wait, and the read behind it tells the user.
        RIG_LOG("the unit's effect list does not read (%d); the kept edits wait", state);
        finishRequest(RequestKind::RepairEffectList);
        return;
    }
    // No list, or one naming nothing: an edit was cut between the list's unlink and its rewrite, on this
    // unit if its files are as that edit left them. An edit leaving nothing to look at (no module step, and
    // no loaded module named) tells no unit apart, as an empty list does not: it waits for a unit whose list
    // matches (a known list naming none is not put back at all). The edit with the most to look at is tried
    // first, being the one the unit's files tell apart best.
    std::erase_if(edits, [this](const KeptEdit& edit) { return unitFileChecks(edit).empty(); });
    std::stable_sort(edits.begin(), edits.end(), [this](const KeptEdit& a, const KeptEdit& b) {
        return unitFileChecks(a).size() > unitFileChecks(b).size();
    });
    m_repairCandidates = std::move(edits);
    tryNextRepairCandidate();
}

std::vector<CommonUtils::UnitFileCheck> CommonUtils::unitFileChecks(const KeptEdit& edit) const
{
    std::vector<UnitFileCheck> checks;
    for (const std::string& name : loadedModules(edit.replaced, edit.fileName)) checks.push_back({name, true, {}});
    // The list is unlinked only once the module step is done: on the unit the edit was left on, a deleted
    // module is gone and a written one is there, whole when its file here still tells its length.
    if (edit.moduleAction == "delete" && !edit.fileName.empty()) {
        checks.push_back({edit.fileName, false, {}});
    } else if (edit.moduleAction == "write" && !edit.fileName.empty()) {
        const std::optional<std::uint64_t> size = m_files.fileSize(edit.path);
        checks.push_back({edit.fileName, true, size ? std::optional<std::int64_t>(static_cast<std::int64_t>(*size))
                                                    : std::nullopt});
    }
    // Lacking the modules the list to be written names unloaded tells no unit apart (any unit lacks most),
    // but a unit holding one is less likely the edit's: the list would leave a module it holds unnamed.
    if (std::any_of(checks.begin(), checks.end(), [](const UnitFileCheck& check) { return !check.ranks; }))
        for (const std::string& name : namedModules(edit.edited, edit.fileName, false))
            checks.push_back({name, false, {}, true});
    return checks;
}

void CommonUtils::tryNextRepairCandidate()
{
    if (m_repairCandidates.empty() && m_repairFallback) {
        selectKeptEdit(*m_repairFallback);
        m_repairFallback.reset();
        startRepairModuleStep();
        return;
    }
    if (m_repairCandidates.empty()) {
        leaveRepairForAnotherUnit();
        return;
    }
    m_repairModulesToFind = unitFileChecks(m_repairCandidates.front());
    // The ranking checks are asked last (the list is taken from the back): a candidate failing a must is
    // dropped before it costs them.
    std::stable_partition(m_repairModulesToFind.begin(), m_repairModulesToFind.end(),
                          [](const UnitFileCheck& check) { return check.ranks; });
    m_repairFileAsked.reset();
    m_repairCandidateRanksLow = false;
    m_repairStep = RepairStep::CheckModules;
    repairModuleChecked(1, 0);
}

void CommonUtils::repairModuleChecked(std::int32_t state, std::int64_t length)
{
    if (state == -4 || state == -1) {
        reset();
        tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
        return;
    }
    if (const std::optional<UnitFileCheck> asked = std::exchange(m_repairFileAsked, std::nullopt)) {
        const bool held = state == 1;
        if (held != asked->held && !asked->ranks) {
            m_repairCandidates.erase(m_repairCandidates.begin());
            tryNextRepairCandidate();
            return;
        }
        if (held != asked->held || (held && asked->length && *asked->length != length)) m_repairCandidateRanksLow = true;
    }
    if (m_repairModulesToFind.empty() && m_repairCandidateRanksLow) {
        if (!m_repairFallback) m_repairFallback = m_repairCandidates.front();
        m_repairCandidates.erase(m_repairCandidates.begin());
        tryNextRepairCandidate();
        return;
    }
    if (m_repairModulesToFind.empty()) {
        selectKeptEdit(m_repairCandidates.front());
        m_repairCandidates.clear();
        startRepairModuleStep();
        return;
    }
    m_repairFileAsked = m_repairModulesToFind.back();
    m_repairModulesToFind.pop_back();
    m_parser.getFileLengthWithFileName(m_repairFileAsked->name);
}

void CommonUtils::leaveRepairForAnotherUnit()
{
    // A known list put back for a unit without one is made for that unit only; an edit left on another
    // unit of the model stays kept for that unit's next connection.
    for (const KeptEdit& edit : readKeptEdits())
        if (edit.moduleAction == "none" && edit.edited == edit.replaced) {
            RIG_LOG("the unit does not hold the modules of the known effect list; it is not put back");
            dropKeptEdit(edit.folder);
        }
    RIG_LOG("the unit's effect list is none of the kept edits'; it is left as it is");
    finishRequest(RequestKind::RepairEffectList);
}

void CommonUtils::startRepairModuleStep()
{
    RIG_LOG("finishing an effect edit the unit was left in: %s %s", m_repairModuleAction.c_str(), m_repairFileName.c_str());
    m_repairStep = RepairStep::Module;
    m_repairModuleWrite = m_repairModuleAction == "write";
    if (m_repairModuleAction == "delete") {
        m_parser.deleteQFXWithFileName(m_repairFileName);
    } else if (m_repairModuleAction == "write") {
        m_parser.writeQFXListAndQFXWithFileName(m_repairFileName, m_repairPath, 1);
    } else {
        writeRepairList(false);
    }
}

void CommonUtils::writeRepairList(bool replaced)
{
    m_repairStep = RepairStep::List;
    m_parser.writeQFXListAndQFXWithFileName(kQFXListFileName, m_repairRecord + "/" + (replaced ? kReplacedList : kEditedList),
                                            0);
}

void CommonUtils::dropRepairModule(const std::string& fileName)
{
    const std::string replacedPath = m_repairRecord + "/" + kReplacedList;
    const auto replaced = m_files.readFile(replacedPath);
    std::optional<OKVQFXList> list = replaced ? QFXListEdit::parse(*replaced) : std::nullopt;
    if (list) {
        for (QFXListCategory& category : list->arrayCategory())
            for (OKVQFXInformation& record : category.arrayQFXInformation())
                if (record.nameQFX() == fileName) record.setIsLoadedQFX(false);
        platform::Error error;
        if (!m_files.writeAtomically(replacedPath, list->getByteData(), &error))
            RIG_LOG("cannot unload the module in the kept list: %s", error.description.c_str());
    }
    m_repairStep = RepairStep::DropModule;
    m_repairDroppedModule = fileName;
    m_parser.deleteQFXWithFileName(fileName);
}

void CommonUtils::repairFound(std::int32_t state, const std::optional<Bytes>& data)
{
    if (state == -1 || state == -2 || state == -4) {
        reset();
        tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
        return;
    }
    if (m_repairStep == RepairStep::Check) {
        repairChecked(state, data);
        return;
    }
    const std::optional<OKVEffect> module = state == 1 && data ? OKVEffect::initWithData(*data) : std::nullopt;
    const std::string editedPath = m_repairRecord + "/" + kEditedList;
    const auto edited = m_files.readFile(editedPath);
    std::optional<OKVQFXList> list = module && edited ? QFXListEdit::parse(*edited) : std::nullopt;
    if (!list) {
        dropRepairModule(m_repairFileName);
        return;
    }
    for (QFXListCategory& category : list->arrayCategory())
        for (OKVQFXInformation& record : category.arrayQFXInformation())
            if (record.nameQFX() == m_repairFileName) {
                record.setIsLoadedQFX(true);
                record.setVersionQFX(module->version());
            }
    platform::Error error;
    if (!m_files.writeAtomically(editedPath, list->getByteData(), &error)) {
        RIG_LOG("cannot name the module the unit holds in the kept list: %s", error.description.c_str());
        dropRepairModule(m_repairFileName);
        return;
    }
    writeRepairList(false);
}

void CommonUtils::repairStepDone(std::int32_t state)
{
    // Each step's own codes for a unit that went away or stopped answering: the kept edit waits for the
    // next connection.
    const bool write = m_repairStep == RepairStep::List || (m_repairStep == RepairStep::Module && m_repairModuleWrite);
    const bool lost = state == -1 || state == -2 || state == (write ? -4 : -3);
    if (lost) {
        reset();
        tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
        return;
    }
    if (state != 1) {
        if (m_repairStep == RepairStep::Module && m_repairModuleWrite) {
            // The module cannot be written again (its file is gone from this machine, or the unit refuses
            // it): what the unit holds of it decides.
            RIG_LOG("the kept edit's module write was refused (%d); looking for the module on the unit", state);
            m_repairStep = RepairStep::Find;
            m_parser.getEffectWithFileName(m_repairFileName);
            return;
        }
        if (m_repairStep == RepairStep::Module || m_repairStep == RepairStep::DropModule) {
            // A delete the unit refuses still ends with the list naming the module deleted; a file the
            // unit kept is only unnamed, never named while gone.
            RIG_LOG("the kept edit's unlink was refused (%d); the list goes on", state);
            writeRepairList(m_repairStep == RepairStep::DropModule);
            return;
        }
        RIG_LOG("the kept effect edit could not be finished (%d); dropped", state);
        dropKeptEdit(m_repairRecord);
        finishRequest(RequestKind::RepairEffectList);
        return;
    }
    switch (m_repairStep) {
    case RepairStep::Module:
        writeRepairList(false);
        return;
    case RepairStep::DropModule:
        writeRepairList(true);
        return;
    case RepairStep::Check:  // answered through repairFound
    case RepairStep::CheckModules:  // answered through repairModuleChecked
    case RepairStep::Find:
        return;
    case RepairStep::List:
        m_repairStep = RepairStep::Flush;
        dropKeptEdit(m_repairRecord);
        m_parser.fileListFlush();
        return;
    case RepairStep::Flush:
        tell([dropped = m_repairDroppedModule](CommonUtilsDelegate& d) { d.deviceEffectListRepaired(dropped); });
        finishRequest(RequestKind::RepairEffectList);
        return;
    }
}

void CommonUtils::keepKnownList(const Bytes& list)
{
    if (m_deviceID == 0) return;
    const std::string folder = repairFolder();
    platform::Error error;
    if (m_files.readFile(folder + "/" + kKnownList) == list) return;
    if (!m_files.createDirectory(folder, true, &error) || !m_files.writeAtomically(folder + "/" + kKnownList, list, &error))
        RIG_LOG("cannot keep the unit's effect list: %s", error.description.c_str());
}

bool CommonUtils::restoreKnownList()
{
    // Once a connection, and never over an edit kept for another unit of the model, which the repair
    // ahead of this read left as it is.
    if (m_deviceID == 0 || std::exchange(m_knownListRestoreTried, true)) return false;
    // A quit changes nothing on the unit: the next connection gives the list back.
    if (m_isQuitting) return false;
    if (!keptEditFolders().empty()) return false;
    const auto known = m_files.readFile(repairFolder() + "/" + kKnownList);
    if (!known || known->empty()) return false;
    // The known list is the model's last read, from whichever unit: only the modules it names tell this
    // unit is that one, and a list naming none would go onto any unit of the model without a list.
    if (loadedModules(*known, std::string()).empty()) {
        RIG_LOG("the known effect list names no loaded module; it is not put back");
        return false;
    }
    RIG_LOG("the unit has no effect list: the one last read from it goes back");
    m_editedList = *known;
    m_replacedList = *known;
    keepEditForRepair("none", std::string(), std::string());
    // The write-back and a new read run first, ahead of whatever was asked for meanwhile.
    Stdqueue<Request> waiting = std::exchange(m_queueRequest, Stdqueue<Request>());
    m_queueRequest.enqueue(Request{RequestKind::RepairEffectList, [this] { repairEffectListFlow(); }});
    m_queueRequest.enqueue(Request{RequestKind::GetQFXList, [this] { m_parser.getQFXList(); }});
    while (auto request = waiting.dequeue()) m_queueRequest.enqueue(std::move(*request));
    finishRequest(RequestKind::GetQFXList);
    return true;
}
