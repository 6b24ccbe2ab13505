#include "library/LibraryPlaces.h"

#include <filesystem>

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

LibraryPlaces LibraryPlaces::of(platform::FileManager& files, const std::string& library)
{
    LibraryPlaces places;
    const auto holds = [&](const std::string& folder) {
        const auto names = files.contentsOfDirectory(folder);
        return names && !names->empty();
    };
    places.m_held[resolved(library)] = holds(library);
    for (const char* part : {"Pool", "Backup"}) {
        const std::string at = (fs::path(library) / part).string();
        if (files.itemKind(at) != platform::ItemKind::Link) continue;
        const std::string target = LibraryIdentity::throughLinks(at);
        places.m_held[resolved(target)] = holds(target);
    }
    return places;
}

LibraryPlaces LibraryPlaces::read(platform::FileManager& files, const std::string& file)
{
    LibraryPlaces places;
    const auto bytes = files.readFile(file);
    if (!bytes) return places;
    // Lines: "1 <folder>" for a place that held something, "0 <folder>" for one that held nothing.
    const std::string text(bytes->begin(), bytes->end());
    for (std::size_t at = 0, end = 0; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (line.size() > 2 && (line[0] == '0' || line[0] == '1') && line[1] == ' ') places.m_held[line.substr(2)] = line[0] == '1';
    }
    return places;
}

bool LibraryPlaces::write(platform::FileManager& files, const std::string& file, platform::Error* error) const
{
    std::string text;
    for (const auto& [folder, held] : m_held) {
        // A name with a line break cannot be told apart from the next line: that place is not recorded.
        if (folder.find('\n') != std::string::npos) continue;
        text += (held ? "1 " : "0 ") + folder + "\n";
    }
    return files.writeAtomically(file, std::vector<std::uint8_t>(text.begin(), text.end()), error,
                                 platform::Durability::Durable);
}

bool LibraryPlaces::away(platform::FileManager& files, const std::string& folder) const
{
    const auto found = m_held.find(resolved(folder));
    if (found == m_held.end() || !found->second) return false;
    switch (files.itemKind(folder)) {
    case platform::ItemKind::Missing:
        return true;
    case platform::ItemKind::Folder: {
        const auto names = files.contentsOfDirectory(folder);
        return names && names->empty();
    }
    default:
        return false;
    }
}
