#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

// The moves of the pool's patch files asked of the pool's queue and not landed yet. While one waits, the
// nodes it moved name their files where they were and the tree shows them where they go: a step on the
// pool's files lands it first, and a step that only reads them later (the warnings the screen asks after
// every edit) is asked once the last has landed, so the main thread never waits for it. Main thread only.
class PoolMovesAsked {
public:
    enum class State { kNone, kWaiting };

    // `files`: the paths the moved patches name until the move lands.
    void asked(const std::vector<std::string>& files)
    {
        ++waiting_;
        files_.insert(files.begin(), files.end());
    }
    // The steps held for the moves, to run once the last has landed (none while one still waits).
    [[nodiscard]] std::vector<std::function<void()>> landed(const std::vector<std::string>& files)
    {
        if (waiting_ > 0) --waiting_;
        for (const std::string& file : files)
            if (const auto found = files_.find(file); found != files_.end()) files_.erase(found);
        std::vector<std::function<void()>> due;
        if (waiting_ == 0) due.swap(afterLanded_);
        return due;
    }
    // Runs `step` at once when no move waits, else holds it for the last one's landing.
    void whenLanded(std::function<void()> step)
    {
        if (waiting()) afterLanded_.push_back(std::move(step));
        else step();
    }
    State state() const { return waiting_ == 0 ? State::kNone : State::kWaiting; }
    bool waiting() const { return state() == State::kWaiting; }
    // A waiting move takes one of these files: a step reading it waits for the move.
    bool moves(const std::vector<std::string>& paths) const
    {
        if (!waiting()) return false;
        for (const std::string& path : paths)
            if (!path.empty() && files_.count(path) > 0) return true;
        return false;
    }

private:
    std::size_t waiting_ = 0;
    std::vector<std::function<void()>> afterLanded_;
    std::unordered_multiset<std::string> files_;
};
