#include "device/sequencer/ParserDataController.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "common/Log.h"
#include "device/commands/QFXMidiMessages.h"
#include "device/formats/OKVEffect.h"
#include "device/formats/OKVPatch.h"
#include "platform/files/FileManager.h"

namespace {

std::atomic<ParserDataController*> g_shared{nullptr};

// The command layer's rule, so a name the sequencer lets through is one the device's field takes.
bool fitsDeviceFileName(const std::string& name)
{
    return QFXMidiMessages::fileNameField(name).has_value();
}

platform::Duration seconds(float value)
{
    if (!(value > 0.0F)) return platform::Duration::zero();
    return std::chrono::duration_cast<platform::Duration>(std::chrono::duration<float>(value));
}

template <std::size_t N>
void setOrKeep(Bytes& field, const std::optional<std::array<std::uint8_t, N>>& server, const Bytes& device)
{
    if (server) {
        field.assign(server->begin(), server->end());
    } else {
        field = device;
    }
}

}  // namespace

ParserDataController::ParserDataController(platform::Dispatch& dispatch, platform::TimerService& timers,
                                           platform::FileManager& files, QFXCommandLayerFactory commandLayerFactory,
                                           std::shared_ptr<platform::Queue> stateQueue)
    : m_dispatch(dispatch),
      m_files(files),
      m_factory(std::move(commandLayerFactory)),
      m_state(stateQueue ? std::move(stateQueue) : dispatch.makeSerial("device.sequencer", platform::Priority::Low)),
      m_alive(std::make_shared<bool>(true)),
      m_aliveWatch(m_alive),
      m_operationWatchdog(timers),
      m_connectionWatchdog(timers),
      m_silence(timers, [this](std::function<void()> task) { post(std::move(task)); })
{
}

ParserDataController::~ParserDataController()
{
    // Once this has run on the state queue no later task there touches the object.
    m_state->sync([this] {
        m_alive.reset();
        if (m_qfxMidi) m_qfxMidi->setDelegate(nullptr);
    });
    ParserDataController* self = this;
    g_shared.compare_exchange_strong(self, nullptr);
}

ParserDataController& ParserDataController::sharedParserDataController()
{
    ParserDataController* controller = g_shared.load();
    if (controller == nullptr) throw std::logic_error("no ParserDataController installed");
    return *controller;
}

void ParserDataController::setShared(ParserDataController* controller) { g_shared.store(controller); }

void ParserDataController::post(std::function<void()> task)
{
    m_state->async([alive = m_aliveWatch, task = std::move(task)] {
        if (alive.lock()) task();
    });
}

void ParserDataController::publish()
{
    Published next;
    next.connected = m_isConnected;
    next.qfxMidi = m_qfxMidi;
    // The records are what the answers go by only once the handshake has collected all four.
    if (m_isConnected) next.description = std::make_shared<const DeviceDescription>(m_description);
    next.numberOfPatchs = m_numberOfPatchs;
    std::lock_guard lock(m_publishedMutex);
    m_published = std::move(next);
}

ParserDataController::Published ParserDataController::published() const
{
    std::lock_guard lock(m_publishedMutex);
    return m_published;
}

bool ParserDataController::isConnected() const
{
    std::lock_guard lock(m_publishedMutex);
    return m_published.connected;
}

// ---- connection and control ----

void ParserDataController::scanDeviceWithAcceptDeviceArray(std::vector<ServerDeviceModel> acceptDeviceArray,
                                                           std::int32_t timeOfRetry, float timeoutOfCommand)
{
    post([this, models = std::move(acceptDeviceArray), timeOfRetry, timeoutOfCommand] {
        std::vector<AcceptedDeviceModel> accepted;
        for (const ServerDeviceModel& model : models) accepted.push_back(AcceptedDeviceModel{model.modelIdInt});
        m_arrayAllQFXModels = models;
        // A zero or unreadable time-out would fire every watchdog at once.
        m_timeout = timeoutOfCommand > 0.0F && std::isfinite(timeoutOfCommand) ? timeoutOfCommand : 1.0F;
        // Replacing the command layer would free it under a running chain and lose what it knows (the
        // device it muted, the operation it runs): the first scan makes it, later ones reconfigure it.
        if (m_qfxMidi) {
            m_qfxMidi->setAcceptDevice(std::move(accepted), timeOfRetry);
        } else if (m_factory) {
            m_qfxMidi = m_factory(std::move(accepted), timeOfRetry);
            if (m_qfxMidi) m_qfxMidi->setDelegate(this);
        }
        publish();
        scanWhenIdle(true);
    });
}

void ParserDataController::rescanMidiDevice()
{
    post([this] { scanWhenIdle(); });
}

void ParserDataController::scanWhenIdle(bool joinsConnection)
{
    // A scan reconnects the ports and restarts the handshake, which would cut the running chain short.
    if (m_isWorking || m_settlingReports > 0 || (joinsConnection && m_isLettingGo)) {
        m_pendingScanJoins = (m_isScanPending ? m_pendingScanJoins : true) && joinsConnection;
        m_isScanPending = true;
        return;
    }
    const bool joins = m_isScanPending ? m_pendingScanJoins && joinsConnection : joinsConnection;
    m_isScanPending = false;
    m_pendingScanJoins = true;
    // Its result is the one the running connection reports.
    if (joins && (m_isHandshaking || m_isConnected)) return;
    // A scan asked for anew tries every device from the first; only a scan moving on from a device
    // that did not answer as ours carries on from where it stands. Otherwise, with the cursor past the
    // only device since its connection, the first scan after losing it would find nothing.
    if (m_qfxMidi && !m_isConnected && !m_isHandshaking) m_qfxMidi->restartScan();
    rescanOnState();
}

void ParserDataController::disconnectWithCurrentDevice()
{
    post([this] { disconnectOnState(false); });
}

void ParserDataController::forceEject()
{
    if (const auto qfxMidi = published().qfxMidi) qfxMidi->forceEject();
    post([this] {
        // Without a connection there is nothing a connect would have to wait for.
        m_isLettingGo = m_isConnected || m_isHandshaking;
        // On the main queue whatever thread asked, so the disconnect happens even from a worker queue.
        m_dispatch.main().after(std::chrono::seconds(1), [this, session = m_session, state = m_state,
                                                          alive = m_aliveWatch] {
            state->async([this, session, alive] {
                // A connection begun since is not the one the eject let go.
                if (alive.lock() && session == m_session) disconnectOnState(false);
            });
        });
    });
}

void ParserDataController::rescanOnState()
{
    if (m_qfxMidi && m_qfxMidi->rescanMidiDevice()) {
        m_isHasScanDevice = true;
        startHandshake(ConnectType::Scan);
        return;
    }
    std::int32_t state = 2;
    if (m_isHasDeviceConnectAlready) {
        m_isHasDeviceConnectAlready = false;
        state = 0;
    }
    if (auto* d = delegate()) d->connectionWithState(state, 0);
}

void ParserDataController::startHandshake(ConnectType type)
{
    ++m_session;
    m_isLettingGo = false;
    m_isHandshaking = true;
    m_qfxMidi->connection();
    armWatchdog(m_connectionWatchdog, m_timeout, [this, type] { checkStateConnectWithType(type); });
}

void ParserDataController::checkStateConnectWithType(ConnectType type)
{
    if (m_isConnected) return;
    m_isConnectWithNewDevicePluginMode = false;
    disconnectOnState(false);
    if (type == ConnectType::Scan) {
        m_isHasDeviceConnectAlready = true;
        rescanOnState();
    }
}

void ParserDataController::disconnectOnState(bool keepDevice)
{
    m_isConnected = false;
    m_isHandshaking = false;
    m_isLettingGo = false;
    m_description.clear();
    m_numberOfGroups = m_numberOfBanks = m_numberOfPatchs = 0;
    m_maxSizePatchData = 0;
    m_queue = Stdqueue<std::function<void()>>();
    m_isWorking = false;
    // Whatever was running is over: a late answer for it must not be taken for a newer operation's.
    m_waiting.fill(false);
    m_isEjectedWithError = false;
    if (m_qfxMidi) {
        m_qfxMidi->clearWaitingBlock();
        if (!keepDevice) m_qfxMidi->disconnectCurrentDevice();
    }
    cancelWatchdog(m_operationWatchdog);
    cancelWatchdog(m_connectionWatchdog);
    m_silence.stop();
    publish();
    // Whatever ran is over: a scan that waited for it goes ahead once this report has been made.
    if (m_isScanPending) post([this] { checkAddOperation(); });
}

// ---- watchdogs ----

void ParserDataController::armWatchdog(Watchdog& watchdog, float interval, std::function<void()> handler)
{
    const std::uint64_t generation = ++watchdog.generation;
    watchdog.timer.arm(seconds(interval), [&watchdog, generation, handler = std::move(handler), state = m_state,
                                           alive = m_aliveWatch] {
        state->async([&watchdog, generation, handler, alive] {
            if (!alive.lock() || generation != watchdog.generation) return;
            handler();
        });
    });
}

void ParserDataController::cancelWatchdog(Watchdog& watchdog)
{
    ++watchdog.generation;
    watchdog.timer.cancel();
}

void ParserDataController::expire(Kind kind)
{
    auto& waiting = m_waiting[static_cast<std::size_t>(kind)];
    if (!waiting) return;
    waiting = false;
    RIG_LOG("device operation %d got no answer in time", static_cast<int>(kind));
    disconnectOnState(false);
    reportOnceFilesSettled([this, kind] { reportEmpty(kind, -1); });
}

void ParserDataController::reportOnceFilesSettled(std::function<void()> report)
{
    if (!m_qfxMidi) {
        report();
        return;
    }
    ++m_settlingReports;
    // The files land on the transport's own queue: the state queue only hears when they have.
    m_qfxMidi->afterPatchFilesStored([this, state = m_state, alive = m_aliveWatch, report = std::move(report)] {
        state->async([this, alive, report] {
            if (!alive.lock()) return;
            --m_settlingReports;
            report();
            if (m_settlingReports > 0) return;
            if (std::exchange(m_isPluginPending, false)) connectPluggedDevice();
            checkAddOperation();
        });
    });
}

void ParserDataController::checkWaitingEjectWithError()
{
    if (!m_isEjectedWithError) return;
    m_isEjectedWithError = false;
    m_waiting[static_cast<std::size_t>(Kind::EjectDevice)] = false;
    disconnectOnState(false);
}

// ---- the operation queue ----

void ParserDataController::enqueueOperation(std::function<void()> flow)
{
    post([this, flow = std::move(flow)] {
        m_queue.enqueue(flow);
        checkAddOperation();
    });
}

void ParserDataController::checkAddOperation()
{
    if (m_settlingReports > 0) return;
    if (m_isScanPending && !m_isWorking) scanWhenIdle(m_pendingScanJoins);
    // A flow that answers at once leaves the sequencer idle, so the next one starts straight away.
    while (!m_isWorking) {
        auto flow = m_queue.dequeue();
        if (!flow) return;
        (*flow)();
    }
}

void ParserDataController::runFlow(Kind kind, float interval,
                                   const std::function<std::optional<std::int32_t>()>& check,
                                   const std::function<void(QFXCommandLayer&)>& issue)
{
    if (!m_isConnected || !m_qfxMidi) {
        reportEmpty(kind, -2);
        return;
    }
    if (check) {
        if (const auto refused = check()) {
            reportEmpty(kind, *refused);
            return;
        }
    }
    m_isWorking = true;
    m_waiting[static_cast<std::size_t>(kind)] = true;
    issue(*m_qfxMidi);
    armWatchdog(m_operationWatchdog, interval, [this, kind] { expire(kind); });
    // A long operation's budget is no reason to wait for a unit that has gone quiet: its silence ends
    // the operation as the watchdog would, and whoever waits behind it (a Disconnect, a Quit) goes on.
    m_silence.listen(seconds(kSilentCommandTimeOuts * m_timeout),
                     [qfxMidi = m_qfxMidi] { return qfxMidi->messagesHeard(); },
                     [qfxMidi = m_qfxMidi] { return qfxMidi->awaitsUnit(); },
                     [this, kind] {
                         RIG_LOG("the unit sent nothing for %.1f s during operation %d",
                                 static_cast<double>(kSilentCommandTimeOuts * m_timeout), static_cast<int>(kind));
                         expire(kind);
                     });
}

void ParserDataController::reportEmpty(Kind kind, std::int32_t state)
{
    ParserDataDelegate* d = delegate();
    if (d == nullptr) return;
    switch (kind) {
    case Kind::GetMemoryState: d->getMemoryStatusWithState(state, 0.0F); break;
    case Kind::EjectDevice: d->ejectDeviceWithState(state, 0); break;
    case Kind::DeleteQFX: d->deleteQFXWithState(state, 0); break;
    case Kind::WriteQFXListAndQFX: d->writeQFXListAndQFXWithState(state); break;
    case Kind::GetQFXListOrQFX: d->getQFXListOrQFXWithState(state, std::nullopt); break;
    case Kind::GetAllPatchDataDump: d->getAllPatchDataDumpWithState(state, std::nullopt); break;
    case Kind::WriteAllPatchDataDump: d->writeAllPatchDataDumpWithState(state); break;
    case Kind::WriteOnePatchDataDump: d->writeOnePatchDataDumpWithState(state); break;
    case Kind::WriteGroupPatchDataDump: d->writeGroupPatchDataDumpWithState(state); break;
    case Kind::SelectPatch: d->selectPatchWithState(state); break;
    case Kind::FileListFlush: d->fileListFlushWithState(state); break;
    case Kind::GetFileLength: d->getFileLengthWithState(state, 0); break;
    }
}

std::optional<Bytes> ParserDataController::readPatchFile(const std::string& path)
{
    auto bytes = m_files.readFile(path);
    // An unreadable or foreign file must never reach the device as an all-zero patch.
    if (!bytes || !OKVPatch::initWithData(*bytes)) return std::nullopt;
    return bytes;
}

bool ParserDataController::patchFilesReadable(const std::vector<PatchObject>& patchs)
{
    for (const PatchObject& patch : patchs)
        if (!readPatchFile(patch.path)) return false;
    return true;
}

bool ParserDataController::inLayout(const PatchObject& patch) const
{
    return patch.groupNum >= 0 && patch.groupNum < m_numberOfGroups && patch.bankNum >= 0 &&
           patch.bankNum < m_numberOfBanks && patch.patchNum >= 0 && patch.patchNum < m_numberOfPatchs;
}

bool ParserDataController::coversLayout(const AllPatch& allPatch)
{
    // The command layer sends, for every slot, the first entry with its address.
    std::set<std::tuple<std::int32_t, std::int32_t, std::int32_t>> seen;
    std::vector<PatchObject> sent;
    for (const PatchObject& patch : allPatch.patchsList)
        if (seen.emplace(patch.groupNum, patch.bankNum, patch.patchNum).second) sent.push_back(patch);
    for (std::int32_t g = 0; g < allPatch.numOfGroups; ++g)
        for (std::int32_t b = 0; b < allPatch.numOfBanks; ++b)
            for (std::int32_t p = 0; p < allPatch.numOfPatchs; ++p)
                if (seen.count({g, b, p}) == 0) return false;
    return patchFilesReadable(sent);
}

// ---- requests ----

void ParserDataController::getMemoryStatus()
{
    enqueueOperation([this] { runFlow(Kind::GetMemoryState, m_timeout, {}, [](QFXCommandLayer& q) { q.checkMemory(); }); });
}

void ParserDataController::ejectDevice()
{
    enqueueOperation([this] { runFlow(Kind::EjectDevice, m_timeout, {}, [](QFXCommandLayer& q) { q.eject(); }); });
}

void ParserDataController::deleteQFXWithFileName(const std::string& fileName)
{
    enqueueOperation([this, fileName] {
        runFlow(Kind::DeleteQFX, m_timeout, {}, [&](QFXCommandLayer& q) { q.deleteQFXWithFileName(fileName); });
    });
}

void ParserDataController::writeQFXListAndQFXWithFileName(const std::string& fileName, const std::string& path,
                                                          std::int32_t state)
{
    auto contents = m_files.readFile(path);
    if (!contents) {
        if (auto* d = delegate()) d->writeQFXListAndQFXWithState(-3);
        return;
    }
    enqueueOperation([this, fileName, data = std::move(*contents), state] {
        runFlow(Kind::WriteQFXListAndQFX, 4 * m_timeout, {}, [&](QFXCommandLayer& q) {
            q.writeFileListWithFilePath(fileName, data.data(), static_cast<std::int64_t>(data.size()), state);
        });
    });
}

void ParserDataController::getQFXList() { getEffectWithFileName(kDefaultNameOfQFXList); }

void ParserDataController::getEffectWithFileName(const std::string& fileName)
{
    enqueueOperation([this, fileName] {
        runFlow(
            Kind::GetQFXListOrQFX, 4 * m_timeout,
            [&]() -> std::optional<std::int32_t> {
                if (!fitsDeviceFileName(fileName)) return -3;
                return std::nullopt;
            },
            [&](QFXCommandLayer& q) { q.readFFSFileListWithFilePath(fileName); });
    });
}

void ParserDataController::getAllPatchDataDump()
{
    enqueueOperation([this] {
        const float total = m_description.advencedPatchInformation
                                ? static_cast<float>(m_description.advencedPatchInformation->totalNumberOfPatch)
                                : 0.0F;
        runFlow(
            Kind::GetAllPatchDataDump, m_timeout * total,
            [&]() -> std::optional<std::int32_t> {
                if (m_numberOfGroups == 0 && m_numberOfBanks == 0 && m_numberOfPatchs == 0) return -3;
                return std::nullopt;
            },
            [&](QFXCommandLayer& q) {
                q.dumpAllPatchWithNumberOfGroups(m_numberOfGroups, m_numberOfBanks, m_numberOfPatchs);
            });
    });
}

void ParserDataController::writeAllPatchDataDumpWithAllPatch(AllPatch allPatch)
{
    enqueueOperation([this, allPatch = std::move(allPatch)]() mutable {
        const float total = m_description.advencedPatchInformation
                                ? static_cast<float>(m_description.advencedPatchInformation->totalNumberOfPatch)
                                : 0.0F;
        runFlow(
            Kind::WriteAllPatchDataDump, m_timeout * total / 5.0F,
            [&]() -> std::optional<std::int32_t> {
                if (m_maxSizePatchData == 0) return 2;
                allPatch.numOfGroups = m_numberOfGroups;
                allPatch.numOfBanks = m_numberOfBanks;
                allPatch.numOfPatchs = m_numberOfPatchs;
                if (!coversLayout(allPatch)) return -3;
                return std::nullopt;
            },
            [&](QFXCommandLayer& q) { q.writeAllPatchWithAllPatch(allPatch, m_maxSizePatchData); });
    });
}

void ParserDataController::writeOnePatchDataDumpWithAllPatch(PatchObject patch)
{
    enqueueOperation([this, patch = std::move(patch)] {
        std::optional<Bytes> data;
        runFlow(
            Kind::WriteOnePatchDataDump, 3 * m_timeout,
            [&]() -> std::optional<std::int32_t> {
                if (m_maxSizePatchData == 0) return 2;
                // A slot the device does not have would reach another one, or none.
                if (!inLayout(patch)) return -3;
                data = readPatchFile(patch.path);
                if (!data) return -3;
                return std::nullopt;
            },
            [&](QFXCommandLayer& q) {
                q.writeOnePatchWithGroupNumber(patch.groupNum, patch.bankNum, patch.patchNum, m_maxSizePatchData,
                                               data->data(), static_cast<std::int64_t>(data->size()));
            });
    });
}

void ParserDataController::writeGroupPatchDataDumpWithAllPatch(std::vector<PatchObject> patchs)
{
    enqueueOperation([this, patchs = std::move(patchs)] {
        runFlow(
            Kind::WriteGroupPatchDataDump, 2 * m_timeout * static_cast<float>(patchs.size()),
            [&]() -> std::optional<std::int32_t> {
                if (m_maxSizePatchData == 0) return 2;
                if (patchs.empty() || !patchFilesReadable(patchs)) return -3;
                for (const PatchObject& patch : patchs)
                    if (!inLayout(patch)) return -3;
                return std::nullopt;
            },
            [&](QFXCommandLayer& q) { q.writeGroupPatchWithPatchArray(patchs, m_maxSizePatchData); });
    });
}

void ParserDataController::selectPatch(PatchObject patch)
{
    enqueueOperation([this, patch = std::move(patch)] {
        std::optional<Bytes> data;
        runFlow(
            Kind::SelectPatch, m_timeout,
            [&]() -> std::optional<std::int32_t> {
                data = readPatchFile(patch.path);
                if (!data) return -3;
                return std::nullopt;
            },
            [&](QFXCommandLayer& q) {
                q.selectPatchWithData(data->data(), static_cast<std::int64_t>(data->size()), m_maxSizePatchData);
            });
    });
}

void ParserDataController::fileListFlush()
{
    enqueueOperation([this] { runFlow(Kind::FileListFlush, m_timeout, {}, [](QFXCommandLayer& q) { q.fileListFlush(); }); });
}

void ParserDataController::getFileLengthWithFileName(const std::string& fileName)
{
    enqueueOperation([this, fileName] {
        runFlow(
            Kind::GetFileLength, m_timeout,
            [&]() -> std::optional<std::int32_t> {
                if (!fitsDeviceFileName(fileName)) return -2;
                return std::nullopt;
            },
            [&](QFXCommandLayer& q) { q.getFileSizeWithFileName(fileName); });
    });
}

// ---- queries ----

std::optional<std::array<std::uint8_t, 4>> ParserDataController::getDeviceVersion()
{
    const Published now = published();
    if (!now.connected || !now.qfxMidi) return std::nullopt;
    return now.qfxMidi->getDeviceVersion();
}

std::int32_t ParserDataController::getDeviceUseUnitNum()
{
    const Published now = published();
    if (!now.connected || !now.description) return 0;
    const auto& support = now.description->supportPatchInformation;
    if (!support || support->useUnitNum.empty()) return 0;
    return static_cast<std::int32_t>(support->useUnitNum[0]);
}

std::int32_t ParserDataController::getDeviceID()
{
    const Published now = published();
    return now.connected && now.qfxMidi ? now.qfxMidi->getCQFXDeviceIDInt() : 0;
}

std::uint8_t ParserDataController::getNumberOfFileInDevice()
{
    const Published now = published();
    if (!now.connected || !now.description || !now.description->infoRead) return 0;
    return static_cast<std::uint8_t>(now.description->infoRead->numOfFiles & 0xFF);
}

std::int32_t ParserDataController::getNumberOfPatchsInABank() { return published().numberOfPatchs; }

std::optional<std::string> ParserDataController::getNameDevice()
{
    const Published now = published();
    if (!now.connected || !now.qfxMidi) return std::nullopt;
    return now.qfxMidi->getDeviceName();
}

void ParserDataController::getStatusCurrentConnect(std::int64_t number)
{
    RIG_LOG("connection check %lld", static_cast<long long>(number));
    post([this] {
        if (m_qfxMidi && !m_qfxMidi->checkCurrentConnect()) {
            m_description.clear();
            m_isConnected = false;
            publish();
        }
    });
}

bool ParserDataController::checkEffectCompatible(const OKVEffect& effect)
{
    const auto description = published().description;
    return description && description->checkEffectCompatible(effect);
}

bool ParserDataController::checkPatchCompatible(const OKVPatch& patch)
{
    const auto description = published().description;
    return description && description->checkPatchCompatible(patch);
}

std::string ParserDataController::getOffsetNameOfPatchWithNumGroup(std::int32_t numGroup, std::int32_t numBank,
                                                                   std::int32_t numPatch)
{
    const auto description = published().description;
    return description ? description->getOffsetNameOfPatchWithNumGroup(numGroup, numBank, numPatch) : std::string();
}

// ---- results ----

bool ParserDataController::finishOperation(Kind kind)
{
    auto& waiting = m_waiting[static_cast<std::size_t>(kind)];
    // Not waiting: the operation already ended by its watchdog or a disconnect.
    if (!waiting) return false;
    waiting = false;
    m_isWorking = false;
    cancelWatchdog(m_operationWatchdog);
    m_silence.stop();
    return true;
}

void ParserDataController::afterResult(bool deviceError)
{
    if (deviceError) {
        // The eject runs alone: nothing queued behind the failed operation goes to a failing device.
        m_queue = Stdqueue<std::function<void()>>();
        ejectWithError();
    }
}

void ParserDataController::ejectWithError()
{
    if (!m_isConnected || !m_qfxMidi) {
        disconnectOnState(false);
        return;
    }
    m_isWorking = true;
    m_waiting[static_cast<std::size_t>(Kind::EjectDevice)] = true;
    m_isEjectedWithError = true;
    m_qfxMidi->eject();
    armWatchdog(m_operationWatchdog, m_timeout, [this] { checkWaitingEjectWithError(); });
}

void ParserDataController::diskFreeCallbackWithState(std::int32_t state, std::int64_t totalSize, std::int64_t freeSize)
{
    post([=, this] {
        if (!finishOperation(Kind::GetMemoryState)) return;
        const bool deviceError = state == -4;
        afterResult(deviceError);
        std::int32_t result = deviceError ? -3 : 0;
        float status = -1.0F;
        // A device that reports no capacity gives no percentage rather than a division by zero.
        if (state == 1 && totalSize > 0) {
            result = 1;
            status = 100.0F - static_cast<float>(freeSize) / static_cast<float>(totalSize) * 100.0F;
        }
        if (auto* d = delegate()) d->getMemoryStatusWithState(result, status);
        if (!deviceError) checkAddOperation();
    });
}

void ParserDataController::deleteQFXCallbackWithState(std::int32_t state, std::int64_t)
{
    post([=, this] {
        if (!finishOperation(Kind::DeleteQFX)) return;
        const bool deviceError = state == -4;
        afterResult(deviceError);
        if (auto* d = delegate()) {
            if (state == 1) d->deleteQFXWithState(1, 0);
            else if (deviceError) d->deleteQFXWithState(-3, 0);
            else d->deleteQFXWithState(0, state);
        }
        if (!deviceError) checkAddOperation();
    });
}

void ParserDataController::readFileQFXListAndQFXCallbackWithState(std::int32_t state, const Bytes& byteDataSuccess,
                                                                  std::int64_t readCount)
{
    std::optional<Bytes> contents;
    if (state == 1) {
        const auto count = static_cast<std::size_t>(
            std::clamp<std::int64_t>(readCount, 0, static_cast<std::int64_t>(byteDataSuccess.size())));
        contents.emplace(byteDataSuccess.begin(), byteDataSuccess.begin() + static_cast<std::ptrdiff_t>(count));
    }
    post([this, state, contents = std::move(contents)] {
        if (!finishOperation(Kind::GetQFXListOrQFX)) return;
        const bool deviceError = state == -2;
        afterResult(deviceError);
        const std::int32_t result = state == 1                                      ? 1
                                    : deviceError                                   ? -4
                                    : state == CQFXMidiDelegate::kReadNoSuchFile ? ParserDataDelegate::kNoSuchFile
                                                                                    : 0;
        if (auto* d = delegate()) d->getQFXListOrQFXWithState(result, contents);
        if (!deviceError) checkAddOperation();
    });
}

void ParserDataController::dumpAllPatchCallbackWithState(std::int32_t state, const std::optional<AllPatch>& allPatchData)
{
    std::optional<std::vector<PatchObject>> list;
    if (state == 1) list = allPatchData ? allPatchData->patchsList : std::vector<PatchObject>();
    post([this, state, list = std::move(list)] {
        if (!finishOperation(Kind::GetAllPatchDataDump)) return;
        const bool deviceError = state == -1;
        afterResult(deviceError);
        if (auto* d = delegate()) d->getAllPatchDataDumpWithState(state == 1 ? 1 : deviceError ? -4 : 0, list);
        if (!deviceError) checkAddOperation();
    });
}

void ParserDataController::getFileSizeCallbackWithState(std::int32_t state, std::int64_t fileSize)
{
    post([=, this] {
        if (!finishOperation(Kind::GetFileLength)) return;
        const bool deviceError = state == -3;
        afterResult(deviceError);
        if (auto* d = delegate()) {
            if (state == 1) d->getFileLengthWithState(1, fileSize);
            else if (deviceError) d->getFileLengthWithState(-4, fileSize);
            else d->getFileLengthWithState(0, 0);
        }
        if (!deviceError) checkAddOperation();
    });
}

namespace {

// Result 1, the listed device-error code, or 0.
std::int32_t mapped(std::int32_t state, std::int32_t errorState, std::int32_t errorResult)
{
    if (state == 1) return 1;
    return state == errorState ? errorResult : 0;
}

}  // namespace

void ParserDataController::simpleResult(Kind kind, std::int32_t state, std::int32_t errorState,
                                        std::int32_t errorResult, void (ParserDataDelegate::*report)(std::int32_t))
{
    post([=, this] {
        if (!finishOperation(kind)) return;
        const bool deviceError = state == errorState;
        afterResult(deviceError);
        if (auto* d = delegate()) (d->*report)(mapped(state, errorState, errorResult));
        if (!deviceError) checkAddOperation();
    });
}

void ParserDataController::writeFileListCallbackWithState(std::int32_t state)
{
    simpleResult(Kind::WriteQFXListAndQFX, state, -1, -4, &ParserDataDelegate::writeQFXListAndQFXWithState);
}

void ParserDataController::writeAllPatchCallbackWithState(std::int32_t state)
{
    simpleResult(Kind::WriteAllPatchDataDump, state, -3, -3, &ParserDataDelegate::writeAllPatchDataDumpWithState);
}

void ParserDataController::writeOnePatchCallbackWithState(std::int32_t state)
{
    simpleResult(Kind::WriteOnePatchDataDump, state, -3, -3, &ParserDataDelegate::writeOnePatchDataDumpWithState);
}

void ParserDataController::writeGroupPatchCallbackWithState(std::int32_t state)
{
    simpleResult(Kind::WriteGroupPatchDataDump, state, -3, -3, &ParserDataDelegate::writeGroupPatchDataDumpWithState);
}

void ParserDataController::editBufferDumpCallbackWithState(std::int32_t state)
{
    simpleResult(Kind::SelectPatch, state, -1, -3, &ParserDataDelegate::selectPatchWithState);
}

void ParserDataController::ffsFileListFlushCallbackWithState(std::int32_t state)
{
    simpleResult(Kind::FileListFlush, state, -1, -3, &ParserDataDelegate::fileListFlushWithState);
}

void ParserDataController::ejectCallback(std::int32_t state, std::int32_t resultCode)
{
    post([=, this] {
        if (!finishOperation(Kind::EjectDevice)) return;
        if (m_isEjectedWithError) {
            // The failed operation has been reported already; the eject only ends the connection.
            m_isEjectedWithError = false;
            disconnectOnState(false);
            return;
        }
        ParserDataDelegate* d = delegate();
        if (state == 1 || state == -4) {
            disconnectOnState(false);
            if (d) d->ejectDeviceWithState(state == 1 ? 1 : -3, 0);
            return;
        }
        // The device stays connected, so whatever waits behind the eject may run.
        if (d) d->ejectDeviceWithState(0, resultCode);
        checkAddOperation();
    });
}

void ParserDataController::patchDataDumpCallbackWithState(std::int32_t, const Bytes&, std::int32_t)
{
    // No operation asks for a single patch.
}

// ---- the handshake ----

const ServerDeviceModel* ParserDataController::serverModel() const
{
    if (!m_qfxMidi) return nullptr;
    const std::int32_t deviceId = m_qfxMidi->getCQFXDeviceIDInt();
    for (const ServerDeviceModel& model : m_arrayAllQFXModels)
        if (model.modelIdInt == deviceId) return &model;
    return nullptr;
}

void ParserDataController::handshakeFailed(std::int32_t connectionState, std::int32_t subState)
{
    // The connection watchdog stays armed and abandons the attempt when it expires.
    m_isConnectWithNewDevicePluginMode = false;
    if (auto* d = delegate()) d->connectionWithState(connectionState, subState);
}

void ParserDataController::getNewDevicePlugin()
{
    post([this] {
        if (m_isConnected || m_isWorking || !m_qfxMidi) return;
        if (m_settlingReports > 0) {
            m_isPluginPending = true;
            return;
        }
        connectPluggedDevice();
    });
}

void ParserDataController::connectPluggedDevice()
{
    if (m_isConnected || m_isWorking || !m_qfxMidi) return;
    if (!m_qfxMidi->connectNewDevicePlugin()) {
        if (auto* d = delegate()) d->connectionWithState(2, 0);
        return;
    }
    m_isConnectWithNewDevicePluginMode = true;
    disconnectOnState(true);
    m_isHasScanDevice = false;
    startHandshake(ConnectType::Plugin);
}

void ParserDataController::notifyRemoveConnectedDevice()
{
    post([this] {
        if (m_isConnected || m_isWorking) {
            disconnectOnState(false);
            reportOnceFilesSettled([this] {
                if (auto* d = delegate()) d->notifyDisconnectToDevice();
            });
        } else if (m_isConnectWithNewDevicePluginMode) {
            disconnectOnState(false);
        }
    });
}

void ParserDataController::enterPCAsyncModeCallbackWithState(std::int32_t state)
{
    post([this, state] {
        if (!m_isHandshaking || state == 1) return;
        m_isConnectWithNewDevicePluginMode = false;
        cancelWatchdog(m_connectionWatchdog);
        if (m_isHasScanDevice) {
            // A scan moves on to the next device rather than reporting.
            disconnectOnState(false);
            rescanOnState();
            return;
        }
        m_isHandshaking = false;
        if (auto* d = delegate()) d->connectionWithState(3, state);
    });
}

void ParserDataController::supportQFXInformationCallbackWithState(std::int32_t state, const Bytes& gen,
                                                                  const Bytes& region, const Bytes& regionLv,
                                                                  const Bytes& useUnitNum)
{
    post([this, state, gen, region, regionLv, useUnitNum] {
        if (!m_isHandshaking) return;
        if (state != 1) {
            handshakeFailed(-1, state);
            return;
        }
        const ServerDeviceModel* model = serverModel();
        SupportQFXInformation info;
        const auto take = [](auto setter, const auto& server, const Bytes& device) {
            if (server) setter(server->data(), server->size());
            else setter(device.data(), device.size());
        };
        using Info = SupportQFXInformation;
        take([&](const std::uint8_t* b, std::size_t n) { info.setGenWithByte(b, n); },
             model ? model->qfxGenerationModel : std::nullopt, gen);
        take([&](const std::uint8_t* b, std::size_t n) { info.setRegionWithByte(b, n); },
             model ? model->qfxSupportRegionsModel : std::nullopt, region);
        take([&](const std::uint8_t* b, std::size_t n) { info.setRegionLvWithByte(b, n); },
             model ? model->qfxRegionLevelsModel : std::nullopt, regionLv);
        if (model && model->qfxMaxNumOfUnit != 0) {
            const auto units = static_cast<std::uint8_t>(model->qfxMaxNumOfUnit & 0xFF);
            info.setUseUnitNumWithByte(&units, Info::kUseUnitNumSize);
        } else {
            info.setUseUnitNumWithByte(useUnitNum.data(), useUnitNum.size());
        }
        m_description.supportQFXInformation = std::move(info);
        checkConnection();
    });
}

void ParserDataController::supportPatchInformationCallbackWithState(std::int32_t state, const Bytes& gen,
                                                                    const Bytes& region, const Bytes& useUnitNum)
{
    post([this, state, gen, region, useUnitNum] {
        if (!m_isHandshaking) return;
        if (state != 1) {
            handshakeFailed(-2, state);
            return;
        }
        const ServerDeviceModel* model = serverModel();
        SupportPatchInformation info;
        setOrKeep(info.gen, model ? model->ptcGenerationModel : std::nullopt, gen);
        setOrKeep(info.region, model ? model->ptcSupportRegionsModel : std::nullopt, region);
        if (model && model->ptcMaxNumOfUnit != 0) {
            info.useUnitNum = {static_cast<std::uint8_t>(model->ptcMaxNumOfUnit & 0xFF)};
        } else {
            info.useUnitNum = useUnitNum;
        }
        m_description.supportPatchInformation = std::move(info);
        checkConnection();
    });
}

void ParserDataController::advencedPatchDataInformationCallbackWithState(
    std::int32_t state, const std::optional<AdvencedPatchInformation>& information)
{
    post([this, state, information] {
        if (!m_isHandshaking) return;
        if (state != 1 || !information) {
            handshakeFailed(-3, state);
            return;
        }
        // Both are divisors of the memory layout: a device claiming none has no usable layout.
        if (information->numberOfPatchInBank <= 0 || information->numberOfPatchInGroup <= 0) {
            handshakeFailed(-3, 0);
            return;
        }
        m_description.advencedPatchInformation = information->copy();
        checkConnection();
    });
}

void ParserDataController::infoReadCallbackWithState(std::int32_t state, std::int32_t numOfInfo,
                                                     std::int32_t numOfFiles, std::int32_t numOfSectors,
                                                     const Bytes& version, std::int64_t)
{
    post([=, this] {
        if (!m_isHandshaking) return;
        if (state != 1) {
            handshakeFailed(-3, state);
            return;
        }
        m_description.infoRead = InfoRead{numOfInfo, numOfFiles, numOfSectors, version};
        checkConnection();
    });
}

void ParserDataController::checkConnection()
{
    if (!m_description.hasAllRecords()) return;
    const AdvencedPatchInformation& info = *m_description.advencedPatchInformation;
    m_numberOfBanks = info.numberOfPatchInGroup / info.numberOfPatchInBank;
    m_numberOfGroups = info.totalNumberOfPatch / info.numberOfPatchInGroup;
    m_numberOfPatchs = info.numberOfPatchInBank;
    m_maxSizePatchData = info.patchDataSize;
    m_isConnected = true;
    m_isHandshaking = false;
    cancelWatchdog(m_connectionWatchdog);
    m_isConnectWithNewDevicePluginMode = false;
    publish();
    if (auto* d = delegate()) d->connectionWithState(1, 0);
}

void ParserDataController::patchTransferProgress(std::int32_t done, std::int32_t total)
{
    post([this, done, total] {
        // A count that arrives after its operation ended (watchdog, disconnect) is not passed on.
        const auto waiting = [this](Kind kind) { return m_waiting[static_cast<std::size_t>(kind)]; };
        if (!waiting(Kind::GetAllPatchDataDump) && !waiting(Kind::WriteAllPatchDataDump) &&
            !waiting(Kind::WriteGroupPatchDataDump))
            return;
        if (auto* d = delegate()) d->patchTransferProgress(done, total);
    });
}

void ParserDataController::patchWrittenToSlot(const PatchObject& slot)
{
    post([this, slot] {
        // Only while its write waits: one the watchdog or a disconnect ended has been told already.
        const auto waiting = [this](Kind kind) { return m_waiting[static_cast<std::size_t>(kind)]; };
        if (!m_isConnected || (!waiting(Kind::WriteOnePatchDataDump) && !waiting(Kind::WriteGroupPatchDataDump) &&
                               !waiting(Kind::WriteAllPatchDataDump)))
            return;
        if (auto* d = delegate()) d->patchWrittenToSlot(slot);
    });
}

void ParserDataController::notifyPatchDataChangeFromDevice(const PatchObject& patch)
{
    post([this, patch] {
        if (!m_isConnected) return;
        if (auto* d = delegate()) d->notifyDataPatchChange(patch);
    });
}
