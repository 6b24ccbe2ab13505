#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The copies into the pool's working copy asked and not landed yet, told apart by batch: what a step on
// the main thread would meet if it ran now, how far the copies have come, and which of them are no longer
// wanted. Paths are absolute. Safe from any thread.
class PoolCopyLedger {
public:
    // One copy: the file copied and the folder it goes into.
    using Copy = std::pair<std::string, std::string>;

    // Registers a batch of copies; answers its number.
    std::uint64_t open(const std::vector<Copy>& copies);
    // Whether the copy at `index` of the batch is still to be made here; once answered true it counts as
    // under way and can no longer be withdrawn or taken. False for a copy withdrawn or taken.
    bool begin(std::uint64_t batch, std::size_t index);
    // The copy at `index`, begun or taken, is made (or failed).
    void made(std::uint64_t batch, std::size_t index);
    // The batch has landed: its copies no longer stand in anyone's way.
    void close(std::uint64_t batch);

    // The copies of these files (a step's own nodes' copies) neither withdrawn nor landed yet, by batch
    // and place, in the order asked.
    std::vector<std::pair<std::uint64_t, std::size_t>> copiesOf(const std::vector<std::string>& files) const;
    // Takes the copy for the caller to make itself when it has not begun (true); otherwise waits until
    // the one under way is made (false).
    bool takeOrWait(std::uint64_t batch, std::size_t index);
    // Takes the copy for the caller to make when it has not begun; never waits.
    bool take(std::uint64_t batch, std::size_t index) { return begin(batch, index); }
    // The copy is made and handed back ahead of its batch: it no longer stands in anyone's way.
    void landed(std::uint64_t batch, std::size_t index);

    // Withdraws, for each of `copies`, the last one asked of that file into that folder that has not begun;
    // answers those withdrawn (batch and place), which stand in no step's way from now on, and, where
    // none of that file into that folder waited any more, the ones of it under way or made and not
    // landed yet, which the caller lands.
    struct Withdrawal {
        std::vector<std::pair<std::uint64_t, std::size_t>> withdrawn;
        // For each of `withdrawn`, its place among `copies`.
        std::vector<std::size_t> asked;
        std::vector<std::pair<std::uint64_t, std::size_t>> underWay;
    };
    // `onlyWhereKnown`: for a step that names the node whose copy it takes over. A file asked into a folder
    // more often than the step names it (dropped twice) leaves no way to tell which node's copy is which:
    // none of it is withdrawn nor landed here, and the step waits for those copies instead.
    Withdrawal withdraw(const std::vector<Copy>& copies, bool onlyWhereKnown = false);

    // The newest batch a step would meet among the copies neither withdrawn nor landed, if any. `files` are
    // patch files it reads, rewrites or removes: it meets a copy of that file, never the others going into
    // that file's folder (a copy takes a name no file holds, and a rewrite keeps its file's name).
    // `folders` are folders it moves, removes or puts a file into: it meets a copy into the folder, into a
    // folder inside it, or into one that holds it. `localRoot`, the pool's own folder, holds every group:
    // putting a file there meets only a copy into that folder itself, and a step on a group's folder meets
    // no copy into it.
    std::optional<std::uint64_t> lastMet(const std::vector<std::string>& files, const std::vector<std::string>& folders,
                                         const std::string& localRoot) const;

    // The copies made and asked since the ledger was last empty; both 0 when no batch is left. A batch
    // landed still counts while others go on, and a withdrawn copy leaves the count (asked again, it
    // counts again), so the count made never runs backwards while copies remain.
    std::pair<std::size_t, std::size_t> progress() const;

private:
    enum State : std::uint8_t { kWaiting, kBegun, kWithdrawn, kMade, kLanded };
    // The copies of one file (normalised) in a batch.
    struct FileCopies {
        // Where each stands among the batch's copies, for a step on that file.
        std::vector<std::size_t> at;
        // How many are neither withdrawn nor landed: a step on the file meets only these.
        std::size_t standing = 0;
    };
    struct Batch {
        // How many copies into each folder (normalised) are neither withdrawn nor landed: a step on a folder
        // meets only these.
        std::map<std::string, std::size_t> folders;
        // Where each copy stands among the batch's copies, by its file and folder, for the withdrawals.
        std::unordered_map<std::string, std::vector<std::size_t>> positions;
        std::unordered_map<std::string, FileCopies> ofFile;
        // Each copy's file and folder as `ofFile` and `folders` count them (their nodes stay where they are
        // however the maps grow or the batch moves): a batch of thousands keeps each path once.
        std::vector<std::pair<FileCopies*, std::size_t*>> keys;
        std::vector<State> states;
    };
    // The copy at `index` no longer stands in a step's way.
    static void stepAside(Batch& batch, std::size_t index);
    mutable std::mutex mutex_;
    // Told whenever a copy is made.
    std::condition_variable madeOne_;
    std::map<std::uint64_t, Batch> batches_;  // mutex_
    // The count since the ledger was last empty (mutex_).
    std::size_t runMade_ = 0;
    std::size_t runAsked_ = 0;
    std::uint64_t next_ = 1;                  // mutex_
};
