#pragma once

#include <cstddef>

// The moves of the pool's patch files asked of the pool's queue and not landed yet. While one waits, the
// nodes it moved name their files where they were and the tree shows them where they go: a step on the
// pool's files lands it first. Main thread only.
class PoolMovesAsked {
public:
    enum class State { kNone, kWaiting };

    void asked() { ++waiting_; }
    void landed()
    {
        if (waiting_ > 0) --waiting_;
    }
    State state() const { return waiting_ == 0 ? State::kNone : State::kWaiting; }
    bool waiting() const { return state() == State::kWaiting; }

private:
    std::size_t waiting_ = 0;
};
