#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AppDelegate;
class CommonUtils;
class DirectoryObject;

// The pool's saves with the main thread free. A save lands the copies under way, takes its own copy of
// the tree and has it written on the pool's queue, behind every change asked before it, while the window
// goes on. When it lands the changed mark is cleared only if nothing was changed since its copy
// was taken; a failure a change overtook asks a new save at once, whose failure is told. The end's save lets the saves in flight land first, then writes what is still changed,
// the main loop turning (the user's input held) until the library is whole.
class PoolSaveRun final {
public:
    using Tree = std::vector<std::shared_ptr<DirectoryObject>>;
    // Idle: every save asked has landed. Waiting: a save waits for the copies under way. Writing: a save's
    // copy of the tree is being written.
    enum class State { Idle, Waiting, Writing };

    PoolSaveRun(CommonUtils& utils, AppDelegate& app);
    ~PoolSaveRun();
    PoolSaveRun(const PoolSaveRun&) = delete;
    PoolSaveRun& operator=(const PoolSaveRun&) = delete;

    // Asks for a save and returns once the copies under way have landed, before the pool is written; a
    // failure is told as every save's is.
    void saveLater(const Tree& pool);
    // The same, returning at once: the save waits for the copies under way and then writes the pool
    // `shown` answers then, none when the window has gone (a sleep's or a power-off's, whose caller removes
    // nothing the copies read).
    void saveAfterCopies(std::function<std::optional<Tree>()> shown);
    // The end's save: saves and returns once the library holds the pool, or with why it does not. No
    // later save is asked from here on.
    std::optional<std::string> saveNow(const Tree& pool);
    // A gesture changed the pool (`shown` answers it as it shows, none once the window has gone). While a
    // note for the next start stands (a quit's or a power-off's that waits, a failed save's) it is written
    // again on the main queue's next turn, once the gesture is through (an undo marks the change before it
    // runs): a run cut then comes back with the change. Several changes in one turn are noted once. A
    // change whose copies are under way (a drop) is noted again once they have landed: the note then names
    // the copies rather than the files they were made from, which the user may delete from then on.
    void poolChanged(std::function<std::optional<Tree>()> shown);
    State state() const;

private:
    // On the main thread once the copies have landed: writes the pool, `landed` called there after.
    void write(const Tree& pool, bool closing, std::function<void(std::optional<std::string>)> landed);
    void land(const std::optional<std::string>& failure, std::uint64_t changes, bool closing);
    // Whether a change is noted for the next start: a note stands, or a closing save waits to write one.
    bool noteStands() const;
    void runIdleWaits();
    void whenIdle(std::function<void()> then);

    CommonUtils& utils_;
    AppDelegate& app_;
    int waiting_ = 0;
    int writing_ = 0;
    // The saves whose writing began with no copy under way, and the pool's changes the last of them holds.
    std::uint64_t wholeWritesBegun_ = 0;
    std::uint64_t lastWholeChanges_ = 0;
    // The end's save has begun.
    bool ending_ = false;
    // Power-off saves waiting for copies: their note stands for the pool until their writing begins.
    int closingWaits_ = 0;
    // A note of a change is asked for the next turn.
    bool changeNoteAsked_ = false;
    // The note is written again once the copies under way have landed (asked once for all of them).
    bool landedNoteAsked_ = false;
    std::vector<std::function<void()>> onIdle_;
    // Landings and waits that outlive the run find it gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
