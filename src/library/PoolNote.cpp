#include "library/PoolNote.h"

#include <utility>
#include <vector>

#include "common/Log.h"
#include "platform/files/FileManager.h"

PoolNote::PoolNote(platform::FileManager& files, std::string path) : files_(files), path_(std::move(path)) {}

void PoolNote::writeFile(const std::string& text)
{
    platform::Error error;
    files_.removeItem(path_ + kTakenSuffix);
    if (!files_.writeAtomically(path_, std::vector<std::uint8_t>(text.begin(), text.end()), &error,
                                platform::Durability::WorkingCopy))
        RIG_LOG("cannot note the pool for the next start: %s", error.description.c_str());
}

void PoolNote::write(Asker asker, const std::string& text)
{
    std::lock_guard lock(mutex_);
    ++written_;
    writeFile(text);
    if (asker > asker_) asker_ = asker;
}

bool PoolNote::writeAgain(const std::string& text)
{
    std::lock_guard lock(mutex_);
    if (asker_ == Asker::None) return false;
    ++written_;
    writeFile(text);
    return true;
}

void PoolNote::saveFailed(std::uint64_t seen, const std::string& text)
{
    std::lock_guard lock(mutex_);
    // A later note names a later pool, kept true since by every change.
    if (written_ != seen) return;
    writeFile(text);
    if (asker_ == Asker::None) asker_ = Asker::FailedSave;
}

void PoolNote::writeIfCurrent(std::uint64_t seen, const std::string& text)
{
    std::lock_guard lock(mutex_);
    if (written_ == seen) writeFile(text);
}

void PoolNote::saveLanded(std::uint64_t seen, bool quitting)
{
    std::lock_guard lock(mutex_);
    if (asker_ == Asker::None || written_ != seen || quitting || asker_ == Asker::Quit) return;
    files_.removeItem(path_);
    asker_ = Asker::None;
}

void PoolNote::drop()
{
    std::lock_guard lock(mutex_);
    files_.removeItem(path_);
    asker_ = Asker::None;
}

bool PoolNote::markTaken(const std::string& writes, std::uint64_t seen)
{
    // The note says which library the save writes, so that the next start tells a save that landed from
    // one cut before, whatever else befell the library. Written whole before the plain note goes.
    std::lock_guard lock(mutex_);
    // A later note names a pool this save does not write: a cut run keeps by it.
    if (written_ != seen) return false;
    auto bytes = files_.readFile(path_);
    if (!bytes) return false;
    const std::string line = std::string(kWritesLine) + writes + "\n";
    bytes->insert(bytes->end(), line.begin(), line.end());
    platform::Error error;
    if (!files_.writeAtomically(path_ + kTakenSuffix, *bytes, &error, platform::Durability::WorkingCopy)) {
        RIG_LOG("cannot mark the note of the closing save: %s", error.description.c_str());
        return false;
    }
    if (!files_.removeItem(path_, &error)) RIG_LOG("cannot remove the note of the closing save: %s", error.description.c_str());
    return true;
}

void PoolNote::putBack(std::uint64_t seen)
{
    std::lock_guard lock(mutex_);
    if (written_ == seen) files_.moveItem(path_ + kTakenSuffix, path_);
}

void PoolNote::takenLanded(std::uint64_t seen)
{
    std::lock_guard lock(mutex_);
    if (written_ != seen) return;
    files_.removeItem(path_ + kTakenSuffix);
    asker_ = Asker::None;
}

std::uint64_t PoolNote::written() const
{
    std::lock_guard lock(mutex_);
    return written_;
}

PoolNote::Asker PoolNote::asker() const
{
    std::lock_guard lock(mutex_);
    return asker_;
}
