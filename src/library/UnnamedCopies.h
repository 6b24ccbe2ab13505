#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/files/FileManager.h"

// The files of a working copy (at its top and one folder deep) that no line of a cut run's closing note
// names: copies that landed after the note was written. A patch the note names by the file it was being
// copied from is found among them by its bytes, so the next start keeps that copy rather than make a
// second one. Each file is handed out once. The folder is listed at the first look only.
class UnnamedCopies {
public:
    // `named`: the paths the note names, relative to `folder`; a file longer than `limit` is no copy.
    UnnamedCopies(platform::FileManager& files, std::string folder, std::set<std::string> named, std::uint64_t limit);

    // An unnamed file holding exactly `bytes` (its path relative to the folder), no longer handed out;
    // nothing when none does.
    std::optional<std::string> take(const std::vector<std::uint8_t>& bytes);
    // Of the unnamed files not handed out yet that `rank` gives a rank (by their path relative to the
    // folder) and whose bytes `holds` accepts, the one of the lowest rank, no longer handed out; nothing
    // when none is.
    std::optional<std::string> takeWhere(const std::function<std::optional<std::uint64_t>(const std::string&)>& rank,
                                         const std::function<bool(const std::vector<std::uint8_t>&)>& holds);

private:
    void list();
    platform::FileManager& files_;
    std::string folder_;
    std::set<std::string> named_;
    std::uint64_t limit_;
    bool listed_ = false;
    // The unnamed files by the hash of their bytes; a match is read again and compared whole.
    std::unordered_map<std::size_t, std::vector<std::string>> byHash_;
};
