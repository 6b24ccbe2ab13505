#include <algorithm>

#include "common/Log.h"
#include "device/sequencer/ParserDataController.h"
#include "library/ApplicationLifecycle.h"
#include "library/CommonUtils.h"
#include "platform/power/PowerEvents.h"

// ---- the device session's results ----

void CommonUtils::notifyDisconnectToDevice()
{
    post([this] {
        reset();
        m_isEjectedDevice = true;
        // The reset dropped a closing eject still queued, and there is no device left to let go.
        if (m_isQuitting) {
            forceCloseOnState();
            return;
        }
        tell([](CommonUtilsDelegate& d) {
            d.didFinishSynchronizationActionDevice(std::nullopt);
            d.didAllowEjectAction();
            d.deviceDisonnect();
        });
    });
}

void CommonUtils::ejectDeviceWithState(std::int32_t state, std::int32_t /*subState*/)
{
    post([this, state] {
        if (state == 0 && m_isConnectDevice && !m_isSleep && !m_isEjectDeviceForClosing) {
            // The unit refused the eject and the sequencer keeps it connected: so does the queue, whose
            // requests behind the eject go on. Dropping them would leave a unit nothing can reach.
            tell([](CommonUtilsDelegate& d) { d.ejectDeviceWithState(0); });
            if (isRunning(RequestKind::Eject)) finishRequest(RequestKind::Eject);
            return;
        }
        reset();
        m_isEjectedDevice = true;
        if (m_isSleep) {
            m_isSleep = false;
            tell([](CommonUtilsDelegate& d) { d.systemDidSleep(); });
            if (m_sleepLetGo.letGo()) {
                // The sleep's eject: the unit went as the sleep lets it go, and the machine may sleep. An
                // eject the unit refused or never answered leaves it to a forced one and its hold.
                m_sleepTimer.cancel();
                if (state != 1) m_parser.forceEject();
                readyToSleepAfter(state == 1 ? platform::Duration::zero() : platform::Duration(kSleepHold),
                                  m_sleepLetGo.wakes());
                if (m_isQuitting) {
                    forceCloseOnState();
                    return;
                }
                tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
                return;
            }
        }
        if (m_isEjectDeviceForClosing) {
            forceCloseOnState();
            return;
        }
        if (state == -3 || state == -1) {
            tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
        } else {
            tell([state](CommonUtilsDelegate& d) { d.ejectDeviceWithState(state); });
        }
    });
}

void CommonUtils::getMemoryStatusWithState(std::int32_t state, float status)
{
    post([this, state, status] {
        // Only the connect read and the effect edits ask for it; anything else is a result of a request
        // that a reset has dropped.
        if (!m_isWorking || !m_running) return;
        const RequestKind kind = *m_running;
        if (kind != RequestKind::GetQFXList && kind != RequestKind::DeleteEffect && kind != RequestKind::AddEffect &&
            kind != RequestKind::UpdateEffect)
            return;
        if (state == 1) {
            tell([status](CommonUtilsDelegate& d) { d.didGetDeviceMemory(status); });
            if (kind == RequestKind::GetQFXList) {
                tell([name = m_deviceName](CommonUtilsDelegate& d) { d.didGetDeviceName(name); });
                compareModelVersion();
                if (m_isConnectDevice) {
                    m_dumpAskedIn = m_generation;
                    m_parser.getAllPatchDataDump();
                }
                resetTimer();
            } else {
                endEffectActionWithMemoryStatus();
            }
            return;
        }
        for (bool* flag : {&m_isGettingDataDevice, &m_isDeleteEffectDevice, &m_isAddEffectDevice, &m_isUpdateEffectDevice})
            *flag = false;
        if (state == 0 || state == -4) {
            reset();
            tell([](CommonUtilsDelegate& d) { d.deviceDisonnect(); });
            return;
        }
        // No answer in time (-1) or a device error (-3): the sequencer has already let the device go, so
        // staying connected here would keep a read half done and every later request unanswered.
        if (state == -1 || state == -3) {
            reset();
            tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
            return;
        }
        finishRequest(kind);
        tell([](CommonUtilsDelegate& d) { d.didGetDeviceMemory(-1.0F); });
    });
}

// ---- sleep and wake ----

void CommonUtils::setPowerEvents(platform::PowerEvents* power)
{
    m_power.store(power);
    systemNotifications();
}

void CommonUtils::systemNotifications()
{
    platform::PowerEvents* power = m_power.load();
    if (power == nullptr) return;
    const std::weak_ptr<bool> alive = m_alive;
    const auto guarded = [this, alive](void (CommonUtils::*note)()) {
        return [this, alive, note] {
            if (alive.lock()) (this->*note)();
        };
    };
    power->setHandlers({guarded(&CommonUtils::receiveSleepNote), guarded(&CommonUtils::receiveWakeNote),
                        guarded(&CommonUtils::powerOffNotification)});
}

// The notices come on the main queue, where the interface's pool saver asks for the pool's save; the
// machine is let sleep once it is written, as it may not wake again.
void CommonUtils::receiveSleepNote()
{
    saveLoadedPatchPool();
    post([this, wakes = m_wakes.load()] { sleepOnState(wakes); });
}

// A power-off's save is the closing one; the system may still call the power-off off, and then the run
// goes on as it was (a later failed save is told, and no later save writes a closing note).
void CommonUtils::powerOffNotification()
{
    const bool closing = m_closing.exchange(true);
    saveLoadedPatchPool();
    if (!closing) m_closing.store(false);
}

void CommonUtils::sleepOnState(std::uint64_t wakes)
{
    // A second notice of the same sleep (no wake between) leaves the first one's course as it goes: its
    // wait, or the forced eject's hold, which a release at once would cut short. The running request's own
    // watchdog stays armed under the wait: a delay longer than its time-out must not keep a silent unit.
    const SleepLetGo::State course = m_sleepLetGo.state();
    if ((course == SleepLetGo::State::LettingGo || course == SleepLetGo::State::Forced) && m_sleepLetGo.wakes() == wakes)
        return;
    // The unit goes as an Eject lets it go, its own changes kept on it, when what it is doing is a write
    // that may have covered such a change (or nothing, or that eject). Anything else in hand (a read, an
    // effect edit) owes the unit nothing the list holds and is cut as it always was; so is the unit a quit
    // under way lets go its own way.
    const std::optional<RequestKind> inHand = m_running ? m_running : m_handedOver;
    const bool writeOrNothing = !inHand || *inHand == RequestKind::Eject || *inHand == RequestKind::WriteOnePatch ||
                                *inHand == RequestKind::WriteGroupPatchs || *inHand == RequestKind::WriteAllPatch;
    if (m_isConnectDevice && !m_isQuitting && writeOrNothing) {
        beginSleepLetGo(wakes);
        return;
    }
    forceUnitOffForSleep(wakes);
}

void CommonUtils::beginSleepLetGo(std::uint64_t wakes)
{
    m_sleepLetGo.begin(wakes, true);
    m_isSleep = true;
    tell([](CommonUtilsDelegate& d) { d.sleepWillLetDeviceGo(); });
    // Only what the unit must hold when it goes is still sent: the patch writes asked before the sleep
    // (a Disconnect's eject among them stays where it is and is the sleep's). Whatever else waits goes, as
    // the forced eject always dropped it.
    Stdqueue<Request> kept;
    bool ejectQueued = false;
    while (std::optional<Request> request = m_queueRequest.dequeue()) {
        const RequestKind kind = request->kind;
        if (kind == RequestKind::Eject) ejectQueued = true;
        if (kind == RequestKind::Eject || kind == RequestKind::WriteOnePatch || kind == RequestKind::WriteGroupPatchs ||
            kind == RequestKind::WriteAllPatch)
            kept.enqueue(std::move(*request));
    }
    m_queueRequest = std::move(kept);
    // The eject is looked at before it goes (`lookBeforeEject`): the changes the unit made within the quiet
    // time are merged and written back ahead of it.
    if (!ejectQueued) m_queueRequest.enqueue(Request{RequestKind::Eject, [this] { m_parser.ejectDevice(); }, 0.0F});
    // The wait fits the system's delay with the forced eject's own hold after it.
    const platform::PowerEvents* power = m_power.load();
    const platform::Duration delay = power ? power->sleepDelay() : platform::PowerEvents::kUsualSleepDelay;
    const platform::Duration wait = std::max<platform::Duration>(delay - kSleepHold, platform::Duration::zero());
    m_sleepTimer.arm(wait, [this, alive = std::weak_ptr<bool>(m_alive), wakes] {
        if (alive.lock()) post([this, wakes] { sleepTimeRanOut(wakes); });
    });
    pump();
}

void CommonUtils::sleepTimeRanOut(std::uint64_t wakes)
{
    if (!m_sleepLetGo.timeRanOut(wakes)) return;
    RIG_LOG("the unit's work outlasted the sleep's delay: it is let go at once");
    forceUnitOffForSleep(wakes);
}

void CommonUtils::sleepUnitGone()
{
    if (!m_sleepLetGo.isLettingGo() || m_isConnectDevice) return;
    RIG_LOG("the unit went while the sleep waited to let it go");
    m_sleepLetGo.forced(m_sleepLetGo.wakes());
    m_sleepTimer.cancel();
    readyToSleepAfter(kSleepHold, m_sleepLetGo.wakes());
}

void CommonUtils::forceUnitOffForSleep(std::uint64_t wakes)
{
    const bool connected = m_isConnectDevice;
    if (connected) m_sleepLetGo.forced(wakes);
    else m_sleepLetGo.begin(wakes, false);
    // Sleep waits until the forced eject below has let the device go.
    readyToSleepAfter(connected ? platform::Duration(kSleepHold) : platform::Duration::zero(), wakes);
    if (connected) {
        tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
        m_isSleep = true;
    }
    forceEject();
    // The forced eject dropped the closing one a quit waited for: the unit is let go, and so the quit ends.
    if (connected && m_isQuitting) forceCloseOnState();
}

void CommonUtils::readyToSleepAfter(platform::Duration hold, std::uint64_t wakes)
{
    m_sleepTimer.arm(hold, [this, alive = std::weak_ptr<bool>(m_alive), wakes] {
        if (!alive.lock()) return;
        // The pool's save asked at the sleep note waits for the copies under way and is written on the
        // pool's queue: the machine sleeps once both are behind it.
        m_dispatch.main().async([this, alive, wakes] {
            if (!alive.lock()) return;
            afterPoolWork([this, alive, wakes] {
                m_poolQueue->async([this, alive, wakes] {
                    if (!alive.lock()) return;
                    // A save that outlasted the system's delay ends after the wake: the sleep is over, and
                    // the delay held now is the next sleep's.
                    if (m_wakes.load() != wakes) return;
                    if (platform::PowerEvents* power = m_power.load()) power->readyToSleep();
                });
            });
        });
    });
}

void CommonUtils::receiveWakeNote()
{
    ++m_wakes;
    post([this] {
        // A wake before the sleep's wait ended: the unit is let go as the sleep would have, since the
        // machine slept (or the system called the sleep off) with the connection in whatever state.
        if (m_sleepLetGo.isLettingGo()) {
            m_sleepTimer.cancel();
            tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
            forceEject();
            if (m_isQuitting) forceCloseOnState();
        }
        m_sleepLetGo.woke();
        // A forced eject brings no eject result, so the sleep mark ends here; else a later ordinary eject
        // would be reported as sleep.
        m_isSleep = false;
        reset();
    });
}

// ---- quitting ----

void CommonUtils::noteQuitAsked(const std::vector<std::shared_ptr<DirectoryObject>>& pool, bool changed,
                                PoolNote::Asker asker)
{
    m_closing.store(true);
    if (isLoadedPatchPool() && (changed || m_poolFromKept.load())) m_poolNote.write(asker, closingPoolText(pool));
}

void CommonUtils::noteQuitAgain(const std::vector<std::shared_ptr<DirectoryObject>>& pool, bool changed)
{
    if (!isLoadedPatchPool() || !(changed || m_poolFromKept.load())) return;
    // A note that stands is kept true whoever asked for it; once the program closes, one is written.
    if (!m_poolNote.writeAgain(closingPoolText(pool)) && m_closing.load())
        m_poolNote.write(PoolNote::Asker::Quit, closingPoolText(pool));
}

void CommonUtils::closeApp()
{
    m_closing.store(true);
    post([this] { closeOnState(); });
}

void CommonUtils::closeAppWithin(platform::Duration limit)
{
    m_closing.store(true);
    post([this, limit] {
        const bool armed = m_quitLimit.has_value();
        m_quitLimit = m_quitLimit ? std::min(*m_quitLimit, limit) : limit;
        if (!m_isQuitting) {
            closeOnState();
            return;
        }
        // A quit already under way keeps its closing eject; only its end comes no later than the limit.
        if (!armed) m_quitTimer.cancel();
        armQuitWatchdog();
    });
}

void CommonUtils::closeOnState()
{
    const bool connected = m_isConnectDevice;
    const bool busy = m_isWorking || m_isGettingDataDevice || m_isFavouriteEffectDevice || m_isEjectedDevice ||
                      m_isAddEffectDevice || m_isDeleteEffectDevice || m_isUpdateEffectDevice ||
                      m_isWriteOnePatchToDevice || m_isWriteGroupPatchsToDevice || m_isWriteAllPatchToDevice;
    if (!busy) reset();
    m_isConnectDevice = connected;
    publish();
    m_isQuitting = true;
    // A quit lets the running work end but starts no change of the unit: the effect updates the read
    // queued behind itself, and a known list's write-back with the read again behind it, which no one
    // asked for, go; the next connection finds the unit as it was left.
    Stdqueue<Request> kept;
    while (std::optional<Request> request = m_queueRequest.dequeue())
        if (request->kind != RequestKind::UpdateEffect && request->kind != RequestKind::RepairEffectList &&
            request->kind != RequestKind::GetQFXList)
            kept.enqueue(std::move(*request));
    m_queueRequest = std::move(kept);
    if (!connected) {
        forceCloseOnState();
        return;
    }
    ejectDeviceForClosing();
    // An action or eject that never ends must not keep the program; each request handed over from here
    // on arms it again.
    armQuitWatchdog();
}

void CommonUtils::armQuitWatchdog()
{
    // A bounded end is timed from when it was asked, once: a session's grace does not grow with the work.
    if (m_quitLimit && m_quitTimer.isArmed()) return;
    const platform::Duration delay =
        m_quitLimit ? *m_quitLimit
        : m_running ? std::max<platform::Duration>(kQuitWatchdog, m_runningLimit)
                    : platform::Duration(kQuitWatchdog);
    m_quitTimer.arm(delay, [this, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.lock()) return;
        post([this] {
            if (!m_isQuitting) return;
            RIG_LOG("the closing eject never ended: quitting anyway");
            forceCloseOnState();
        });
    });
}

void CommonUtils::forceCloseApp()
{
    m_closing.store(true);
    post([this] { forceCloseOnState(); });
}

void CommonUtils::forceCloseOnState()
{
    m_quitTimer.cancel();
    m_quitLimit.reset();
    m_isQuitting = false;
    m_isEjectDeviceForClosing = false;
    m_dispatch.main().async([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.lock()) return;
        if (ApplicationLifecycle* lifecycle = m_lifecycle.load()) {
            lifecycle->clearAllDialog();
            lifecycle->terminate();
        }
    });
}
