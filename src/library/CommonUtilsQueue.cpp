#include <algorithm>
#include <chrono>
#include <cmath>

#include "library/CommonUtils.h"
#include "platform/bundle/Configuration.h"

int CommonUtils::requestTimeOut(RequestKind kind)
{
    switch (kind) {
        case RequestKind::UpdateEffect:
        case RequestKind::FavouriteEffect:
        case RequestKind::AddEffect:
        case RequestKind::SelectPatch:
        case RequestKind::WriteOnePatch:
        case RequestKind::WriteGroupPatchs:
            return 20;
        case RequestKind::WriteAllPatch:
            return 60;
        case RequestKind::GetQFXList:
        case RequestKind::Eject:
        case RequestKind::EjectForClosing:
        case RequestKind::DeleteEffect:
        case RequestKind::RepairEffectList:
            return 0;
    }
    return 0;
}

std::vector<bool*> CommonUtils::operationFlags(RequestKind kind)
{
    switch (kind) {
        case RequestKind::GetQFXList:
            return {&m_isGettingDataDevice, &m_isQFXList};
        case RequestKind::Eject:
        case RequestKind::RepairEffectList:
            return {};
        case RequestKind::EjectForClosing:
            return {&m_isEjectDeviceForClosing};
        case RequestKind::UpdateEffect:
            return {&m_isUpdateEffectDevice};
        case RequestKind::FavouriteEffect:
            return {&m_isFavouriteEffectDevice};
        case RequestKind::AddEffect:
            return {&m_isAddEffectDevice};
        case RequestKind::DeleteEffect:
            return {&m_isDeleteEffectDevice};
        case RequestKind::SelectPatch:
            return {&m_isSelectedPatchInDevice};
        case RequestKind::WriteOnePatch:
            return {&m_isWriteOnePatchToDevice};
        case RequestKind::WriteGroupPatchs:
            return {&m_isWriteGroupPatchsToDevice};
        case RequestKind::WriteAllPatch:
            return {&m_isWriteAllPatchToDevice};
    }
    return {};
}

void CommonUtils::addRequest(RequestKind kind, std::function<void()> start, float sequencerWatchdog, bool whileConnected)
{
    post([this, kind, start = std::move(start), sequencerWatchdog, whileConnected]() mutable {
        if (whileConnected && !m_isConnectDevice) return;
        m_queueRequest.enqueue(Request{kind, std::move(start), sequencerWatchdog});
        pump();
    });
}

void CommonUtils::checkAddOperation()
{
    post([this] { pump(); });
}

CommonUtilsDelegate::DeviceWork CommonUtils::deviceWorkOf(RequestKind kind)
{
    using Work = CommonUtilsDelegate::DeviceWork;
    switch (kind) {
        case RequestKind::GetQFXList:
            return Work::Reading;
        case RequestKind::Eject:
        case RequestKind::EjectForClosing:
            return Work::Ejecting;
        case RequestKind::UpdateEffect:
        case RequestKind::FavouriteEffect:
        case RequestKind::AddEffect:
        case RequestKind::DeleteEffect:
            return Work::ChangingEffects;
        case RequestKind::SelectPatch:
            return Work::SelectingPatch;
        case RequestKind::WriteOnePatch:
        case RequestKind::WriteGroupPatchs:
        case RequestKind::WriteAllPatch:
            return Work::WritingPatches;
        case RequestKind::RepairEffectList:
            return Work::Repairing;
    }
    return Work::Reading;
}

void CommonUtils::pump()
{
    if (m_isWorking) return;
    if (const Request* next = m_queueRequest.front();
        next != nullptr && (next->kind == RequestKind::Eject || next->kind == RequestKind::EjectForClosing) &&
        m_ejectLook != EjectLook::Answered) {
        lookBeforeEject();
        return;
    }
    std::optional<Request> request = m_queueRequest.dequeue();
    if (!request) {
        tell([](CommonUtilsDelegate& d) {
            d.didFinishSynchronizationActionDevice(std::nullopt);
            d.didAllowEjectAction();
            d.deviceWorkDidEnd();
        });
        if (m_isChangeEffectList) {
            m_isChangeEffectList = false;
            tell([](CommonUtilsDelegate& d) { d.changeEffectListSuccessfully(); });
        }
        return;
    }
    tell([work = deviceWorkOf(request->kind)](CommonUtilsDelegate& d) {
        d.didDoSynchronizationActionDevice(std::nullopt);
        d.didPreventEjectAction();
        d.deviceWorkDidStart(work);
    });
    // Busy from the hand-over on, so no second request can start before this one's flow has run.
    m_isWorking = true;
    ++m_handOver;
    // A write handed over may meet another change made on the unit: the eject behind it looks again.
    m_ejectLook = EjectLook::Unasked;
    m_handedOver = request->kind;
    post([this, generation = m_generation, request = std::move(*request)] {
        // A reset since the hand-over dropped this request with the others.
        if (generation != m_generation) return;
        m_handedOver.reset();
        switch (request.kind) {
            case RequestKind::GetQFXList:
                getQFXListFromDeviceFlow(request);
                break;
            case RequestKind::Eject:
                ejectingDeviceFlow(request);
                break;
            case RequestKind::EjectForClosing:
                ejectDeviceForClosingFlow(request);
                break;
            default:
                runFlow(request);
                break;
        }
    });
}

void CommonUtils::lookBeforeEject()
{
    // The change the unit reported during the work ahead reached the interface before this: its reports
    // and this ask travel the same main queue in order.
    m_ejectLook = EjectLook::Asking;
    m_isWorking = true;
    m_dispatch.main().async([this, alive = std::weak_ptr<bool>(m_alive), generation = m_generation] {
        if (!alive.lock()) return;
        if (CommonUtilsDelegate* receiver = delegate()) receiver->deviceWillBeLetGo();
        // Behind the requests the interface queued just now, on the same state queue.
        post([this, generation] { ejectLookAnswered(generation); });
    });
}

void CommonUtils::ejectLookAnswered(std::uint64_t generation)
{
    // A reset meanwhile dropped the eject with the rest.
    if (generation != m_generation || m_ejectLook != EjectLook::Asking) return;
    m_ejectLook = EjectLook::Answered;
    m_isWorking = false;
    std::optional<Request> eject = m_queueRequest.dequeue();
    // Behind the eject, the patches the list wrote back for the unit's own changes (the gestures that
    // write are refused while the unit goes): they go ahead of it. Anything else stays behind it and goes
    // with the unit, as it always did.
    Stdqueue<Request> ahead;
    Stdqueue<Request> behind;
    while (std::optional<Request> request = m_queueRequest.dequeue()) {
        const bool write = request->kind == RequestKind::WriteOnePatch || request->kind == RequestKind::WriteGroupPatchs ||
                           request->kind == RequestKind::WriteAllPatch;
        (write ? ahead : behind).enqueue(std::move(*request));
    }
    while (std::optional<Request> request = ahead.dequeue()) m_queueRequest.enqueue(std::move(*request));
    if (eject) m_queueRequest.enqueue(std::move(*eject));
    while (std::optional<Request> request = behind.dequeue()) m_queueRequest.enqueue(std::move(*request));
    pump();
}

void CommonUtils::runFlow(const Request& request)
{
    if (!m_isConnectDevice) {
        // Nothing to do: the next request may go.
        m_isWorking = false;
        pump();
        return;
    }
    m_running = request.kind;
    m_runningLimit = platform::Duration::zero();
    for (bool* flag : operationFlags(request.kind)) *flag = true;
    if (request.start) request.start();
    // A flow that ended at once (refused its input) leaves nothing to time.
    if (m_running != request.kind) return;
    if (const int seconds = requestTimeOut(request.kind); seconds > 0)
        armTimer(seconds, request.sequencerWatchdog);
    if (m_isQuitting) armQuitWatchdog();
}

bool CommonUtils::isRunning(RequestKind kind) const { return m_isWorking && m_running == kind; }

void CommonUtils::finishRequest(RequestKind kind)
{
    for (bool* flag : operationFlags(kind)) *flag = false;
    m_isWorking = false;
    m_running.reset();
    resetTimer();
    pump();
}

void CommonUtils::setupTimerWithTimeOut(int seconds, float sequencerWatchdog)
{
    post([this, seconds, sequencerWatchdog] { armTimer(seconds, sequencerWatchdog); });
}

void CommonUtils::armTimer(int seconds, float sequencerWatchdog)
{
    // The sequencer reports its own watchdog's expiry first; the coordinator only steps in when even
    // that report never comes.
    const double commandTimeOut = m_configuration.floating(platform::Configuration::kCommand_Time_Out);
    double limit = static_cast<double>(seconds);
    if (sequencerWatchdog > 0.0F && std::isfinite(sequencerWatchdog))
        limit = std::max(limit, static_cast<double>(sequencerWatchdog) + commandTimeOut);
    const auto delay = std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(limit));
    m_runningLimit = delay;
    m_rescanTimer.arm(delay, [this, alive = std::weak_ptr<bool>(m_alive), generation = m_generation,
                              handOver = m_handOver] {
        if (alive.lock()) post([this, generation, handOver] { actionTimeOut(generation, handOver); });
    });
}

void CommonUtils::resetTimer() { m_rescanTimer.cancel(); }

void CommonUtils::actionTimeOut(std::uint64_t generation, std::uint64_t handOver)
{
    // Only a timed request that is still the running one is given up on: an expiry already on its way
    // as its request's result came must not end the request handed over next.
    if (generation != m_generation || handOver != m_handOver) return;
    if (!(m_isAddEffectDevice || m_isFavouriteEffectDevice || m_isDeleteEffectDevice || m_isUpdateEffectDevice ||
          m_isWriteAllPatchToDevice || m_isWriteOnePatchToDevice || m_isWriteGroupPatchsToDevice ||
          m_isSelectedPatchInDevice))
        return;
    reset();
    resetTimer();
    tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
    forceEject();
}

void CommonUtils::resetQueue()
{
    post([this] { reset(); });
}

void CommonUtils::reset()
{
    ++m_generation;
    m_isWorking = false;
    m_ejectLook = EjectLook::Unasked;
    m_running.reset();
    m_handedOver.reset();
    m_queueRequest = Stdqueue<Request>();
    for (bool* flag : {&m_isConnectDevice, &m_isQFXList, &m_isGettingDataDevice, &m_isDeleteEffectDevice,
                       &m_isFavouriteEffectDevice, &m_isAddEffectDevice, &m_isUpdateEffectDevice, &m_isLoadedPatchList,
                       &m_isChangeEffectList, &m_isWriteOnePatchToDevice, &m_isWriteGroupPatchsToDevice,
                       &m_isWriteAllPatchToDevice, &m_isSelectedPatchInDevice})
        *flag = false;
    m_deviceID = 0;
    m_numberOfEffectInDevice = 0;
    m_deviceName.clear();
    m_qfxListPathDevice.clear();
    clearEffectLibrary();
    clearPatchTransfer();
    publish();
    tell([](CommonUtilsDelegate& d) {
        d.didFinishSynchronizationActionDevice(std::nullopt);
        d.didPreventEjectAction();
        d.deviceWorkDidEnd();
    });
    resetTimer();
    pump();
    // A unit gone while a sleep waits to let it go: the sleep's own ends have moved it on by the time this
    // runs, any other leaves the sleep nothing to wait for.
    if (m_sleepLetGo.isLettingGo()) post([this] { sleepUnitGone(); });
}
