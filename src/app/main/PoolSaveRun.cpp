#include "app/main/PoolSaveRun.h"

#include <QCoreApplication>

#include <atomic>
#include <utility>

#include "app/main/LiveWait.h"
#include "app/shell/AppDelegate.h"
#include "common/HandOff.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"

namespace {

PoolSaveRun::Tree copyOf(const PoolSaveRun::Tree& pool)
{
    PoolSaveRun::Tree copy;
    copy.reserve(pool.size());
    for (const auto& node : pool)
        if (node) copy.push_back(node->copy());
    return copy;
}

}  // namespace

PoolSaveRun::PoolSaveRun(CommonUtils& utils, AppDelegate& app) : utils_(utils), app_(app) {}

PoolSaveRun::~PoolSaveRun() = default;

PoolSaveRun::State PoolSaveRun::state() const
{
    if (writing_ > 0) return State::Writing;
    return waiting_ > 0 ? State::Waiting : State::Idle;
}

void PoolSaveRun::saveLater(const Tree& pool)
{
    // The end's save writes the pool as it stands and the program ends behind it: a save asked while it
    // waits (a sleep's, a power-off's, in the window's loop) would be written after the end and waited
    // for by no one.
    if (ending_) return;
    // Asked by the end (a power-off), the save is the closing one, and the quit is kept before anything
    // waits.
    const bool closing = utils_.isClosing();
    if (closing) utils_.noteQuitAsked(pool, app_.isPatchPoolChanged(), PoolNote::Asker::PowerOff);
    // The copies under way land here, as the caller returns: it may remove the unit's folder they are
    // made from next.
    write(pool, closing, nullptr);
}

void PoolSaveRun::saveAfterCopies(std::function<std::optional<Tree>()> shown)
{
    if (ending_) return;
    // A power-off's save is the closing one whenever it is written; the quit is kept before it waits.
    const bool closing = utils_.isClosing();
    if (closing)
        if (const auto pool = shown()) utils_.noteQuitAsked(*pool, app_.isPatchPoolChanged(), PoolNote::Asker::PowerOff);
    ++waiting_;
    if (closing) ++closingWaits_;
    const std::uint64_t begunAtAsk = wholeWritesBegun_;
    // The pool as it shows once the copies have landed: a copy that failed has left it.
    utils_.afterPoolWork([this, alive = std::weak_ptr<bool>(alive_), shown = std::move(shown), closing, begunAtAsk] {
        if (!alive.lock()) return;
        --waiting_;
        if (closing) --closingWaits_;
        // A save begun meanwhile (the unit let go at a sleep) landed the copies first and holds the pool
        // as it shows, unless it changed since: a second writing would only hold the sleep longer, and
        // tell a failure twice. A closing save is written still: it is the one that ends the quit's note.
        const bool written = wholeWritesBegun_ != begunAtAsk && app_.patchPoolChanges() == lastWholeChanges_;
        if (!written || closing)
            if (const auto pool = shown()) return write(*pool, closing, nullptr);
        runIdleWaits();
    });
}

std::optional<std::string> PoolSaveRun::saveNow(const Tree& pool)
{
    ending_ = true;
    if (!LiveWait::turnsTheLoop()) {
        // Off the main thread nothing turns the loop the copies land on: they are landed here.
        if (utils_.isClosing()) utils_.noteQuitAsked(pool, app_.isPatchPoolChanged());
        utils_.settlePoolWork();
        std::atomic<bool> changed{app_.isPatchPoolChanged()};
        auto failure = utils_.savePatchPoolToLocal(pool, changed);
        app_.setIsPatchPoolChanged(changed.load());
        return failure;
    }
    // The end noted the quit just before (the note is rewritten as the writing begins, once the copies
    // under way have landed).
    const bool closing = utils_.isClosing();
    // What a save in flight writes needs no second writing; the copies under way land in the pool first.
    LiveWait::run([this](std::function<void()> report) { whenIdle(std::move(report)); });
    LiveWait::run([this](std::function<void()> report) { utils_.afterPoolWork(std::move(report)); });
    std::optional<std::string> failure;
    LiveWait::run([&](std::function<void()> report) {
        write(pool, closing, [&failure, report = std::move(report)](std::optional<std::string> cause) {
            failure = std::move(cause);
            report();
        });
    });
    return failure;
}

void PoolSaveRun::poolChanged(std::function<std::optional<Tree>()> shown)
{
    if (ending_ || changeNoteAsked_ || !noteStands()) return;
    changeNoteAsked_ = true;
    // Handed over through Qt's queue, which the thread sanitizer cannot see into.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        handoff::carried([this, alive = std::weak_ptr<bool>(alive_), shown = std::move(shown)] {
            if (!alive.lock()) return;
            changeNoteAsked_ = false;
            // The end's save notes the pool itself as its writing begins, the user's input held.
            if (ending_ || !noteStands()) return;
            if (const auto pool = shown()) utils_.noteQuitAgain(*pool, app_.isPatchPoolChanged());
            if (landedNoteAsked_ || !utils_.isPoolWorkPending()) return;
            landedNoteAsked_ = true;
            utils_.afterPoolWork([this, alive, shown] {
                if (!alive.lock()) return;
                landedNoteAsked_ = false;
                if (ending_ || !noteStands()) return;
                if (const auto pool = shown()) utils_.noteQuitAgain(*pool, app_.isPatchPoolChanged());
            });
        }),
        Qt::QueuedConnection);
}

void PoolSaveRun::write(const Tree& pool, bool closing, std::function<void(std::optional<std::string>)> landed)
{
    const std::optional<bool> closingSave = utils_.beginPatchPoolSave(pool, app_.isPatchPoolChanged(), closing);
    if (!closingSave) {
        runIdleWaits();
        if (landed) landed(std::nullopt);
        return;
    }
    const std::uint64_t changes = app_.patchPoolChanges();
    // Begun within a landing, the save may not hold every copy: it stands for none asked before it.
    if (!utils_.isPoolWorkPending()) {
        ++wholeWritesBegun_;
        lastWholeChanges_ = changes;
    }
    ++writing_;
    utils_.writePatchPoolLater(copyOf(pool), *closingSave,
                               [this, alive = std::weak_ptr<bool>(alive_), changes, closing = *closingSave,
                                landed = std::move(landed)](std::optional<std::string> failure) mutable {
                                   // Every save is waited for by the end's, so the application is still there.
                                   // Handed over through Qt's queue, which the thread sanitizer cannot see into.
                                   QMetaObject::invokeMethod(
                                       QCoreApplication::instance(),
                                       handoff::carried([this, alive, changes, closing, landed = std::move(landed),
                                                         failure = std::move(failure)] {
                                           if (!alive.lock()) return;
                                           --writing_;
                                           land(failure, changes, closing);
                                           if (landed) landed(failure);
                                       }),
                                       Qt::QueuedConnection);
                               });
}

void PoolSaveRun::land(const std::optional<std::string>& failure, std::uint64_t changes, bool closing)
{
    // A change made while the library was written is not in it: the pool stays marked for the next save.
    const bool overtaken = app_.patchPoolChanges() != changes;
    if (!failure && !overtaken) app_.setIsPatchPoolChanged(false);
    // A save the pool changed under may have failed only for what the change moved away from it (a patch
    // moved into a group while its file was being linked): a new save of the pool as it shows is asked
    // at once, and says whether the pool can be saved. The end's own save says it once the end began.
    // A power-off's save is told as any other once the run goes on (the power-off called off): the end
    // says its own.
    if (failure && !overtaken) utils_.tellPatchPoolNotSaved(*failure, closing && (ending_ || utils_.isClosing()));
    if (failure && overtaken && !ending_ && !utils_.isClosing()) utils_.saveLoadedPatchPool();
    runIdleWaits();
}

bool PoolSaveRun::noteStands() const
{
    return utils_.isClosing() || closingWaits_ > 0 || utils_.isPoolNoted();
}

void PoolSaveRun::runIdleWaits()
{
    if (state() != State::Idle) return;
    auto waiting = std::move(onIdle_);
    onIdle_.clear();
    for (auto& then : waiting) then();
}

void PoolSaveRun::whenIdle(std::function<void()> then)
{
    if (state() == State::Idle) return then();
    onIdle_.push_back(std::move(then));
}
