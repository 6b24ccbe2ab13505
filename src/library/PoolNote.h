#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace platform {
class FileManager;
}

// The note a run leaves for the next start to keep its pool by, should it be cut before a save lands: the
// pool as the window shows it, in order ("Temp/.closing-pool"). Whoever asks for it (a quit, a power-off,
// a save that failed while the run goes on) asks this one owner, which writes it, writes it again at every
// change of the pool while it stands, and takes it away only when a save that holds the pool it names has
// landed. Written from the main thread (asks, changes) and the pool's queue (saves): one at a time, each
// note counted, so that a save knows whether a later pool was noted after it was asked.
class PoolNote {
public:
    // Who the standing note was written for; None while no note stands. A quit's stays for the next start
    // whatever a save that is not the end's does.
    enum class Asker { None, FailedSave, PowerOff, Quit };
    // The closing save's mark on the note while it replaces the library, and the line it adds naming that
    // library.
    static constexpr const char* kTakenSuffix = ".taken";
    static constexpr const char* kWritesLine = "A ";

    PoolNote(platform::FileManager& files, std::string path);
    PoolNote(const PoolNote&) = delete;
    PoolNote& operator=(const PoolNote&) = delete;

    // Writes `text` for `asker`; the asker that stays is the later of the two in Asker's order.
    void write(Asker asker, const std::string& text);
    // The pool changed while a note stands: written again with `text`; false (nothing written) when none
    // stands.
    bool writeAgain(const std::string& text);
    // A save asked when `seen` notes were written failed with `text` its pool: noted for a failed save,
    // unless a later pool was noted since (that note stays as it is).
    void saveFailed(std::uint64_t seen, const std::string& text);
    // The closing save asked at `seen` wrote the library without some entries: its note, unless a later
    // one, names its pool (`text`) again.
    void writeIfCurrent(std::uint64_t seen, const std::string& text);
    // A save asked at `seen` landed: the note goes, unless a later pool was noted since or the note is a
    // quit's (`quitting`: the end's own save takes that one).
    void saveLanded(std::uint64_t seen, bool quitting);
    // The library holds the pool, nothing left to save: no note stands.
    void drop();
    // The closing save asked at `seen` begins replacing the library with the one of stamp `writes`: the
    // note is marked taken, naming it; false when no note stands or a later one was written.
    bool markTaken(const std::string& writes, std::uint64_t seen);
    // That save did not land: the note is as before, unless a later one was written.
    void putBack(std::uint64_t seen);
    // It landed: the taken note goes, and with it the note, unless a later one was written.
    void takenLanded(std::uint64_t seen);

    std::uint64_t written() const;
    Asker asker() const;
    bool stands() const { return asker() != Asker::None; }

private:
    void writeFile(const std::string& text);
    platform::FileManager& files_;
    const std::string path_;
    mutable std::mutex mutex_;
    std::uint64_t written_ = 0;
    Asker asker_ = Asker::None;
};
