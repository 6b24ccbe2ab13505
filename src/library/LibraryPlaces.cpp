#include "library/LibraryPlaces.h"

#include <filesystem>
#include <optional>

#include "library/LibraryIdentity.h"

namespace fs = std::filesystem;

std::string LibraryPlaces::resolved(const std::string& path)
{
    // Every link on the way is followed, one that leads nowhere now included: a share not mounted leaves the
    // link into it, and the place it names is still the one recorded.
    fs::path at = fs::path(path).lexically_normal();
    for (int hop = 0; hop < 40; ++hop) {
        fs::path prefix;
        bool followed = false;
        for (auto part = at.begin(); part != at.end() && !followed; ++part) {
            prefix /= *part;
            std::error_code ec;
            if (!fs::is_symlink(fs::symlink_status(prefix, ec))) continue;
            const fs::path target = fs::read_symlink(prefix, ec);
            if (ec) break;
            fs::path rest;
            for (auto after = std::next(part); after != at.end(); ++after) rest /= *after;
            at = ((target.is_absolute() ? target : prefix.parent_path() / target) / rest).lexically_normal();
            followed = true;
        }
        if (!followed) break;
    }
    if (!at.has_filename() && at.has_relative_path()) at = at.parent_path();
    return at.string();
}

std::string LibraryPlaces::mountPointOf(platform::FileManager& files, const std::string& path)
{
    fs::path at(path);
    std::optional<platform::FileStamp> stamp = files.folderStamp(at.string());
    while (!stamp && at.has_relative_path()) {
        at = at.parent_path();
        stamp = files.folderStamp(at.string());
    }
    if (!stamp) return {};
    while (at.has_relative_path()) {
        const auto above = files.folderStamp(at.parent_path().string());
        if (!above || above->device != stamp->device) break;
        at = at.parent_path();
    }
    return at.string();
}

LibraryPlaces LibraryPlaces::of(platform::FileManager& files, const std::string& library)
{
    LibraryPlaces places;
    const auto note = [&](const std::string& folder) {
        const auto names = files.contentsOfDirectory(folder);
        const std::string at = resolved(folder);
        places.m_places[at] = {names && !names->empty(), mountPointOf(files, at)};
    };
    note(library);
    for (const char* part : {"Pool", "Backup"}) {
        const std::string at = (fs::path(library) / part).string();
        if (files.itemKind(at) == platform::ItemKind::Link) note(LibraryIdentity::throughLinks(at));
    }
    return places;
}

LibraryPlaces LibraryPlaces::read(platform::FileManager& files, const std::string& file)
{
    LibraryPlaces places;
    const auto bytes = files.readFile(file);
    if (!bytes) return places;
    // Lines: "1 <folder>" for a place that held something, "0 <folder>" for one that held nothing, each
    // followed by "m <mount point>" when that was told. Any other line is passed by.
    const std::string text(bytes->begin(), bytes->end());
    Place* last = nullptr;
    for (std::size_t at = 0, end = 0; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (line.size() <= 2 || line[1] != ' ') continue;
        if (line[0] == '0' || line[0] == '1') {
            last = &places.m_places[line.substr(2)];
            *last = {line[0] == '1', {}};
        } else if (line[0] == 'm' && last != nullptr) {
            last->mountPoint = line.substr(2);
        }
    }
    return places;
}

bool LibraryPlaces::write(platform::FileManager& files, const std::string& file, platform::Error* error) const
{
    std::string text;
    for (const auto& [folder, place] : m_places) {
        // A name with a line break cannot be told apart from the next line: that place is not recorded.
        if (folder.find('\n') != std::string::npos) continue;
        text += (place.held ? "1 " : "0 ") + folder + "\n";
        if (!place.mountPoint.empty() && place.mountPoint.find('\n') == std::string::npos) text += "m " + place.mountPoint + "\n";
    }
    return files.writeAtomically(file, std::vector<std::uint8_t>(text.begin(), text.end()), error,
                                 platform::Durability::Durable);
}

bool LibraryPlaces::away(platform::FileManager& files, const std::string& folder) const
{
    const std::string at = resolved(folder);
    const auto found = m_places.find(at);
    if (found == m_places.end() || !found->second.held) return false;
    switch (files.itemKind(folder)) {
    case platform::ItemKind::Missing:
        break;
    case platform::ItemKind::Folder: {
        const auto names = files.contentsOfDirectory(folder);
        if (names && names->empty()) break;
        return false;
    }
    default:
        return false;
    }
    // Its file system mounted where it was, the place was emptied or deleted there by the user, who must be
    // able to go on: it is written anew. Not mounted there, the folder now seen is the bare mount point or
    // the file system below it, and the library is elsewhere. A record that cannot tell (edited by hand) must
    // not hold every later save back either.
    const std::string recorded = found->second.mountPoint;
    return !recorded.empty() && mountPointOf(files, at) != recorded;
}
