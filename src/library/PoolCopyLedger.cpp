#include "library/PoolCopyLedger.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Whether the path names no "." or ".." and no empty part: its normal form is itself, and thousands of
// a drop's paths need not be taken apart to see it.
bool alreadyNormal(const std::string& path)
{
    if (path.empty() || path == "." || path == ".." || path.rfind("./", 0) == 0 || path.rfind("../", 0) == 0) return false;
    if (path.find("//") != std::string::npos || path.find("/./") != std::string::npos || path.find("/../") != std::string::npos)
        return false;
    return !path.ends_with("/.") && !path.ends_with("/..");
}

std::string normal(const std::string& path)
{
    std::string text = alreadyNormal(path) ? path : fs::path(path).lexically_normal().string();
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
    batch.states.assign(copies.size(), kWaiting);
    batch.keys.reserve(copies.size());
    batch.positions.reserve(copies.size());
    batch.ofFile.reserve(copies.size());
    // A drop's copies go into one folder: its normal form is found once.
    const std::string* lastFolder = nullptr;
    std::size_t* inFolder = nullptr;
    for (std::size_t i = 0; i < copies.size(); ++i) {
        FileCopies& ofThe = batch.ofFile[normal(copies[i].first)];
        ofThe.at.push_back(i);
        ++ofThe.standing;
        if (lastFolder == nullptr || *lastFolder != copies[i].second) {
            lastFolder = &copies[i].second;
            inFolder = &batch.folders[normal(copies[i].second)];
        }
        ++*inFolder;
        batch.positions[keyOf(copies[i])].push_back(i);
        batch.keys.emplace_back(&ofThe, inFolder);
    }
    std::lock_guard lock(mutex_);
    const std::uint64_t number = next_++;
    runAsked_ += copies.size();
    batches_.emplace(number, std::move(batch));
    return number;
}

bool PoolCopyLedger::begin(std::uint64_t batch, std::size_t index)
{
    std::lock_guard lock(mutex_);
    const auto found = batches_.find(batch);
    if (found == batches_.end() || index >= found->second.states.size()) return false;
    State& state = found->second.states[index];
    if (state != kWaiting) return false;
    state = kBegun;
    return true;
}

void PoolCopyLedger::made(std::uint64_t batch, std::size_t index)
{
    {
        std::lock_guard lock(mutex_);
        const auto found = batches_.find(batch);
        if (found == batches_.end() || index >= found->second.states.size()) return;
        if (found->second.states[index] != kMade && found->second.states[index] != kLanded) ++runMade_;
        found->second.states[index] = kMade;
    }
    madeOne_.notify_all();
}

void PoolCopyLedger::stepAside(Batch& batch, std::size_t index)
{
    auto& [file, folder] = batch.keys[index];
    if (file->standing > 0) --file->standing;
    if (*folder > 0) --*folder;
}

std::vector<std::pair<std::uint64_t, std::size_t>> PoolCopyLedger::copiesOf(const std::vector<std::string>& files) const
{
    std::vector<std::pair<std::uint64_t, std::size_t>> found;
    std::lock_guard lock(mutex_);
    for (const std::string& given : files) {
        if (given.empty()) continue;
        const std::string file = normal(given);
        for (const auto& [number, batch] : batches_) {
            const auto at = batch.ofFile.find(file);
            if (at == batch.ofFile.end()) continue;
            for (const std::size_t index : at->second.at)
                if (batch.states[index] != kWithdrawn && batch.states[index] != kLanded) found.emplace_back(number, index);
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

bool PoolCopyLedger::takeOrWait(std::uint64_t batch, std::size_t index)
{
    std::unique_lock lock(mutex_);
    const auto found = batches_.find(batch);
    if (found == batches_.end() || index >= found->second.states.size()) return false;
    if (found->second.states[index] == kWaiting) {
        found->second.states[index] = kBegun;
        return true;
    }
    // The batch stays open until its landing, which runs on the thread waiting here.
    madeOne_.wait(lock, [&] { return found->second.states[index] != kBegun; });
    return false;
}

void PoolCopyLedger::landed(std::uint64_t batch, std::size_t index)
{
    std::lock_guard lock(mutex_);
    const auto found = batches_.find(batch);
    if (found == batches_.end() || index >= found->second.states.size()) return;
    if (found->second.states[index] != kLanded) stepAside(found->second, index);
    found->second.states[index] = kLanded;
}

void PoolCopyLedger::close(std::uint64_t batch)
{
    std::lock_guard lock(mutex_);
    batches_.erase(batch);
    if (batches_.empty()) runMade_ = runAsked_ = 0;
}

PoolCopyLedger::Withdrawal PoolCopyLedger::withdraw(const std::vector<Copy>& copies, bool onlyWhereKnown)
{
    Withdrawal taken;
    taken.withdrawn.reserve(copies.size());
    taken.asked.reserve(copies.size());
    std::string key;
    std::lock_guard lock(mutex_);
    // Per file and folder, how often the step names it against how many of its copies have not landed.
    std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> named;
    if (onlyWhereKnown) {
        for (const Copy& copy : copies) ++named[key.assign(copy.first).append(1, '\0').append(copy.second)].first;
        for (auto& [each, counts] : named)
            for (const auto& [number, batch] : batches_)
                if (const auto found = batch.positions.find(each); found != batch.positions.end())
                    for (const std::size_t at : found->second)
                        if (batch.states[at] != kWithdrawn && batch.states[at] != kLanded) ++counts.second;
    }
    for (std::size_t place = 0; place < copies.size(); ++place) {
        const Copy& copy = copies[place];
        // The newest asked first: an undo takes back the last addition of that file.
        key.assign(copy.first).append(1, '\0').append(copy.second);
        if (onlyWhereKnown) {
            const auto& [asked, standing] = named[key];
            if (standing > asked) continue;
        }
        bool done = false;
        for (auto batch = batches_.rbegin(); batch != batches_.rend() && !done; ++batch) {
            auto& each = batch->second;
            const auto found = each.positions.find(key);
            if (found == each.positions.end()) continue;
            for (auto at = found->second.rbegin(); at != found->second.rend(); ++at) {
                if (each.states[*at] != kWaiting) continue;
                each.states[*at] = kWithdrawn;
                stepAside(each, *at);
                if (runAsked_ > 0) --runAsked_;
                taken.withdrawn.emplace_back(batch->first, *at);
                taken.asked.push_back(place);
                done = true;
                break;
            }
        }
        if (done) continue;
        // Too late to withdraw: the newest of it still standing lands instead.
        for (auto batch = batches_.rbegin(); batch != batches_.rend() && !done; ++batch) {
            const auto found = batch->second.positions.find(key);
            if (found == batch->second.positions.end()) continue;
            for (auto at = found->second.rbegin(); at != found->second.rend(); ++at) {
                const State state = batch->second.states[*at];
                if (state != kBegun && state != kMade) continue;
                taken.underWay.emplace_back(batch->first, *at);
                done = true;
                break;
            }
        }
    }
    std::sort(taken.underWay.begin(), taken.underWay.end());
    taken.underWay.erase(std::unique(taken.underWay.begin(), taken.underWay.end()), taken.underWay.end());
    return taken;
}

std::optional<std::uint64_t> PoolCopyLedger::lastMet(const std::vector<std::string>& files,
                                                     const std::vector<std::string>& folders,
                                                     const std::string& localRoot) const
{
    const std::string root = normal(localRoot);
    std::vector<std::string> fileKeys;
    for (const std::string& given : files)
        if (!given.empty()) fileKeys.push_back(normal(given));
    std::vector<std::string> folderKeys;
    for (const std::string& given : folders)
        if (!given.empty()) folderKeys.push_back(normal(given));
    std::lock_guard lock(mutex_);
    // The newest first: the batches asked before the one met land ahead of it anyway.
    for (auto each = batches_.rbegin(); each != batches_.rend(); ++each) {
        const Batch& batch = each->second;
        for (const std::string& file : fileKeys)
            if (const auto standing = batch.ofFile.find(file); standing != batch.ofFile.end() && standing->second.standing > 0)
                return each->first;
        for (const std::string& path : folderKeys) {
            for (const auto& [folder, standing] : batch.folders) {
                if (standing == 0) continue;
                // The copies' folder itself, or one inside it; the groups' folders lie in the pool's own
                // folder, but the copies made there are files, which take names no folder holds.
                if (path == folder || (folder != root && within(path, folder))) return each->first;
                // A folder that holds the copies' folder is moved or removed with them; the pool's own
                // folder only ever has files put into it.
                if (path != root && within(folder, path)) return each->first;
            }
        }
    }
    return std::nullopt;
}

std::pair<std::size_t, std::size_t> PoolCopyLedger::progress() const
{
    std::lock_guard lock(mutex_);
    if (batches_.empty()) return {0, 0};
    return {std::min(runMade_, runAsked_), runAsked_};
}
