#include "library/PoolCopyLedger.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string normal(const std::string& path)
{
    std::string text = fs::path(path).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

// `inner` is `outer` or lies in it.
std::string keyOf(const PoolCopyLedger::Copy& copy) { return copy.first + '\0' + copy.second; }

bool within(const std::string& inner, const std::string& outer)
{
    return inner.size() >= outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '/' || outer == "/");
}

}  // namespace

std::uint64_t PoolCopyLedger::open(const std::vector<Copy>& copies)
{
    Batch batch;
    batch.copies = copies;
    batch.states.assign(copies.size(), 0);
    for (std::size_t i = 0; i < copies.size(); ++i) {
        batch.files.insert(normal(copies[i].first));
        batch.folders.insert(normal(copies[i].second));
        batch.positions[keyOf(copies[i])].push_back(i);
    }
    std::lock_guard lock(mutex_);
    const std::uint64_t number = next_++;
    batches_.emplace(number, std::move(batch));
    return number;
}

bool PoolCopyLedger::begin(std::uint64_t batch, std::size_t index)
{
    std::lock_guard lock(mutex_);
    const auto found = batches_.find(batch);
    if (found == batches_.end() || index >= found->second.states.size()) return false;
    std::uint8_t& state = found->second.states[index];
    if (state == 2) return false;
    state = 1;
    return true;
}

void PoolCopyLedger::made(std::uint64_t batch)
{
    std::lock_guard lock(mutex_);
    if (const auto found = batches_.find(batch); found != batches_.end()) ++found->second.made;
}

void PoolCopyLedger::close(std::uint64_t batch)
{
    std::lock_guard lock(mutex_);
    batches_.erase(batch);
}

void PoolCopyLedger::withdraw(const std::vector<Copy>& copies)
{
    std::lock_guard lock(mutex_);
    for (const Copy& copy : copies) {
        // The newest asked first: an undo takes back the last addition of that file.
        const std::string key = keyOf(copy);
        bool done = false;
        for (auto batch = batches_.rbegin(); batch != batches_.rend() && !done; ++batch) {
            auto& each = batch->second;
            const auto found = each.positions.find(key);
            if (found == each.positions.end()) continue;
            for (auto at = found->second.rbegin(); at != found->second.rend(); ++at) {
                if (each.states[*at] != 0) continue;
                each.states[*at] = 2;
                ++each.made;
                done = true;
                break;
            }
        }
    }
}

bool PoolCopyLedger::touches(const std::vector<std::string>& paths, const std::string& localRoot) const
{
    const std::string root = normal(localRoot);
    std::lock_guard lock(mutex_);
    for (const std::string& given : paths) {
        if (given.empty()) continue;
        const std::string path = normal(given);
        for (const auto& [number, batch] : batches_) {
            if (batch.files.count(path) > 0) return true;
            for (const std::string& folder : batch.folders) {
                if (within(path, folder)) return true;
                // A folder that holds the copies' folder is moved or removed with them; the pool's own
                // folder only ever has files put into it.
                if (path != root && within(folder, path)) return true;
            }
        }
    }
    return false;
}

std::pair<std::size_t, std::size_t> PoolCopyLedger::progress() const
{
    std::lock_guard lock(mutex_);
    std::size_t made = 0;
    std::size_t asked = 0;
    for (const auto& [number, batch] : batches_) {
        made += batch.made;
        asked += batch.copies.size();
    }
    return {made, asked};
}
