#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

// The FIFO behind the sequencer's waiting device operations and the coordinator's waiting user actions.
// It has no lock: each owner touches its queue from one serial queue at a time.
template <class T>
class Stdqueue {
public:
    void enqueue(T object) { storage.push_back(std::move(object)); }

    // The front object, removed; nothing (and no change) when the queue is empty.
    std::optional<T> dequeue()
    {
        if (storage.empty()) return std::nullopt;
        std::optional<T> object(std::move(storage.front()));
        storage.pop_front();
        return object;
    }

    // Peeks without removing; null when the queue is empty.
    T* front() { return storage.empty() ? nullptr : &storage.front(); }
    T* back() { return storage.empty() ? nullptr : &storage.back(); }

    bool empty() const { return storage.empty(); }
    std::uint64_t size() const { return storage.size(); }
    std::int32_t count() const { return static_cast<std::int32_t>(storage.size()); }

private:
    std::deque<T> storage;
};
