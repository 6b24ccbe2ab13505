#include "device/commands/CQFXMidi.h"

#include "common/Log.h"
#include "device/commands/QFXMidiMessages.h"

std::shared_ptr<CQFXMidi> CQFXMidi::create(CMidiDevice& device, std::vector<AcceptedDeviceModel> arrayAcceptDevice,
                                           std::int32_t timeOfRetry)
{
    std::shared_ptr<CQFXMidi> midi(new CQFXMidi(device, std::move(arrayAcceptDevice), timeOfRetry));
    device.setMidiDeviceDelegate(midi);
    // A file the unit opened for an open no chain awaits any more is closed at once: the unit would
    // otherwise hold it open for good.
    device.setStrayOpenHandler([weak = std::weak_ptr<CQFXMidi>(midi)](const Bytes& handle) {
        if (const auto self = weak.lock()) self->closeStrayFile(handle);
    });
    return midi;
}

CQFXMidi::CQFXMidi(CMidiDevice& device, std::vector<AcceptedDeviceModel> arrayAcceptDevice, std::int32_t timeOfRetry)
    : m_device(device), m_arrayAcceptDevice(std::move(arrayAcceptDevice)), m_timeOfRetry(timeOfRetry)
{
}

CQFXMidi::~CQFXMidi() = default;

namespace {
// Reports this thread is making; a delegate swapped from inside one cannot wait for it to end.
thread_local int t_reporting = 0;
// Chain steps this thread is running; a clear from inside one cannot wait for it to end.
thread_local int t_handling = 0;
}  // namespace

CQFXMidi::HandlerRun::HandlerRun(CQFXMidi& owner) : m_owner(owner)
{
    std::lock_guard lock(owner.m_mutex);
    ++owner.m_handlersRunning;
    ++t_handling;
}

CQFXMidi::HandlerRun::~HandlerRun()
{
    --t_handling;
    // Notified under the lock: a waiter may destroy the layer as soon as it sees the count fall.
    std::lock_guard lock(m_owner.m_mutex);
    --m_owner.m_handlersRunning;
    m_owner.m_handlersIdle.notify_all();
}

CQFXMidi::Listener::Listener(CQFXMidi& owner) : m_owner(owner)
{
    std::lock_guard lock(owner.m_delegateMutex);
    m_delegate = owner.m_delegate;
    if (m_delegate == nullptr) return;
    ++owner.m_delegateCalls;
    ++t_reporting;
}

CQFXMidi::Listener::~Listener()
{
    if (m_delegate == nullptr) return;
    --t_reporting;
    std::lock_guard lock(m_owner.m_delegateMutex);
    --m_owner.m_delegateCalls;
    m_owner.m_delegateIdle.notify_all();
}

void CQFXMidi::setDelegate(CQFXMidiDelegate* delegate)
{
    std::unique_lock lock(m_delegateMutex);
    m_delegate = delegate;
    if (t_reporting == 0) m_delegateIdle.wait(lock, [this] { return m_delegateCalls == 0; });
}

void CQFXMidi::setAcceptDevice(std::vector<AcceptedDeviceModel> arrayAcceptDevice, std::int32_t timeOfRetry)
{
    std::lock_guard lock(m_mutex);
    m_arrayAcceptDevice = std::move(arrayAcceptDevice);
    m_timeOfRetry = timeOfRetry;
}

CQFXMidiDelegate* CQFXMidi::delegate() const
{
    std::lock_guard lock(m_delegateMutex);
    return m_delegate;
}

CQFXMidi::Op CQFXMidi::beginOperation()
{
    auto op = std::make_shared<Operation>();
    adoptOperation(op);
    return op;
}

void CQFXMidi::adoptOperation(const Op& op)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_current && m_current != op) {
            m_current->live = false;
            m_current->dropped = true;
        }
        m_current = op;
    }
    // A dump dropped for this one may have left patches held back from the disk's queue.
    m_device.flushPatchFiles();
}

void CQFXMidi::endOperation(const Op& op)
{
    op->live = false;
}

// ---- connection -------------------------------------------------------------------------------------

void CQFXMidi::connection()
{
    m_deviceID = 0;
    // Taken over as the running operation only once its request is out: while an earlier request still
    // awaits its identity reply, that one carries on and reports, and this call changes nothing.
    const auto op = std::make_shared<Operation>();
    const Bytes request(OKV_MIDI_MSG_IDENTIFY_REQUEST.begin(), OKV_MIDI_MSG_IDENTIFY_REQUEST.end());
    const bool sent = m_device.registerIndentityReplyMessage(
        step(op, [this, op](bool, const auto& identity, const auto& version) {
            onConnectIdentity(op, Bytes(identity.begin(), identity.end()), Bytes(version.begin(), version.end()));
        }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        RIG_LOG("identity request already pending; connection not started");
        return;
    }
    adoptOperation(op);
}

void CQFXMidi::onConnectIdentity(const Op& op, const Bytes& identity, const Bytes& version)
{
    if (identity.size() < 4 || identity[1] < 0x6E) {
        endOperation(op);
        if (const Listener listener{*this}) listener->enterPCAsyncModeCallbackWithState(-4);
        return;
    }
    const auto full = static_cast<std::int32_t>((std::uint32_t(identity[0]) << 24) |
                                                (std::uint32_t(identity[1]) << 16) |
                                                (std::uint32_t(identity[2]) << 8) | std::uint32_t(identity[3]));
    m_deviceIdFull = full;
    bool accepted = false;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& model : m_arrayAcceptDevice) {
            if (model.modelIdInt != full) continue;
            m_deviceVersion.fill(0);
            for (std::size_t i = 0; i < m_deviceVersion.size() && i < version.size(); ++i)
                m_deviceVersion[i] = version[i];
            accepted = true;
            break;
        }
    }
    if (accepted) {
        m_deviceID = identity[1];
        subEnterPCModeWithCurrentRetryTime(op, 0);
        return;
    }
    endOperation(op);
    if (const Listener listener{*this}) listener->enterPCAsyncModeCallbackWithState(-4);
}

void CQFXMidi::subEnterPCModeWithCurrentRetryTime(const Op& op, std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_ENTER_PC_ASYNC_MODE, dev());
    const bool sent = m_device.registerRespondenceMessage(
        step(op, [this, op, retry](bool, auto code) {
            if (code == 0) {
                if (const Listener listener{*this}) listener->enterPCAsyncModeCallbackWithState(1);
                requestSupportQFXInformation(op);
            } else if (canRetry(retry)) {
                subEnterPCModeWithCurrentRetryTime(op, retry + 1);
            } else {
                endOperation(op);
                if (const Listener listener{*this}) listener->enterPCAsyncModeCallbackWithState(-1);
            }
        }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        endOperation(op);
        if (const Listener listener{*this}) listener->enterPCAsyncModeCallbackWithState(-3);
    }
}

void CQFXMidi::requestSupportQFXInformation(const Op& op)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_SUPPORT_QFX_INFORMATION_REQUEST, dev());
    const bool sent = m_device.registerSupportQFXInformationMessage(
        step(op,
             [this, op](bool, const auto& gen, const auto& region, const auto& regionLv, const auto& units) {
                 if (const Listener listener{*this})
                     listener->supportQFXInformationCallbackWithState(1, Bytes(gen.begin(), gen.end()),
                                                                        Bytes(region.begin(), region.end()),
                                                                        Bytes(regionLv.begin(), regionLv.end()),
                                                                        Bytes{static_cast<std::uint8_t>(units)});
                 requestSupportPatchInformation(op);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        endOperation(op);
        if (const Listener listener{*this}) listener->supportQFXInformationCallbackWithState(-1, {}, {}, {}, {});
    }
}

void CQFXMidi::requestSupportPatchInformation(const Op& op)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_SUPPORT_PATCH_INFORMATION_REQUEST, dev());
    const bool sent = m_device.registerSupportPatchInformationMessage(
        step(op,
             [this, op](bool, const auto& gen, const auto& region, const auto& units) {
                 if (const Listener listener{*this})
                     listener->supportPatchInformationCallbackWithState(1, Bytes(gen.begin(), gen.end()),
                                                                          Bytes(region.begin(), region.end()),
                                                                          Bytes{static_cast<std::uint8_t>(units)});
                 requestAdvancedPatchInformation(op);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        endOperation(op);
        if (const Listener listener{*this}) listener->supportPatchInformationCallbackWithState(-1, {}, {}, {});
    }
}

void CQFXMidi::requestAdvancedPatchInformation(const Op& op)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_ADVANCED_PATCH_DATA_INFORMATION_REQUEST, dev());
    const bool sent = m_device.registerAdvencedPatchDataInformationMessage(
        step(op,
             [this, op](bool, const AdvencedPatchInformation& information) {
                 if (const Listener listener{*this}) listener->advencedPatchDataInformationCallbackWithState(1, information);
                 getInforReadWithRetryTime(op, 0);
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        endOperation(op);
        if (const Listener listener{*this}) listener->advencedPatchDataInformationCallbackWithState(-1, std::nullopt);
    }
}

void CQFXMidi::getInforReadWithRetryTime(const Op& op, std::int32_t retry)
{
    const auto giveUp = [this, op](std::int32_t state, std::int64_t code) {
        endOperation(op);
        if (const Listener listener{*this}) listener->infoReadCallbackWithState(state, 0, 0, 0, {}, code);
    };
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_INFO_READ, dev());
    const bool sent = m_device.registerInforReadMessage(
        step(op,
             [this, op, retry, giveUp](bool, auto numOfInfo, auto numOfFiles, auto numOfSectors,
                                       const auto& version) {
                 const Bytes versionBytes(version.begin(), version.end());
                 const Bytes acknowledgement = ack();
                 const bool acked = m_device.registerFFSRespondenceMessage(
                     step(op,
                          [this, op, retry, giveUp, numOfInfo, numOfFiles, numOfSectors,
                           versionBytes](bool, auto code) {
                              const auto signedCode = static_cast<std::int32_t>(code);
                              if (signedCode == 0) {
                                  endOperation(op);
                                  if (const Listener listener{*this})
                                      listener->infoReadCallbackWithState(
                                          1, static_cast<std::int32_t>(numOfInfo), static_cast<std::int32_t>(numOfFiles),
                                          static_cast<std::int32_t>(numOfSectors), versionBytes, -1);
                              } else if (canRetry(retry)) {
                                  getInforReadWithRetryTime(op, retry + 1);
                              } else {
                                  giveUp(2, signedCode);
                              }
                          }),
                     acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
                 if (!acked) {
                     if (canRetry(retry)) getInforReadWithRetryTime(op, retry + 1);
                     else giveUp(-3, -1);
                 }
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        if (canRetry(retry)) getInforReadWithRetryTime(op, retry + 1);
        else giveUp(0, -1);
    }
}

Bytes CQFXMidi::ack() const
{
    return QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_FFS_ACK, dev());
}

// ---- eject ------------------------------------------------------------------------------------------

void CQFXMidi::eject()
{
    const Op op = beginOperation();
    const Bytes request(OKV_MIDI_MSG_IDENTIFY_REQUEST.begin(), OKV_MIDI_MSG_IDENTIFY_REQUEST.end());
    const bool sent = m_device.registerIndentityReplyMessage(
        step(op, [this, op](bool, const auto&, const auto&) { subTerminatePCModeWithCurrentRetryTime(op, 0); }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        endOperation(op);
        if (const Listener listener{*this}) listener->ejectCallback(-2, -1);
    }
}

void CQFXMidi::subTerminatePCModeWithCurrentRetryTime(const Op& op, std::int32_t retry)
{
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_TERMINATE_PC_ASYNC_MODE, dev());
    const bool sent = m_device.registerRespondenceMessage(
        step(op,
             [this, op, retry](bool, auto code) {
                 if (code == 0) {
                     endOperation(op);
                     m_deviceID = 0;
                     m_device.clearCurrentDeviceInMidiDevice();
                     if (const Listener listener{*this}) listener->ejectCallback(1, 0);
                 } else if (canRetry(retry)) {
                     subTerminatePCModeWithCurrentRetryTime(op, retry + 1);
                 } else {
                     endOperation(op);
                     if (const Listener listener{*this}) listener->ejectCallback(-4, 0);
                 }
             }),
        request.data(), static_cast<std::int64_t>(request.size()));
    if (!sent) {
        endOperation(op);
        if (const Listener listener{*this}) listener->ejectCallback(-3, -1);
    }
}

void CQFXMidi::forceEject()
{
    // The chain under way ends first, as the watchdog's clear ends it: left running, its pending reply
    // would take the unit's answer to the leave request, a dump would go on asking for patches, and the
    // unmute would follow the leave request, or never go at all once the program ends before the
    // sequencer's own clear.
    clearWaitingBlock();
    const Bytes request = QFXMidiMessages::withDeviceID(OKV_MIDI_MSG_TERMINATE_PC_ASYNC_MODE, dev());
    m_device.sendSysExMessage(request.data(), static_cast<std::int64_t>(request.size()));
}

// ---- transport pass-throughs ------------------------------------------------------------------------

bool CQFXMidi::checkCurrentConnect()
{
    if (m_device.getCurrentDevice() == CMidiDevice::kNoDevice) return false;
    return m_device.checkConnectCurrentDevice();
}

bool CQFXMidi::rescanMidiDevice()
{
    return m_device.scanDevicesAndConnect();
}

void CQFXMidi::restartScan()
{
    m_device.restartScan();
}

bool CQFXMidi::connectNewDevicePlugin()
{
    return m_device.connectNewDeviceDetected();
}

void CQFXMidi::disconnectCurrentDevice()
{
    m_deviceID = 0;
    m_device.disconnectCurrentDeviceInMidiDevice();
}

void CQFXMidi::closeStrayFile(const Bytes& handle)
{
    RIG_LOG("the unit opened a file no one awaits; closed");
    const Bytes close = QFXMidiMessages::close(dev(), handle);
    m_device.sendUnawaitedFileRequest(close.data(), static_cast<std::int64_t>(close.size()));
}

void CQFXMidi::clearWaitingBlock()
{
    {
        std::unique_lock lock(m_mutex);
        if (m_current) {
            m_current->live = false;
            m_current->dropped = true;
        }
        // A step already past its test may still register its next request (or mark audio disabled): let
        // it finish, then clear what it left.
        if (t_handling == 0) m_handlersIdle.wait(lock, [this] { return m_handlersRunning == 0; });
    }
    m_device.clearBufferBlockWaiting();
    // The operation that disabled audio or opened a file for writing was cut short (a watchdog, a new
    // device): unmute, and leave no partial effect file behind, on the way out.
    if (m_audioDisabled.exchange(false)) sendEnableAudioWithoutWaiting();
    std::shared_ptr<WriteJob> write;
    {
        std::lock_guard lock(m_mutex);
        write = std::exchange(m_write, nullptr);
    }
    if (write) sendAbandonedWriteCleanup(*write);
    // A read cut off with its file open leaves it open on the unit otherwise.
    std::shared_ptr<ReadJob> read;
    {
        std::lock_guard lock(m_mutex);
        read = std::exchange(m_read, nullptr);
    }
    if (read && !read->handle.empty()) {
        const Bytes close = QFXMidiMessages::close(dev(), read->handle);
        m_device.sendUnawaitedFileRequest(close.data(), static_cast<std::int64_t>(close.size()));
    }
}

std::optional<std::string> CQFXMidi::getDeviceName()
{
    if (m_device.getCurrentDevice() == CMidiDevice::kNoDevice) return std::nullopt;
    return m_device.getDeviceName();
}

std::optional<std::array<std::uint8_t, 4>> CQFXMidi::getDeviceVersion() const
{
    if (m_deviceID.load() == 0) return std::nullopt;
    std::lock_guard lock(m_mutex);
    return m_deviceVersion;
}

std::optional<std::string> CQFXMidi::createFolderInBundleWithType(int type)
{
    return m_device.createFolderInBundleWithType(type);
}

void CQFXMidi::getANewDevicePlugIn()
{
    if (const Listener listener{*this}) listener->getNewDevicePlugin();
}

void CQFXMidi::notifyRemoveCurrentConnectedDevice()
{
    if (const Listener listener{*this}) listener->notifyRemoveConnectedDevice();
}

void CQFXMidi::notifyPatchDataChange(const PatchObject& patch)
{
    if (const Listener listener{*this}) listener->notifyPatchDataChangeFromDevice(patch);
}
